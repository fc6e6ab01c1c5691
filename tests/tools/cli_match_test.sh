#!/usr/bin/env bash
# orvane3-cli match: a recording made of two fingerprinted clips gives their two lines with the
# right titles and positions (text and CSV), the same on every run; audio outside the library
# gives nothing; unreadable files, a missing library and bad options give their exit status.
# The clips are plucked melodies synthesised with sox from fixed seeds.
set -u
cli=$1
work=$(mktemp -d)
export XDG_CONFIG_HOME="$work/config"  # never the settings of the user running the tests
export XDG_CACHE_HOME="$work/cache"    # nor the index snapshots of that user
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_status() {  # expected, actual, what
    [ "$1" -eq "$2" ] || fail "$3: exit status $2, expected $1"
}
if ! command -v sox >/dev/null; then
    echo "sox is needed to make the test audio"
    exit 1
fi

# melody NAME SEED: 40 plucked two-note chords of 0.25 ... 0.54 s at 11025 Hz.
melody() {
    local name=$1 parts=() i f d
    RANDOM=$2
    for i in $(seq 1 40); do
        f=$((110 + RANDOM % 900))
        d=0.$((25 + RANDOM % 30))
        sox -n -r 11025 -c 1 -b 16 "$work/n$i.wav" synth "$d" pluck "$f" pluck $((f * 5 / 4)) remix - fade 0 "$d" 0.05 2>/dev/null
        parts+=("$work/n$i.wav")
    done
    sox "${parts[@]}" "$work/$name.wav"
    rm -f "${parts[@]}"
}
melody alpha 1
melody bravo 2
melody charlie 3
melody outsider 4
mkdir "$work/lib"
"$cli" fingerprint --out "$work/lib" "$work/alpha.wav" "$work/bravo.wav" "$work/charlie.wav" 2>/dev/null
expect_status 0 $? "fingerprint of three clips"
sox "$work/alpha.wav" "$work/bravo.wav" "$work/stream.wav"
alpha_seconds=$(soxi -D "$work/alpha.wav")

"$cli" match --library "$work/lib" "$work/stream.wav" >"$work/out" 2>"$work/err"
expect_status 0 $? "match of a recording"
[ "$(wc -l <"$work/out")" -eq 2 ] || fail "expected two lines, got: $(cat "$work/out")"
grep -Eq '^0:0[0-2]\.[0-9]  Channel01 \| file: alpha \[0:0[0-1] - 0:1[3-5]\] \(0:1[2-5]\)$' "$work/out" || fail "alpha line: $(cat "$work/out")"
grep -Eq '^0:1[5-9]\.[0-9]  Channel01 \| file: bravo \[0:0[0-3] - 0:1[3-6]\] \(0:1[0-6]\)$' "$work/out" || fail "bravo line: $(cat "$work/out")"
[ "$(sed -n 1p "$work/out" | grep -c alpha)" -eq 1 ] || fail "alpha is not first"

ls "$work/cache/orvane3/"index-*.snapshot >/dev/null 2>&1 || fail "no index snapshot kept"
"$cli" match --library "$work/lib" "$work/stream.wav" >"$work/again" 2>"$work/err-again"
cmp -s "$work/out" "$work/again" || fail "a second run (from the index snapshot) gives other lines"
cmp -s "$work/err" "$work/err-again" || fail "a second run (from the index snapshot) gives other messages"

"$cli" match --library "$work/lib" --no-deep --high-integrity --keep shortest --format csv "$work/stream.wav" >"$work/csv" 2>"$work/err"
expect_status 0 $? "match --format csv"
[ "$(sed -n 1p "$work/csv")" = "file;start_in_file;end_in_file;title;clip_begin;clip_end" ] || fail "csv header"
[ "$(wc -l <"$work/csv")" -eq 3 ] || fail "expected a header and two rows: $(cat "$work/csv")"
# The bravo row: where the heard part begins in the file is where bravo begins plus clip_begin.
bravo_row=$(grep ';bravo;' "$work/csv")
awk -F';' -v a="$alpha_seconds" '{ d = $2 - ($5 + a); if (d < -0.15 || d > 0.15) exit 1 }' <<<"$bravo_row" || fail "bravo row positions: $bravo_row"
grep -Eq "^$work/stream.wav;[0-9]+\.[0-9];[0-9]+\.[0-9];alpha;[0-9]+\.[0-9];[0-9]+\.[0-9]\$" "$work/csv" || fail "alpha row: $(cat "$work/csv")"

"$cli" match --library "$work/lib" "$work/outsider.wav" "$work/charlie.wav" >"$work/out" 2>"$work/err"
expect_status 0 $? "match of two files"
[ "$(grep -c 'Channel01' "$work/out")" -eq 1 ] || fail "outsider recognised or charlie missed: $(cat "$work/out")"
grep -q 'file: charlie \[' "$work/out" || fail "charlie not recognised"
grep -qx "$work/outsider.wav:" "$work/out" || fail "no file heading"

"$cli" match --library "$work/lib" "$work/missing.wav" "$work/alpha.wav" >"$work/out" 2>"$work/err"
expect_status 1 $? "match with a missing file"
grep -q "^error: $work/missing.wav: " "$work/err" || fail "no error for the missing file: $(cat "$work/err")"
grep -q 'file: alpha \[' "$work/out" || fail "the readable file is still matched"

mkdir "$work/home"
HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" "$cli" match "$work/alpha.wav" >/dev/null 2>"$work/err"
expect_status 1 $? "match without a library"
grep -q 'orvane3-cli fingerprint --out DIR' "$work/err" || fail "no advice how to make a library: $(cat "$work/err")"

mkdir -p "$work/home/Documents/My Fingerprints"
cp "$work/lib/alpha.qnf" "$work/home/Documents/My Fingerprints/"
HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" "$cli" match "$work/alpha.wav" >"$work/out" 2>/dev/null
expect_status 0 $? "match with the default library"
grep -q 'file: alpha \[' "$work/out" || fail "the default library is not used"

# The configured fingerprint folder is the default once settings exist.
mkdir -p "$work/home/.config" "$work/configured"
cp "$work/lib/alpha.qnf" "$work/configured/"
printf '[General]\nFpFolder=%s/configured/\n' "$work" >"$work/home/.config/OrvanePro3.conf"
rm "$work/home/Documents/My Fingerprints/alpha.qnf"
HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" "$cli" match "$work/alpha.wav" >"$work/out" 2>"$work/err"
expect_status 0 $? "match with the configured library"
grep -q 'file: alpha \[' "$work/out" || fail "the configured library is not used: $(cat "$work/err")"

"$cli" match --library "$work/lib" --keep middle "$work/alpha.wav" >/dev/null 2>&1
expect_status 2 $? "match --keep middle"
"$cli" match --library "$work/lib" >/dev/null 2>&1
expect_status 2 $? "match without files"

[ "$failures" -eq 0 ] || exit 1
echo "cli match: all checks passed"
