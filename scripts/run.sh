#!/usr/bin/env bash
# Sets up, builds and runs the main job: the command-line program on a bundled sample melody.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$ROOT/scripts/setup.sh"
SAMPLE="${1:-$ROOT/data/samples/twinkle.mid}"
exec "$ROOT/build/app/varimel-cli" info "$SAMPLE"
