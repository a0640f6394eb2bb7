#!/usr/bin/env bash
# Mutation check: applies each one-line change listed in tests/mutants.txt to a scratch copy of
# the sources, one at a time, rebuilds incrementally, runs the test suite and reports the changes
# no test noticed (the survivors). The working tree is never touched.
#
#   scripts/mutants.sh [--list FILE] [--scratch DIR] [--jobs N] [--tests REGEX] [--only TEXT]
#
#   --list     the mutant list (default tests/mutants.txt; its header explains the format)
#   --scratch  where the copy and its build live (default ${TMPDIR:-/tmp}/varimel-mutants)
#   --jobs     parallel build and test jobs (default: the number of processors)
#   --tests    run only the tests whose names match this ctest regex (default: the whole suite)
#   --only     try only the list lines containing this text (e.g. a file name)
#
# Exit status: 0 when every mutant was killed, 1 when some survived or no longer apply (the list
# is stale), 2 when the suite fails even without a change.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
LIST="$ROOT/tests/mutants.txt"
SCRATCH="${TMPDIR:-/tmp}/varimel-mutants"
JOBS="$(nproc)"
TESTS=""
ONLY=""
while [[ $# -gt 0 ]]; do
    case "$1" in
        --list) LIST="$2"; shift 2 ;;
        --scratch) SCRATCH="$2"; shift 2 ;;
        --jobs) JOBS="$2"; shift 2 ;;
        --tests) TESTS="$2"; shift 2 ;;
        --only) ONLY="$2"; shift 2 ;;
        -h|--help) sed -n '2,16p' "${BASH_SOURCE[0]}"; exit 0 ;;
        *) echo "unknown option: $1" >&2; exit 2 ;;
    esac
done
LIST="$(cd "$(dirname "$LIST")" && pwd)/$(basename "$LIST")"

SRC="$SCRATCH/src"
BUILD="$SCRATCH/build"
mkdir -p "$SRC"
# The copy follows the working tree's files (tracked and new ones, ignored ones left out). Only
# files whose content differs are copied, with a fresh time stamp, so that a run broken off in
# the middle of a mutant is still rebuilt from the original.
(cd "$ROOT" && git ls-files -z --cached --others --exclude-standard) |
    while IFS= read -r -d '' path; do
        [[ -f "$ROOT/$path" ]] || continue
        if ! cmp -s "$ROOT/$path" "$SRC/$path"; then
            mkdir -p "$SRC/$(dirname "$path")"
            cp "$ROOT/$path" "$SRC/$path"
        fi
    done

LAUNCHER=()
if command -v ccache >/dev/null; then LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S "$SRC" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARIMEL_BUILD_BENCH=OFF \
    "${LAUNCHER[@]}" >"$SCRATCH/configure.log" 2>&1 ||
    { echo "configure failed; see $SCRATCH/configure.log" >&2; exit 2; }

build() { cmake --build "$BUILD" --parallel "$JOBS" >"$SCRATCH/build.log" 2>&1; }
suite() {
    local filter=()
    [[ -n "$TESTS" ]] && filter=(-R "$TESTS")
    (cd "$BUILD" && ctest --parallel "$JOBS" --stop-on-failure --timeout 300 "${filter[@]}" \
        >"$SCRATCH/test.log" 2>&1)
}

echo "building the unchanged copy in $BUILD ..."
build || { echo "the unchanged copy does not build; see $SCRATCH/build.log" >&2; exit 2; }
suite || { echo "the suite fails without any change; see $SCRATCH/test.log" >&2; exit 2; }

# Applies one change to the copy: prints nothing and succeeds, or says why it cannot.
apply() {
    python3 - "$@" <<'EOF'
import sys
path, line, old, new = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
with open(path, encoding="utf-8") as f:
    lines = f.readlines()
if not 1 <= line <= len(lines) or old not in lines[line - 1]:
    print(f"line {line} no longer holds the text")
    sys.exit(1)
lines[line - 1] = lines[line - 1].replace(old, new, 1)
with open(path, "w", encoding="utf-8") as f:
    f.writelines(lines)
EOF
}

# The list is read from a copy, so that editing it during a run does no harm.
cp "$LIST" "$SCRATCH/mutants.txt"
total=0 killed=0 survived=0 stale=0 unbuilt=0
survivors=() stales=()
while IFS= read -r entry || [[ -n "$entry" ]]; do
    [[ -z "${entry// }" || "$entry" == \#* ]] && continue
    [[ -n "$ONLY" && "$entry" != *"$ONLY"* ]] && continue
    # file:line: old => new
    location="${entry%%: *}"
    change="${entry#*: }"
    file="${location%:*}"
    line="${location##*:}"
    old="${change%% => *}"
    new="${change#* => }"
    [[ "$new" == "(nothing)" ]] && new=""
    total=$((total + 1))
    if ! why="$(apply "$SRC/$file" "$line" "$old" "$new")"; then
        stale=$((stale + 1))
        stales+=("$entry ($why)")
        printf 'STALE     %s\n' "$entry"
        continue
    fi
    if ! build; then
        unbuilt=$((unbuilt + 1))
        printf 'NO BUILD  %s\n' "$entry"
    elif suite; then
        survived=$((survived + 1))
        survivors+=("$entry")
        printf 'SURVIVED  %s\n' "$entry"
    else
        killed=$((killed + 1))
        caught="$(sed -nE 's/^[[:space:]]*[0-9]+ - (.*) \([A-Za-z ]+\)$/\1/p' "$SCRATCH/test.log" |
            head -n 1)"
        printf 'killed    %s   [%s]\n' "$entry" "${caught:-?}"
    fi
    # Restore with a fresh time stamp, so that the next build compiles the original again.
    cp "$ROOT/$file" "$SRC/$file"
done <"$SCRATCH/mutants.txt"

build || true
tried=$((killed + survived))
echo
echo "mutants: $total listed, $killed killed, $survived survived, $stale stale, $unbuilt did not build"
if [[ $tried -gt 0 ]]; then
    echo "kill rate: $((100 * killed / tried))% ($killed of $tried that built and ran)"
fi
for s in "${survivors[@]}"; do echo "survivor: $s"; done
for s in "${stales[@]}"; do echo "stale:    $s"; done
[[ $survived -eq 0 && $stale -eq 0 ]]
