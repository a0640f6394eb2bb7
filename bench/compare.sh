#!/usr/bin/env bash
# The batch and engine measures side by side, each with its ratio: a batch writing files, its
# peak memory at three sizes, load + melody check + analysis against the JavaScript MIDI parser
# midi-file (both from memory, and both reading the files), load + Draft I, Draft II against
# Draft I, Draft I on a melody of the 10,000-bar limit, and --jobs 2 against --jobs 1.
#
#   bench/compare.sh [FOLDER] [BUILD_DIR] [BEFORE_BUILD_DIR]
#
# FOLDER (default data/samples) is copied 10, 50 and 100 times into a temporary folder for the
# batch rows. BEFORE_BUILD_DIR, when given, is a second build (its app/varimel-cli and
# bench/load_bench) measured in a column of its own; its 100-fold batch is left out when it
# takes more than two minutes. Needs node and npm (midi-file is installed into a temporary
# folder), python3, GNU time, and the targets varimel-cli and load_bench.
# Times are CPU seconds (user + system) unless said "wall": a busy machine hurts both sides
# alike. The engine measures and the other parser take the best of three runs each, since a
# virtual machine's neighbours slow single runs by up to a fifth. Compare figures from one run,
# and start it some minutes after tens of thousands of files were deleted on the same disk (a
# previous run's folder among them): ext4 creates files slowly for a while after.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
FOLDER="$(cd "${1:-$ROOT/data/samples}" && pwd)"
BUILD="$(cd "${2:-$ROOT/build}" && pwd)"
BEFORE="${3:-}"
[ -n "$BEFORE" ] && BEFORE="$(cd "$BEFORE" && pwd)"
export VARIMEL_REGISTRY="${VARIMEL_REGISTRY:-$BUILD/etc/varimel/registry.reg}"

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
# One core for both sides: the last, which the system's interrupts leave quieter than core 0.
ONE_CORE=()
if command -v taskset >/dev/null; then ONE_CORE=(taskset -c "$(($(nproc) - 1))"); fi

