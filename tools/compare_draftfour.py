#!/usr/bin/env python3
"""Compares two sets of Draft IV results, line by line by file name (the shape that
varimel-draftfour writes): key agreement, chord agreement over all bars, candidate agreement,
and every difference.

    build/tools/draftfour/varimel-draftfour INPUT.jsonl ours.jsonl
    tools/compare_draftfour.py ours.jsonl other.jsonl
"""
import json
import sys


def load(path):
    with open(path, encoding="utf-8") as fh:
        return {r["file"]: r for r in (json.loads(line) for line in fh if line.strip())}


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    ours, theirs = load(sys.argv[1]), load(sys.argv[2])
    files = sorted(set(ours) & set(theirs))
    missing = sorted(set(ours) ^ set(theirs))
    keys = bars = chords = candidates = 0
    differences = []
    for name in files:
        a, b = ours[name], theirs[name]
        if a["key"] == b["key"]:
            keys += 1
        else:
            differences.append(f"{name}: key {a['key']} vs {b['key']}")
        if len(a["bars"]) != len(b["bars"]):
            differences.append(f"{name}: {len(a['bars'])} bars vs {len(b['bars'])}")
        for x, y in zip(a["bars"], b["bars"]):
            bars += 1
            if x["chord"] == y["chord"]:
                chords += 1
            else:
                differences.append(f"{name} bar {x['bar']}: {x['chordName']} ({x['chord']}) vs "
                                   f"{y['chordName']} ({y['chord']})")
            if x["candidates"] == y["candidates"]:
                candidates += 1
            elif x["chord"] == y["chord"]:
                differences.append(f"{name} bar {x['bar']}: candidates {x['candidates']} vs "
                                   f"{y['candidates']}")
    print(f"melodies compared: {len(files)}" + (f", only on one side: {missing}" if missing else ""))
    print(f"same key: {keys}/{len(files)}")
    if bars:
        print(f"same chord: {chords}/{bars} bars ({100.0 * chords / bars:.2f}%)")
        print(f"same candidates: {candidates}/{bars} bars ({100.0 * candidates / bars:.2f}%)")
    print(f"differences: {len(differences)}")
    for line in differences:
        print("  " + line)
    return 0 if not differences and not missing else 1


if __name__ == "__main__":
    sys.exit(main())
