#!/usr/bin/env python3
"""Compares the harmoniser's batch output with a folder of melodies that come with human answers
(<name>.gold.json beside each <name>.mid: the key, the meter, the upbeat, the chords per bar).

    varimel-cli harmonise --batch FOLDER --jsonl out.jsonl [--explain]
    tools/check_corpus.py FOLDER out.jsonl [other.jsonl ...]

Prints the status distribution, how often the key equals the human key and the file's key
signature, whether bar count, meter and upbeat agree with the file, how often the chosen
chord's root (and root + quality) matches the human chord on the bar's downbeat, how often the
chord changes between consecutive bars, how many different chords a tune uses (both beside the
human figures, taken from the chord that sounds longest in each bar) and, for output made with
--explain, the mean share of a bar's melody on its chord's tones. Given several result files
(say Draft I and Draft IV), it ends with the main figures side by side.
"""
import collections
import json
import os
import sys

NOTE = {"C": 0, "C#": 1, "D": 2, "D#": 3, "E": 4, "F": 5, "F#": 6, "G": 7, "G#": 8, "A": 9, "A#": 10, "B": 11}


def chord_root_and_minor(name):
    """Root pitch class and minor flag from a chord name such as "C ", "Am", "F#m7", " - "."""
    name = name.strip()
    if not name or name == "-":
        return None
    root = name[:2] if len(name) > 1 and name[1] == "#" else name[:1]
    rest = name[len(root):]
    return NOTE.get(root), rest.startswith("m") and not rest.startswith("maj")


def changes_and_distinct(sequence):
    """(bar pairs that both hold a chord, pairs whose chords differ, different chords)."""
    pairs = changed = 0
    for a, b in zip(sequence, sequence[1:]):
        if a is not None and b is not None:
            pairs += 1
            changed += a != b
    return pairs, changed, len({c for c in sequence if c is not None})


def percent(part, whole):
    return 100.0 * part / whole if whole else 0.0


def score(folder, results):
    """The figures of one results file, printed as they are found; returns the main ones."""
    statuses = collections.Counter()
    key_gold = key_signature = files = 0
    shape_mismatch = []
    root_hits = quality_hits = chord_bars = 0
    pairs = changed = distinct = tunes = 0
    human_pairs = human_changed = human_distinct = 0
    fits = []
    with open(results) as lines:
        for line in lines:
            result = json.loads(line)
            files += 1
            statuses[result["status"]] += 1
            gold_path = os.path.join(folder, result["file"].rsplit(".", 1)[0] + ".gold.json")
            if not os.path.exists(gold_path):
                continue
            gold = json.load(open(gold_path))
            if result["key"] == gold["key"]["keyIndex"]:
                key_gold += 1
            if result["key"] == result["fileKey"]:
                key_signature += 1
            upbeat = gold["upbeat"]["ticksBeforeFirstNote"]
            if upbeat < gold["ppq"] // 2:
                upbeat = 0
            if (result["barCount"] != len(gold["bars"]) or result["meter"] != gold["meter"]
                    or result["upbeat"] != upbeat):
                shape_mismatch.append(result["file"])
            for bar, gold_bar in zip(result.get("bars", []), gold["bars"]):
                if bar.get("fit") is not None:
                    fits.append(bar["fit"])
                human = gold_bar.get("downbeat")
                mine = chord_root_and_minor(bar["chordName"])
                if not human or not mine:
                    continue
                chord_bars += 1
                if mine[0] == human["root"]:
                    root_hits += 1
                    if mine[1] == (human["quality"].startswith("min")):
                        quality_hits += 1
            tunes += 1
            p, c, d = changes_and_distinct([b["chord"] if b["chord"] >= 0 else None
                                            for b in result.get("bars", [])])
            pairs, changed, distinct = pairs + p, changed + c, distinct + d
            longest = [(b["longest"]["root"], b["longest"]["quality"]) if b.get("longest") else None
                       for b in gold["bars"]]
            p, c, d = changes_and_distinct(longest)
            human_pairs, human_changed, human_distinct = (human_pairs + p, human_changed + c,
                                                          human_distinct + d)
    print(f"== {results}")
    print(f"files: {files}")
    print("statuses: " + ", ".join(f"{code}: {count}" for code, count in sorted(statuses.items())))
    print(f"key equals the human key: {key_gold}/{files}")
    print(f"key equals the file's key signature: {key_signature}/{files}")
    print(f"bar count, meter or upbeat differ from the file: {len(shape_mismatch)} {shape_mismatch[:10]}")
    if chord_bars:
        print(f"chord root equals the human downbeat chord: {root_hits}/{chord_bars} "
              f"({percent(root_hits, chord_bars):.1f}%), root and major/minor: {quality_hits}/{chord_bars} "
              f"({percent(quality_hits, chord_bars):.1f}%)")
    if tunes:
        print(f"chord changes between consecutive bars: {changed}/{pairs} ({percent(changed, pairs):.1f}%), "
              f"human {human_changed}/{human_pairs} ({percent(human_changed, human_pairs):.1f}%)")
        print(f"different chords per tune: {distinct / tunes:.2f}, human {human_distinct / tunes:.2f}")
    if fits:
        print(f"melody on the chord's tones (mean fit of {len(fits)} bars): {100.0 * sum(fits) / len(fits):.1f}%")
    return {
        "key = human key": f"{percent(key_gold, files):.1f}%",
        "root = human downbeat root": f"{percent(root_hits, chord_bars):.1f}%",
        "root and major/minor": f"{percent(quality_hits, chord_bars):.1f}%",
        "chord changes (bar pairs)": f"{percent(changed, pairs):.1f}%",
        "different chords per tune": f"{distinct / tunes:.2f}" if tunes else "-",
        "mean fit": f"{100.0 * sum(fits) / len(fits):.1f}%" if fits else "-",
    }


def main():
    if len(sys.argv) < 3:
        print(__doc__)
        return 2
    folder, results = sys.argv[1], sys.argv[2:]
    figures = [score(folder, path) for path in results]
    if len(figures) > 1:
        names = [os.path.basename(path) for path in results]
        width = max(len(n) for n in names + ["12345678"]) + 2
        print()
        print(" " * 28 + "".join(n.rjust(width) for n in names))
        for label in figures[0]:
            print(label.ljust(28) + "".join(f[label].rjust(width) for f in figures))
    return 0


if __name__ == "__main__":
    sys.exit(main())
