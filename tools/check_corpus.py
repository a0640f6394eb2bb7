#!/usr/bin/env python3
"""Compares the harmoniser's batch output with a folder of melodies that come with human answers
(<name>.gold.json beside each <name>.mid: the key, the meter, the upbeat, the chords per bar).

    varimel-cli harmonise --batch FOLDER --jsonl out.jsonl
    tools/check_corpus.py FOLDER out.jsonl

Prints the status distribution, how often the key equals the human key and the file's key
signature, whether bar count, meter and upbeat agree with the file, and how often the chosen
chord's root (and root + quality) matches the human chord on the bar's downbeat.
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


def main():
    folder, results = sys.argv[1], sys.argv[2]
    statuses = collections.Counter()
    key_gold = key_signature = files = 0
    shape_mismatch = []
    root_hits = quality_hits = chord_bars = 0
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
                human = gold_bar.get("downbeat")
                mine = chord_root_and_minor(bar["chordName"])
                if not human or not mine:
                    continue
                chord_bars += 1
                if mine[0] == human["root"]:
                    root_hits += 1
                    if mine[1] == (human["quality"].startswith("min")):
                        quality_hits += 1
    print(f"files: {files}")
    print("statuses: " + ", ".join(f"{code}: {count}" for code, count in sorted(statuses.items())))
    print(f"key equals the human key: {key_gold}/{files}")
    print(f"key equals the file's key signature: {key_signature}/{files}")
    print(f"bar count, meter or upbeat differ from the file: {len(shape_mismatch)} {shape_mismatch[:10]}")
    if chord_bars:
        print(f"chord root equals the human downbeat chord: {root_hits}/{chord_bars} "
              f"({100.0 * root_hits / chord_bars:.1f}%), root and major/minor: {quality_hits}/{chord_bars} "
              f"({100.0 * quality_hits / chord_bars:.1f}%)")


if __name__ == "__main__":
    main()
