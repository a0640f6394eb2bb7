#!/usr/bin/env bash
# Sets up, builds and runs the main job: harmonises a bundled sample melody, prints its chord
# chart and exports it with its accompaniment (build/<name>_vmel.mid).
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$ROOT/scripts/setup.sh"
SAMPLE="${1:-$ROOT/data/samples/twinkle.mid}"
OUT="$ROOT/build/$(basename "${SAMPLE%.*}")_vmel.mid"
exec "$ROOT/build/app/varimel-cli" harmonise "$SAMPLE" --export "$OUT"
