#!/usr/bin/env python3
"""Reads every exported sample with an independent MIDI library (mido) and compares it with the
sample it came from: notes (pitch, start, length), tempo and time signatures.

    check_exports.py VARIMEL_CLI SAMPLES_DIR

Exits 77 (skipped) when mido is not installed.
"""
import os
import subprocess
import sys
import tempfile

try:
    import mido
except ImportError:
    print("mido is not installed: skipping the independent reader check")
    sys.exit(77)


def read(path):
    """Notes as sorted (start, pitch, length), tempos and meters as (tick, value) lists."""
    midi = mido.MidiFile(path)
    notes, tempos, meters = [], [], []
    for track in midi.tracks:
        tick = 0
        sounding = {}
        for message in track:
            tick += message.time
            if message.type == "note_on" and message.velocity > 0:
                sounding.setdefault((message.channel, message.note), []).append(tick)
            elif message.type in ("note_off", "note_on"):
                starts = sounding.get((message.channel, message.note))
                if starts:
                    start = starts.pop(0)
                    notes.append((start, message.note, tick - start))
            elif message.type == "set_tempo":
                tempos.append((tick, message.tempo))
            elif message.type == "time_signature":
                meters.append((tick, message.numerator, message.denominator))
    return midi.ticks_per_beat, sorted(notes), sorted(tempos), sorted(meters)


def main():
    cli, samples = sys.argv[1], sys.argv[2]
    checked = failed = 0
    with tempfile.TemporaryDirectory() as folder:
        for name in sorted(os.listdir(samples)):
            if not name.endswith(".mid"):
                continue
            source = os.path.join(samples, name)
            exported = os.path.join(folder, name)
            run = subprocess.run([cli, "export", source, "-o", exported], capture_output=True, text=True)
            if run.returncode != 0:
                print(f"{name}: not exported ({run.stderr.strip()})")
                continue
            checked += 1
            expected, actual = read(source), read(exported)
            labels = ("division", "notes", "tempos", "time signatures")
            for label, want, got in zip(labels, expected, actual):
                if want != got:
                    failed += 1
                    print(f"{name}: {label} differ: {want!r:.200} != {got!r:.200}")
                    break
            else:
                print(f"{name}: {len(actual[1])} notes agree")
    print(f"{checked - failed} passed, {failed} failed")
    return 1 if failed or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
