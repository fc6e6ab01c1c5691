#!/usr/bin/env bash
# orvane3-cli inspect --library on a folder written by orvane3-cli fingerprint: the loading
# messages, the count, the index statistics and the memory listing (on stdout and as export),
# a corrupt file reported and skipped, and the exit status of a folder with nothing to load.
set -u
cli=$1
data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CACHE_HOME="$work/cache"  # never the index snapshots of the user running the tests
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_status() {  # expected, actual, what
    [ "$1" -eq "$2" ] || fail "$3: exit status $2, expected $1"
}

mkdir "$work/fp"
"$cli" fingerprint --out "$work/fp" "$data/chirp-11025.wav" "$data/chirp-16000.wav" 2>/dev/null
expect_status 0 $? "fingerprint of two WAV files"
printf 'not a fingerprint' >"$work/fp/broken.qnf"

"$cli" inspect --library "$work/fp" --csv "$work/memory.csv" >"$work/out" 2>"$work/err"
expect_status 0 $? "inspect --library with a corrupt file"
grep -qx 'warning: "broken.qnf" does not have the right file format' "$work/err" || fail "no format message"
grep -qx '2 fingerprints were loaded into memory' "$work/err" || fail "no count message"
grep -qx 'Fingerprints loaded: 2' "$work/out" || fail "no loaded count"
grep -q '^Index entries: [1-9][0-9]*$' "$work/out" || fail "no index entries"
grep -q '^Partitions used: [1-9][0-9]* of 4096$' "$work/out" || fail "no partitions used"
grep -q '^Largest partition: [1-9][0-9]* entries$' "$work/out" || fail "no largest partition"
grep -q '^Index memory: [0-9]* bytes' "$work/out" || fail "no index memory"
grep -qx 'Sound clips (2)' "$work/out" || fail "no listing caption"
grep -qx "\[ENABLED\];chirp-11025;$work/fp/chirp-11025.qnf;00:0:0[0-9]" "$work/out" || fail "no listing row"
printf 'Sound clips (2)\r\n' >"$work/expected-head"
head -c 17 "$work/memory.csv" | cmp -s - "$work/expected-head" || fail "export does not start with the caption and CR LF"
[ "$(grep -c '^\[ENABLED\];chirp-' "$work/memory.csv")" -eq 2 ] || fail "export rows"

# The second run takes the library from the index snapshot the first one left, with the same
# messages and output; after the snapshot folder is removed, a run reads the files again.
ls "$work/cache/orvane3/"index-*.snapshot >/dev/null 2>&1 || fail "no index snapshot kept"
"$cli" inspect --library "$work/fp" >"$work/out2" 2>"$work/err2"
expect_status 0 $? "inspect --library from the snapshot"
cmp -s "$work/out" "$work/out2" || fail "output from the snapshot differs: $(diff "$work/out" "$work/out2")"
cmp -s "$work/err" "$work/err2" || fail "messages from the snapshot differ: $(diff "$work/err" "$work/err2")"
rm -rf "$work/cache/orvane3"
"$cli" inspect --library "$work/fp" >"$work/out3" 2>"$work/err3"
cmp -s "$work/out" "$work/out3" || fail "output after clearing the snapshots differs"

mkdir "$work/empty"
"$cli" inspect --library "$work/empty" >/dev/null 2>"$work/err"
expect_status 1 $? "inspect --library of an empty folder"
grep -qx 'warning: The fingerprinting folder does not contain any fingerprints' "$work/err" || fail "no empty-folder message"

"$cli" inspect --library "$work/missing" >/dev/null 2>"$work/err"
expect_status 1 $? "inspect --library of a missing folder"
grep -qx "Error: Could not find folder \"$work/missing/\"." "$work/err" || fail "no missing-folder message"

"$cli" inspect --library >/dev/null 2>&1
expect_status 2 $? "inspect --library without a folder"

[ "$failures" -eq 0 ] && echo "cli_library: all checks passed"
[ "$failures" -eq 0 ]
