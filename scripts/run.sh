#!/usr/bin/env bash
# Sets up, builds and runs the main job: harmonises a bundled sample melody and prints its
# chord chart.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$ROOT/scripts/setup.sh"
SAMPLE="${1:-$ROOT/data/samples/twinkle.mid}"
exec "$ROOT/build/app/varimel-cli" harmonise "$SAMPLE"
