#!/usr/bin/env bash
# Installs the Debian packages the build needs (only when something is missing),
# then configures and builds Varimel.
#
#   scripts/setup.sh [--build-dir DIR] [--sanitize] [--deps-only] [--target T]... [-- cmake args]
#
# --target (repeatable) builds only those targets instead of everything, tests and benchmarks
# included.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="$ROOT/build"
SANITIZE=OFF
DEPS_ONLY=0
EXTRA_CMAKE_ARGS=()
TARGETS=()

while [[ $# -gt 0 ]]; do
    case "$1" in
        --build-dir) BUILD_DIR="$2"; shift 2 ;;
        --sanitize) SANITIZE=ON; shift ;;
        --deps-only) DEPS_ONLY=1; shift ;;
        --target) TARGETS+=(--target "$2"); shift 2 ;;
        --) shift; EXTRA_CMAKE_ARGS=("$@"); break ;;
        *) echo "setup.sh: unknown argument '$1'" >&2; exit 2 ;;
    esac
done

PACKAGES=(
    build-essential cmake ninja-build pkg-config
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    libcli11-dev nlohmann-json3-dev python3-mido
    libfluidsynth-dev fluid-soundfont-gm librtmidi-dev libasound2-dev
    qt6-base-dev libgl-dev xvfb xauth poppler-utils desktop-file-utils fonts-dejavu-core
    abcmidi libpugixml-dev libzip-dev zlib1g-dev
)

missing=()
for pkg in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$pkg")
    fi
done

if [[ ${#missing[@]} -gt 0 ]]; then
    SUDO=""
    if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
    echo "setup.sh: installing ${missing[*]}"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if [[ $DEPS_ONLY -eq 1 ]]; then exit 0; fi

cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja \
    -DVARIMEL_WERROR=ON -DVARIMEL_SANITIZE="$SANITIZE" \
    "${EXTRA_CMAKE_ARGS[@]}" >/dev/null
cmake --build "$BUILD_DIR" --parallel "$(nproc)" "${TARGETS[@]}"
