#!/usr/bin/env bash
# Sets up, builds and runs the main job: harmonises a bundled sample melody, prints its chord
# chart and exports it with its accompaniment (build/<name>_vmel.mid).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# Only what the main job needs: the program, its settings and the compiled style and arrangement
# libraries (scripts/test.sh builds the tests and benchmarks).
"$ROOT/scripts/setup.sh" --target varimel-cli --target varimel-registry --target varimel-library
SAMPLE="${1:-$ROOT/data/samples/twinkle.mid}"
OUT="$ROOT/build/$(basename "${SAMPLE%.*}")_vmel.mid"
exec "$ROOT/build/app/varimel-cli" harmonise "$SAMPLE" --export "$OUT"
