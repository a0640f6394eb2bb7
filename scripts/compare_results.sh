#!/usr/bin/env bash
# Compares the results of two builds of varimel-cli over a folder of melodies: the JSON lines of
# a batch with each of the four drafts must be byte for byte the same. Use it before and after a
# change that must not change any harmony (a faster loader, a leaner harmonizer).
#
#   scripts/compare_results.sh BEFORE_CLI AFTER_CLI FOLDER [extra harmonise flags...]
#
# Both run with --jobs 1 on the same settings (VARIMEL_REGISTRY when set). Prints one line per
# draft and exits 1 when any differs, showing the first differing line of each side. Keep both
# binaries in the same kind of place (both in a build's app/, or both copied elsewhere), each build
# with its targets varimel-library and varimel-registry built: a binary that finds the style data
# renders accompaniment that one without it cannot.
set -euo pipefail
if [ $# -lt 3 ]; then
    echo "usage: $0 BEFORE_CLI AFTER_CLI FOLDER [extra harmonise flags...]" >&2
    exit 2
fi
BEFORE="$1"
AFTER="$2"
FOLDER="$3"
shift 3

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
status=0
for draft in I II III IV; do
    for side in before after; do
        cli="$BEFORE"
        [ "$side" = after ] && cli="$AFTER"
        # Exit status 1 only says that some files had no harmony; both sides must agree on it.
        set +e
        "$cli" harmonise --batch "$FOLDER" --draft "$draft" --jobs 1 "$@" \
            --jsonl "$WORK/$side.jsonl" 2>"$WORK/$side.err"
        echo $? >"$WORK/$side.rc"
        set -e
    done
    lines="$(wc -l <"$WORK/after.jsonl")"
    if cmp -s "$WORK/before.jsonl" "$WORK/after.jsonl" &&
        cmp -s "$WORK/before.err" "$WORK/after.err" &&
        cmp -s "$WORK/before.rc" "$WORK/after.rc"; then
        printf 'Draft %-4s identical  (%s lines, %s bytes)\n' "$draft" "$lines" \
            "$(wc -c <"$WORK/after.jsonl")"
    else
        status=1
        printf 'Draft %-4s DIFFERENT\n' "$draft"
        diff <(cat "$WORK/before.rc" "$WORK/before.err" "$WORK/before.jsonl") \
            <(cat "$WORK/after.rc" "$WORK/after.err" "$WORK/after.jsonl") | head -4 | cut -c1-300
    fi
done
exit $status
