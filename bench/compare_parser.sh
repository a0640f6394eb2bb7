#!/usr/bin/env bash
# Our load + melody check + analysis against a plain JavaScript MIDI parser (the npm package
# midi-file, installed into a temporary folder) on the same folder of MIDI files, one core each,
# side by side with the ratio.
#
#   bench/compare_parser.sh [FOLDER] [BUILD_DIR]      (defaults: data/samples, build)
#
# Needs node and npm, and build/bench/load_bench (cmake --build build --target load_bench).
# Figures depend on the machine and on what else runs on it: compare them from one run.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
FOLDER="$(cd "${1:-$ROOT/data/samples}" && pwd)"
BUILD="${2:-$ROOT/build}"

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
(cd "$WORK" && npm install --silent --no-audit --no-fund midi-file >/dev/null)

cat >"$WORK/parse.js" <<'EOF'
// Reads every .mid of the folder once, then parses them all repeatedly for two CPU seconds.
const fs = require('fs');
const path = require('path');
const { parseMidi } = require('midi-file');
const folder = process.argv[2];
const files = fs.readdirSync(folder).filter((name) => /\.midi?$/i.test(name))
    .map((name) => fs.readFileSync(path.join(folder, name)));
// CPU time, as the other side reports it, so that a busy machine hurts both alike.
const cpuSeconds = (since) => {
    const used = process.cpuUsage(since);
    return (used.user + used.system) / 1e6;
};
let parsed = 0;
const start = process.cpuUsage();
let seconds = 0;
do {
    for (const bytes of files) {
        try { parseMidi(bytes); } catch (e) { /* a broken file counts as read */ }
        parsed++;
    }
    seconds = cpuSeconds(start);
} while (seconds < 2);
console.log((parsed / seconds).toFixed(0));
EOF

# Both on the same single core when taskset is there.
ONE_CORE=()
if command -v taskset >/dev/null; then ONE_CORE=(taskset -c 0); fi
theirs="$("${ONE_CORE[@]}" node "$WORK/parse.js" "$FOLDER")"
files_per_second="$("${ONE_CORE[@]}" "$BUILD/bench/load_bench" "$FOLDER" --benchmark_filter=LoadCheckAnalyse \
    --benchmark_min_time=2 --benchmark_format=json 2>/dev/null |
    python3 -c 'import json, sys
text = sys.stdin.read()
print(round(json.loads(text[text.index("{"):])["benchmarks"][0]["files/s"]))')"

count="$(find "$FOLDER" -maxdepth 1 -iname '*.mid' -o -maxdepth 1 -iname '*.midi' | wc -l)"
printf '%-46s %12s\n' "folder: $FOLDER ($count files)" "files/s"
printf '%-46s %12s\n' "midi-file (JavaScript), parse only" "$theirs"
printf '%-46s %12s\n' "varimel, load + melody check + analysis" "$files_per_second"
python3 -c "print('%-46s %12.2f' % ('ratio varimel / midi-file', $files_per_second / $theirs))"
