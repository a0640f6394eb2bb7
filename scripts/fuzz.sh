#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each of them for a while.
#
#   scripts/fuzz.sh SECONDS [--build-dir DIR] [--jobs N] [TARGET...]
#
# Installs clang and its fuzzer runtime when missing. Seeds come from the sample melodies, project
# files made from them, the compiled style and arrangement library and a registry file written by
# varimel-regsetup; every input under tests/data/regressions/<target>/ is replayed first. Corpora
# grow in DIR/fuzz-corpus/<target>, crashing inputs land in DIR/fuzz-artifacts/<target>/, logs in
# DIR/fuzz-logs/. Exits non-zero when a target found a crash, leak, timeout or over-allocation.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="$ROOT/build-fuzz"
JOBS="$(nproc)"
SECONDS_EACH=""
TARGETS=()
ALL_TARGETS=(fuzz_midi_file fuzz_midi_reader fuzz_project_file fuzz_registry_file fuzz_style_list
             fuzz_style_file fuzz_arrangement_list fuzz_arrangement_file fuzz_musicxml_file)

while [[ $# -gt 0 ]]; do
    case "$1" in
        --build-dir) BUILD_DIR="$2"; shift 2 ;;
        --jobs) JOBS="$2"; shift 2 ;;
        -h|--help) sed -n 2,10p "${BASH_SOURCE[0]}"; exit 0 ;;
        *)
            if [[ -z "$SECONDS_EACH" ]]; then SECONDS_EACH="$1"; else TARGETS+=("$1"); fi
            shift ;;
    esac
done
if ! [[ "$SECONDS_EACH" =~ ^[0-9]+$ ]]; then
    echo "usage: scripts/fuzz.sh SECONDS [--build-dir DIR] [--jobs N] [TARGET...]" >&2
    exit 2
fi
[[ ${#TARGETS[@]} -gt 0 ]] || TARGETS=("${ALL_TARGETS[@]}")

missing=()
command -v clang++ >/dev/null || missing+=(clang)
dpkg-query -W -f='${Status}' libclang-rt-14-dev 2>/dev/null | grep -q "install ok installed" ||
    missing+=(libclang-rt-14-dev)
if [[ ${#missing[@]} -gt 0 ]]; then
    SUDO=""
    if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
    echo "fuzz.sh: installing ${missing[*]}"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" >/dev/null
fi
# The build needs the same libraries as every other build.
"$ROOT/scripts/setup.sh" --deps-only

# -O1 keeps the runs fast and assertions on.
CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja \
    -DVARIMEL_FUZZ=ON -DVARIMEL_WERROR=ON -DVARIMEL_BUILD_TESTS=OFF -DVARIMEL_BUILD_BENCH=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" >/dev/null
cmake --build "$BUILD_DIR" --parallel "$(nproc)" \
    --target "${TARGETS[@]}" fuzz_seed_projects varimel-library varimel-regsetup

# Seeds, made anew on every run from what the build produced.
SEEDS="$BUILD_DIR/fuzz-seeds"
rm -rf "$SEEDS"
mkdir -p "$SEEDS"/{fuzz_midi_file,fuzz_midi_reader,fuzz_project_file,fuzz_registry_file}
mkdir -p "$SEEDS/fuzz_style_list"
mkdir -p "$SEEDS"/{fuzz_style_file,fuzz_arrangement_list,fuzz_arrangement_file}
mkdir -p "$SEEDS/fuzz_musicxml_file"
cp "$ROOT"/tests/data/leadsheet/*.mxl "$ROOT"/tests/data/leadsheet/*.musicxml "$SEEDS/fuzz_musicxml_file/"
cp "$ROOT"/data/samples/*.mid "$SEEDS/fuzz_midi_file/"
cp "$ROOT"/data/samples/*.mid "$SEEDS/fuzz_midi_reader/"
"$BUILD_DIR/fuzz/fuzz_seed_projects" "$ROOT/data/samples" "$SEEDS/fuzz_project_file" >/dev/null
"$BUILD_DIR/tools/regsetup/varimel-regsetup" --install-path "$ROOT/data" \
    --output "$SEEDS/fuzz_registry_file/registry.reg"
cp "$BUILD_DIR/data/styles/styles.lst" "$SEEDS/fuzz_style_list/"
cp "$BUILD_DIR"/data/styles/*.stt "$SEEDS/fuzz_style_file/"
cp "$BUILD_DIR/data/arrangements/arangs.lst" "$SEEDS/fuzz_arrangement_list/"
cp "$BUILD_DIR"/data/arrangements/*.art "$SEEDS/fuzz_arrangement_file/"
export VARIMEL_FUZZ_LIBRARY="$BUILD_DIR/data"

LOGS="$BUILD_DIR/fuzz-logs"
mkdir -p "$LOGS"
# A smaller quarantine keeps ASan's own memory well below the 512 MB each target is held to.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:symbolize=1:quarantine_size_mb=64"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

run_target() {
    local target="$1" short="${1#fuzz_}"
    local corpus="$BUILD_DIR/fuzz-corpus/$target" artifacts="$BUILD_DIR/fuzz-artifacts/$target"
    local regressions="$ROOT/tests/data/regressions/$short"
    mkdir -p "$corpus" "$artifacts"
    local dirs=("$corpus" "$SEEDS/$target")
    [[ -d "$regressions" ]] && dirs+=("$regressions")
    local dict=()
    [[ -f "$ROOT/fuzz/dict/$short.dict" ]] && dict=(-dict="$ROOT/fuzz/dict/$short.dict")
    "$BUILD_DIR/fuzz/$target" "${dirs[@]}" "${dict[@]}" \
        -max_total_time="$SECONDS_EACH" -rss_limit_mb=512 -timeout=10 -max_len=65536 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" >"$LOGS/$target.log" 2>&1
}

declare -A pids=()
failed=()
for target in "${TARGETS[@]}"; do
    while [[ $(jobs -rp | wc -l) -ge $JOBS ]]; do wait -n || true; done
    echo "fuzz.sh: $target for ${SECONDS_EACH}s"
    run_target "$target" &
    pids[$target]=$!
done
for target in "${TARGETS[@]}"; do
    if ! wait "${pids[$target]}"; then failed+=("$target"); fi
done

# One line per target: executions and coverage from libFuzzer's final statistics.
printf '%-24s %12s %8s %8s  %s\n' target executions cov ft result
for target in "${TARGETS[@]}"; do
    log="$LOGS/$target.log"
    execs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || true)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || true)
    ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*$' || true)
    result=ok
    [[ " ${failed[*]} " == *" $target "* ]] && result="FAILED, see $log"
    printf '%-24s %12s %8s %8s  %s\n' "$target" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$result"
done
[[ ${#failed[@]} -eq 0 ]]