# ---- inputs: the folder's MIDI files copied n times; a melody of 9,999 bars ----
copies() {
    local times="$1" target="$WORK/x$1"
    mkdir -p "$target"
    for ((i = 0; i < times; i++)); do
        for file in "$FOLDER"/*.mid "$FOLDER"/*.MID; do
            [ -e "$file" ] && cp "$file" "$target/c${i}_$(basename "$file")"
        done
    done
    echo "$target"
}
X10="$(copies 10)"
X50="$(copies 50)"
X100="$(copies 100)"
COUNT10="$(ls "$X10" | wc -l)"
COUNT50="$(ls "$X50" | wc -l)"
COUNT100="$(ls "$X100" | wc -l)"
mkdir -p "$WORK/long"
python3 - "$WORK/long/long.mid" <<'EOF'
import struct, sys
def vlq(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.insert(0, (n & 0x7F) | 0x80)
        n >>= 7
    return bytes(out)
tune = [60, 62, 64, 65, 67, 65, 64, 62, 64, 65, 67, 69, 67, 65, 64, 60,
        62, 64, 65, 67, 69, 71, 72, 67, 65, 64, 62, 59, 60, 64, 67, 60]
track = bytearray(vlq(0) + b'\xff\x58\x04\x04\x02\x18\x08')
for bar in range(9999):
    for beat in range(4):
        key = tune[(bar * 4 + beat) % len(tune)] + (5 if (bar // 16) % 4 == 2 else 0)
        track += vlq(0) + bytes([0x90, key, 80]) + vlq(480) + bytes([0x80, key, 0])
track += vlq(0) + b'\xff\x2f\x00'
with open(sys.argv[1], 'wb') as out:
    out.write(b'MThd' + struct.pack('>IHHH', 6, 0, 1, 480) + b'MTrk' +
              struct.pack('>I', len(track)) + track)
EOF

# ---- measuring ----
# "cpu wall peak-KiB" of one command
usage() {
    local report="$WORK/time.txt"
    /usr/bin/time -f "%U %S %e %M" -o "$report" "$@" >/dev/null 2>&1 || true
    # The last line: GNU time puts "Command exited with non-zero status" before it.
    tail -n 1 "$report" | awk '{ printf "%.2f %.2f %d\n", $1 + $2, $3, $4 }'
}
# Each batch writes into a folder of its own, removed only at the end: ext4 creates files slowly
# for a while after tens of thousands were deleted, which would charge one batch for the last.
batch() {  # CLI FOLDER JOBS [flags...]: "cpu wall peak"; with OUTPUTS set, files go to --out-dir
    local cli="$1" folder="$2" jobs="$3" out
    shift 3
    out="$(mktemp -d "$WORK/out.XXXXXX")"
    usage "$cli" harmonise --batch "$folder" --jobs "$jobs" --jsonl "$out/results.jsonl" "$@" \
        ${OUTPUTS:+--out-dir "$out"}
}
bench() {  # BUILD FOLDER FILTER: the benchmark's JSON, three runs of each
    "${ONE_CORE[@]}" "$1/bench/load_bench" "$2" "--benchmark_filter=$3" --benchmark_min_time=1 \
        --benchmark_repetitions=3 --benchmark_format=json 2>/dev/null
}
counter() {  # JSON NAME COUNTER: the best of the runs (the most files/s, the least CPU time)
    python3 -c 'import json, sys
text = sys.stdin.read()
name, counter = sys.argv[1], sys.argv[2]
values = [b[counter] if counter in b else b["cpu_time"]
          for b in json.loads(text[text.index("{"):])["benchmarks"]
          if b["name"].startswith(name + "/") and b.get("run_type", "iteration") == "iteration"]
if not values:
    print("nan")  # an older build without this benchmark
else:
    print(max(values) if counter in ("files/s", "notes/s") else min(values))' "$2" "$3" <<<"$1"
}
least() {  # A B: the smaller number, "-" counting as none
    python3 -c "import sys
values = [float(x) for x in sys.argv[1:] if x != '-']
print('%.2f' % min(values) if values else '-')" "$1" "$2"
}
# "-" (not measured) and "nan" (no such benchmark) print as "-".
ratio() {
    python3 -c "import sys, math
a, b = (float('nan') if x == '-' else float(x) for x in sys.argv[1:3])
print('-' if math.isnan(a) or math.isnan(b) or not b else '%.2f' % (a / b))" "$1" "$2"
}
per() {
    python3 -c "import sys, math
v = float('nan') if sys.argv[1] == '-' else float(sys.argv[1])
print('-' if math.isnan(v) else '%.0f' % v)" "$1"
}

(cd "$WORK" && npm install --silent --no-audit --no-fund midi-file >/dev/null)
cat >"$WORK/parse.js" <<'EOF'
// Parses every .mid of the folder for two CPU seconds: "memory" reads the files once before,
// "reading" reads each file again on every pass, as the other side's loader does.
const fs = require('fs');
const path = require('path');
const { parseMidi } = require('midi-file');
const [folder, mode] = process.argv.slice(2);
const names = fs.readdirSync(folder).filter((name) => /\.midi?$/i.test(name))
    .map((name) => path.join(folder, name));
const contents = mode === 'memory' ? names.map((name) => fs.readFileSync(name)) : null;
const cpuSeconds = (since) => {
    const used = process.cpuUsage(since);
    return (used.user + used.system) / 1e6;
};
let parsed = 0;
const start = process.cpuUsage();
let seconds = 0;
do {
    for (let i = 0; i < names.length; i++) {
        const bytes = contents ? contents[i] : fs.readFileSync(names[i]);
        try { parseMidi(bytes); } catch (e) { /* a broken file counts as read */ }
        parsed++;
    }
    seconds = cpuSeconds(start);
} while (seconds < 2);
console.log((parsed / seconds).toFixed(0));
EOF

# ---- one column per build ----
declare -A R
# The engine measures of every build come first, then the batches: the disk's writing behind a
# batch (hundreds of megabytes) would slow a benchmark that ran after it.
measureEngine() {  # SIDE BUILD
    local side="$1" build="$2" json
    json="$(bench "$build" "$FOLDER" 'LoadCheckAnalyse/|LoadCheckAnalyseFromMemory/|LoadHarmonise/|LoadDraftII/')"
    R[$side.reading]="$(counter "$json" LoadCheckAnalyse files/s)"
    R[$side.memory]="$(counter "$json" LoadCheckAnalyseFromMemory files/s)"
    R[$side.draft1]="$(counter "$json" LoadHarmonise files/s)"
    R[$side.draft2]="$(counter "$json" LoadDraftII files/s)"
    json="$(bench "$build" "$WORK/long" 'LoadHarmonise/')"
    R[$side.long]="$(counter "$json" LoadHarmonise cpu_time)"  # milliseconds
}
measureBatches() {  # SIDE BUILD
    local side="$1" cli="$2/app/varimel-cli"
    read -r R[$side.batchDraft1] _ _ <<<"$(batch "$cli" "$X10" 1 --draft I)"
    read -r R[$side.batchDraft2] _ _ <<<"$(batch "$cli" "$X10" 1 --draft II)"
    for n in 10 50 100; do
        local folder="$WORK/x$n"
        read -r _ _ peak <<<"$(batch "$cli" "$folder" 1)"
        R[$side.peak$n]="$(python3 -c "print('%.1f' % ($peak / 1024))")"
    done
    # Taken in turns, the best of three each: a batch this short feels every pause of the machine.
    local wall1 wall2 best1=- best2=-
    for _ in 1 2 3; do
        read -r _ wall1 _ <<<"$(batch "$cli" "$X50" 1)"
        read -r _ wall2 _ <<<"$(batch "$cli" "$X50" 2)"
        best1="$(least "$best1" "$wall1")"
        best2="$(least "$best2" "$wall2")"
    done
    R[$side.jobs1]="$best1"
    R[$side.jobs2]="$best2"
    # The batches that write files last of all.
    read -r R[$side.batch10] R[$side.batch10wall] _ <<<"$(OUTPUTS=1 batch "$cli" "$X10" 1 --export -o)"
    # A quadratic batch of the largest size would take hours.
    if [ "$side" = after ] || awk -v cpu="${R[$side.batch10wall]}" -v k="$((COUNT100 / COUNT10))" \
        'BEGIN { exit !(cpu * k * k <= 120) }'; then
        read -r R[$side.batch100] R[$side.batch100wall] _ <<<"$(OUTPUTS=1 batch "$cli" "$X100" 1 --export -o)"
    else
        R[$side.batch100]=- R[$side.batch100wall]=-
    fi
}
theirs() {  # MODE: the best of three runs, as for our side
    for _ in 1 2 3; do "${ONE_CORE[@]}" node "$WORK/parse.js" "$FOLDER" "$1"; done | sort -n | tail -n 1
}
theirsMemory="$(theirs memory)"
theirsReading="$(theirs reading)"
measureEngine after "$BUILD"
[ -n "$BEFORE" ] && measureEngine before "$BEFORE"
measureBatches after "$BUILD"
[ -n "$BEFORE" ] && measureBatches before "$BEFORE"

