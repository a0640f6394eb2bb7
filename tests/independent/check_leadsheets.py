#!/usr/bin/env python3
"""Opens the lead sheet of every sample in a notation program (MuseScore 3, Debian's musescore3)
and compares the notes it plays with the sample's; reads the chord markers of the exported MIDI
file with an independent MIDI library (mido).

    check_leadsheets.py VARIMEL_CLI SAMPLES_DIR

Exits 77 (skipped) when mido or mscore3 is not installed.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

try:
    import mido
except ImportError:
    print("mido is not installed: skipping")
    sys.exit(77)
MSCORE = shutil.which("mscore3")
if not MSCORE:
    print("mscore3 is not installed: skipping")
    sys.exit(77)


def notes(path):
    """(start, pitch, length) at 480 ticks a quarter, counted from the first note."""
    midi = mido.MidiFile(path)
    found = []
    for track in midi.tracks:
        tick, sounding = 0, {}
        for message in track:
            tick += message.time
            if message.type == "note_on" and message.velocity > 0:
                sounding[(message.channel, message.note)] = tick
            elif message.type in ("note_off", "note_on") and (message.channel, message.note) in sounding:
                start = sounding.pop((message.channel, message.note))
                scale = 480 / midi.ticks_per_beat
                found.append((round(start * scale), message.note, round((tick - start) * scale)))
    found.sort()
    first = found[0][0] if found else 0
    return [(start - first, pitch, length) for start, pitch, length in found]


def same_notes(played, written):
    """Same starts and pitches; the notation program releases a note a tick or two early."""
    return len(played) == len(written) and all(
        a[0] == b[0] and a[1] == b[1] and abs(a[2] - b[2]) <= 10 for a, b in zip(played, written))


def markers(path):
    midi = mido.MidiFile(path)
    tick, found = 0, []
    for message in midi.tracks[0]:
        tick += message.time
        if message.type == "marker":
            found.append((tick, message.text))
    return found


def main():
    cli, samples = sys.argv[1], sys.argv[2]
    checked = failed = 0
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    with tempfile.TemporaryDirectory() as folder:
        for name in sorted(os.listdir(samples)):
            if not name.endswith(".mid"):
                continue
            stem = os.path.join(folder, name[:-4])
            run = subprocess.run([cli, "harmonise", os.path.join(samples, name), "--json",
                                  "--musicxml", stem + ".musicxml", "--export", stem + "_vmel.mid"],
                                 capture_output=True, text=True)
            if run.returncode != 0:
                print(f"{name}: not harmonised")
                continue
            checked += 1
            chart = json.loads(run.stdout.splitlines()[0])
            want_markers = [bar["chordName"].strip() for bar in chart["bars"] if bar["chord"] >= 0]
            got_markers = [text for _, text in markers(stem + "_vmel.mid")]
            back = stem + "_notation.mid"
            subprocess.run([MSCORE, "-o", back, stem + ".musicxml"], capture_output=True, env=env,
                           timeout=120)
            problems = []
            if got_markers != want_markers:
                problems.append(f"markers {got_markers!r:.120} != {want_markers!r:.120}")
            if not os.path.exists(back):
                problems.append("the notation program did not open the lead sheet")
            elif not same_notes(notes(back), notes(os.path.join(samples, name))):
                problems.append("the notation program plays other notes")
            if problems:
                failed += 1
                print(f"{name}: " + "; ".join(problems))
            else:
                print(f"{name}: {len(notes(back))} notes and {len(got_markers)} chord markers agree")
    print(f"{checked - failed} passed, {failed} failed")
    return 1 if failed or checked == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
