#!/usr/bin/env bash
# Sets up, builds and runs every test suite.
#   scripts/test.sh              normal build in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
if [[ "${1:-}" == "--sanitize" ]]; then
    BUILD_DIR="$ROOT/build-asan"
    "$ROOT/scripts/setup.sh" --build-dir "$BUILD_DIR" --sanitize -- -DCMAKE_BUILD_TYPE=Debug -DVARIMEL_BUILD_BENCH=OFF
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
else
    BUILD_DIR="$ROOT/build"
    "$ROOT/scripts/setup.sh" --build-dir "$BUILD_DIR"
fi
cd "$BUILD_DIR"
ctest --output-on-failure --parallel "$(nproc)"