# ---- the table ----
row() {  # MEASURE AFTER BEFORE GOAL
    printf '%-58s %14s %14s  %s\n' "$1" "$2" "$3" "$4"
}
side() { if [ -n "$BEFORE" ]; then echo "${R[before.$1]:--}"; else echo -; fi; }
echo "folder: $FOLDER; batches of $COUNT10, $COUNT50 and $COUNT100 copies; CPU seconds unless wall"
row "measure" "this build" "before" "goal / ratio"
row "batch --export -o --out-dir, $COUNT10 files (CPU s, wall s)" \
    "${R[after.batch10]}, ${R[after.batch10wall]}" \
    "$(side batch10), $(side batch10wall)" "< 1 s per ~1,000 files"
row "batch --export -o --out-dir, $COUNT100 files (CPU s, wall s)" \
    "${R[after.batch100]}, ${R[after.batch100wall]}" \
    "$(side batch100), $(side batch100wall)" "< 10 s"
row "batch peak memory, $COUNT10 / $COUNT50 / $COUNT100 files (MiB)" \
    "${R[after.peak10]}/${R[after.peak50]}/${R[after.peak100]}" \
    "$(side peak10)/$(side peak50)/$(side peak100)" "< 40 MiB at any count"
row "load+check+analysis, from memory (files/CPU s)" "$(per "${R[after.memory]}")" \
    "$(per "$(side memory)")" \
    "midi-file $theirsMemory: ratio $(ratio "${R[after.memory]}" "$theirsMemory") (goal >= 1.0)"
row "load+check+analysis, reading each file (files/CPU s)" "$(per "${R[after.reading]}")" \
    "$(per "$(side reading)")" \
    "midi-file $theirsReading: ratio $(ratio "${R[after.reading]}" "$theirsReading") (goal >= 1.0)"
row "load + Draft I, one core (files/CPU s)" "$(per "${R[after.draft1]}")" \
    "$(per "$(side draft1)")" ">= 15,000"
row "load + Draft II time / load + Draft I time (engine)" \
    "$(ratio "${R[after.draft1]}" "${R[after.draft2]}")" \
    "$(ratio "$(side draft1)" "$(side draft2)")" "<= 1.2"
row "batch --draft II / --draft I, $COUNT10 files (CPU)" \
    "$(ratio "${R[after.batchDraft2]}" "${R[after.batchDraft1]}")" \
    "$(ratio "$(side batchDraft2)" "$(side batchDraft1)")" "<= 1.2"
row "load + Draft I, 9,999 bars (CPU ms)" "$(per "${R[after.long]}")" \
    "$(per "$(side long)")" "< 50 ms"
row "--jobs 2 speed-up over --jobs 1, $COUNT50 files (wall)" \
    "$(ratio "${R[after.jobs1]}" "${R[after.jobs2]}")" \
    "$(ratio "$(side jobs1)" "$(side jobs2)")" \
    ">= 1.8 on two idle cores"
if [ -n "$BEFORE" ]; then
    row "ratio load + Draft I, this build / before" \
        "$(ratio "${R[after.draft1]}" "$(side draft1)")" "" ""
fi
