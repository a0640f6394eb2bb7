#!/usr/bin/env bash
# Sets up, builds and runs the main job: harmonises a bundled sample melody, prints its chord
# chart and exports it with its accompaniment (build/<name>_vmel.mid). It builds the window too
# and ends with the command that opens it on the melody.
#
#   scripts/run.sh [FILE]            the chord chart and the export of FILE (default: a sample)
#   scripts/run.sh --window [FILE]   opens the window (on FILE when given)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
WINDOW=0
if [[ "${1:-}" == "--window" ]]; then WINDOW=1; shift; fi
# The programs, their settings and the compiled style and arrangement libraries (scripts/test.sh
# builds the tests and benchmarks).
"$ROOT/scripts/setup.sh" --target varimel-cli --target varimel --target varimel-registry \
    --target varimel-library
if [[ $WINDOW -eq 1 ]]; then
    exec "$ROOT/build/app/varimel" "$@"
fi
SAMPLE="${1:-$ROOT/data/samples/twinkle.mid}"
OUT="$ROOT/build/$(basename "${SAMPLE%.*}")_vmel.mid"
"$ROOT/build/app/varimel-cli" harmonise "$SAMPLE" --export "$OUT"
echo
echo "To hear and edit it in the window:"
echo "    bash scripts/run.sh --window $(printf '%q' "$SAMPLE")"
