#!/usr/bin/env bash
# Takes a picture of the main window under a virtual X server (the xcb platform, as on a desktop).
#
#   scripts/screenshot.sh [--build-dir DIR] OUTPUT.png [file to open]
#
# Uses the build tree's registry (<build>/etc/varimel/registry.reg) unless VARIMEL_REGISTRY is set.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="$ROOT/build"
if [[ "${1:-}" == "--build-dir" ]]; then BUILD_DIR="$2"; shift 2; fi
if [[ $# -lt 1 ]]; then
    echo "usage: scripts/screenshot.sh [--build-dir DIR] OUTPUT.png [file]" >&2
    exit 2
fi
OUTPUT="$(realpath -m "$1")"
shift

PROGRAM="$BUILD_DIR/app/varimel"
if [[ ! -x "$PROGRAM" ]]; then
    echo "screenshot.sh: $PROGRAM is missing; build the 'varimel' target first" >&2
    exit 1
fi

export QT_QPA_PLATFORM=xcb
export VARIMEL_OUTPUT="${VARIMEL_OUTPUT:-recording}"
exec xvfb-run --auto-servernum --server-args="-screen 0 1280x800x24" \
    "$PROGRAM" --screenshot "$OUTPUT" "$@"
