#!/usr/bin/env bash
# Golden test of orvane3-cli: the line keys and the fingerprint files of two checked-in WAV
# files (11025 Hz and 16000 Hz mono) must come out exactly as recorded; usage errors, failed
# files, existing fingerprints and corrupt fingerprint files give their exit codes and messages.
set -u
cli=$1
data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_status() {  # expected, actual, what
    [ "$1" -eq "$2" ] || fail "$3: exit status $2, expected $1"
}

for f in chirp-11025 chirp-16000; do
    "$cli" keys "$data/$f.wav" >"$work/$f.keys" || fail "keys $f exited $?"
    diff -q "$data/$f.keys" "$work/$f.keys" >/dev/null || fail "keys of $f.wav differ from the golden ones"
done

mkdir "$work/out"
"$cli" fingerprint --out "$work/out" "$data/chirp-11025.wav" "$data/chirp-16000.wav" 2>"$work/err"
expect_status 0 $? "fingerprint of two WAV files"
for f in chirp-11025 chirp-16000; do
    cmp -s "$data/$f.qnf" "$work/out/$f.qnf" || fail "$f.qnf is not byte-exact"
done
grep -q 'Extracting fingerprint from "chirp-11025.wav"' "$work/err" || fail "no extracting message"

"$cli" fingerprint --out "$work/out" "$data/chirp-11025.wav" 2>"$work/err"
expect_status 0 $? "fingerprint of an already fingerprinted file"
grep -q 'Fingerprint of "chirp-11025.wav" has already been calculated' "$work/err" || fail "no already-calculated message"

"$cli" inspect "$data/chirp-11025.qnf" >"$work/inspect"
expect_status 0 $? "inspect"
grep -qx 'Title: chirp-11025' "$work/inspect" || fail "inspect title"
grep -qx 'Keys: 128' "$work/inspect" || fail "inspect key count"
grep -qx 'Duration: 0:01' "$work/inspect" || fail "inspect duration"
"$cli" inspect "$data/chirp-11025.qnf" --keys | tail -n 128 | diff -q - "$data/chirp-11025.keys" >/dev/null || fail "inspect --keys"

head -c 300 "$data/chirp-11025.qnf" >"$work/cut.qnf"
"$cli" inspect "$work/cut.qnf" 2>"$work/err" >/dev/null
expect_status 1 $? "inspect of a truncated file"
grep -q '"cut.qnf" does not have the right file format' "$work/err" || fail "no file-format message"

printf 'RIFF\0\0\0\0WAVE' >"$work/bad.wav"
"$cli" fingerprint --out "$work/out" "$work/bad.wav" "$data/chirp-16000.wav" 2>"$work/err"
expect_status 1 $? "fingerprint with one bad file"
grep -q 'Error in wav file.' "$work/err" || fail "no wav error message"

"$cli" fingerprint --out "$work/out" "$work/notes.txt" 2>"$work/err"
expect_status 1 $? "fingerprint of an unsupported file"
grep -q 'Only .mp3 and .wav files are supported for fingerprint extraction' "$work/err" || fail "no extension message"

"$cli" fingerprint 2>/dev/null
expect_status 2 $? "fingerprint without files"
"$cli" frobnicate 2>/dev/null
expect_status 2 $? "unknown command"
"$cli" keys --bogus x.wav 2>/dev/null
expect_status 2 $? "unknown option"
for c in fingerprint keys inspect; do
    "$cli" $c --help | grep -q "usage: orvane3-cli $c" || fail "$c --help"
done

if [ "$failures" -eq 0 ]; then echo "cli golden test passed"; exit 0; fi
echo "$failures failures"
exit 1
