#!/usr/bin/env bash
# orvane3-cli on names that are not regular files: a FIFO, a folder, a device and a link to
# /dev/zero under audio and fingerprint names, and a FIFO among the fingerprints of a folder.
# Each command must return promptly (nothing may block on a FIFO) with a message naming what the
# file is; a fingerprint file larger than any valid one is refused without being read.
set -u
cli=$1
data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
run() {  # expected status, what, command...: runs with a time bound, output in $work/out, err
    local expected=$1 what=$2
    shift 2
    timeout 20 "$@" >"$work/out" 2>"$work/err"
    local status=$?
    [ "$status" -ne 124 ] || { fail "$what: did not return"; return; }
    [ "$status" -eq "$expected" ] || fail "$what: exit status $status, expected $expected"
}
expect_err() {  # pattern, what
    grep -qF -- "$1" "$work/err" || { fail "$2: no message '$1'"; sed 's/^/  | /' "$work/err"; }
}

mkfifo "$work/fifo.wav" "$work/fifo.mp3" "$work/fifo.qnf"
mkdir "$work/folder.wav" "$work/fp" "$work/out-dir"
ln -s /dev/zero "$work/zero.qnf"
ln -s /dev/null "$work/null.wav"

run 1 "fingerprint of a FIFO" "$cli" fingerprint --out "$work/out-dir" "$work/fifo.wav"
expect_err '"fifo.wav" (a FIFO) is not a regular file' "fingerprint of a FIFO"
run 1 "fingerprint of an MP3 FIFO" "$cli" fingerprint --out "$work/out-dir" "$work/fifo.mp3"
expect_err '"fifo.mp3" (a FIFO) is not a regular file' "fingerprint of an MP3 FIFO"
run 1 "fingerprint of a folder" "$cli" fingerprint --out "$work/out-dir" "$work/folder.wav"
expect_err '"folder.wav" (a folder) is not a regular file' "fingerprint of a folder"
run 1 "fingerprint of a device" "$cli" fingerprint --out "$work/out-dir" "$work/null.wav"
expect_err '"null.wav" (a character device) is not a regular file' "fingerprint of a device"
[ -z "$(ls "$work/out-dir")" ] || fail "fingerprints were written for odd files"

run 1 "keys of a FIFO" "$cli" keys "$work/fifo.wav"
expect_err 'fifo.wav" (a FIFO) is not a regular file' "keys of a FIFO"

run 1 "inspect of a FIFO" "$cli" inspect "$work/fifo.qnf"
expect_err 'fifo.qnf" (a FIFO) is not a regular file' "inspect of a FIFO"
run 1 "inspect of a link to /dev/zero" "$cli" inspect "$work/zero.qnf"
expect_err 'zero.qnf" (a character device) is not a regular file' "inspect of /dev/zero"

# A sparse file of 3 GiB: larger than the largest fingerprint file, refused before reading.
truncate -s 3G "$work/huge.qnf"
run 1 "inspect of a huge file" "$cli" inspect "$work/huge.qnf"
expect_err 'The file is larger than the largest fingerprint file.' "inspect of a huge file"

# A 200 KB WAV file claiming 1 Hz would be hours of audio: refused at once.
{
    printf 'RIFF\x64\x0d\x03\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00'
    printf '\x01\x00\x00\x00\x02\x00\x00\x00\x02\x00\x10\x00data\x40\x0d\x03\x00'
    head -c 200000 /dev/zero
} >"$work/slow.wav"
run 1 "fingerprint of a 1 Hz WAV file" "$cli" fingerprint --out "$work/out-dir" "$work/slow.wav"
expect_err 'This wav format cannot be converted.' "fingerprint of a 1 Hz WAV file"

"$cli" fingerprint --out "$work/fp" "$data/chirp-11025.wav" 2>/dev/null || fail "fingerprint of a WAV file"
mkfifo "$work/fp/x.qnf"
run 0 "inspect --library with a FIFO" "$cli" inspect --library "$work/fp"
expect_err '"x.qnf" (a FIFO) is not a regular file' "inspect --library with a FIFO"
grep -qx 'Fingerprints loaded: 1' "$work/out" || fail "the regular fingerprint was not loaded"

run 1 "match of a FIFO" "$cli" match --library "$work/fp" "$work/fifo.wav"
expect_err 'fifo.wav" (a FIFO) is not a regular file' "match of a FIFO"

# Two titles, one safe file name: the second gets "song_ (2).qnf"; a second run of both finds
# each one already calculated.
mkdir "$work/two"
cp "$data/chirp-11025.wav" "$work/song?.wav"
cp "$data/chirp-11025.wav" "$work/song_.wav"
run 0 "fingerprint of two titles of one file name" "$cli" fingerprint --out "$work/two" "$work/song?.wav" "$work/song_.wav"
[ -f "$work/two/song_.qnf" ] && [ -f "$work/two/song_ (2).qnf" ] || fail "two titles did not give two files"
"$cli" inspect "$work/two/song_ (2).qnf" 2>/dev/null | grep -qx 'Title: song_' || fail "the second file does not hold the second title"
run 0 "second fingerprint of two titles" "$cli" fingerprint --out "$work/two" "$work/song?.wav" "$work/song_.wav"
[ "$(grep -c 'has already been calculated' "$work/err")" -eq 2 ] || fail "not both already calculated"
[ "$(ls "$work/two" | wc -l)" -eq 2 ] || fail "a second run wrote more files"

[ "$failures" -eq 0 ] && echo "cli odd files: all passed"
exit $((failures > 0))
