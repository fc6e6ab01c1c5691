#!/usr/bin/env bash
# orvane3-cli monitor on local files played as fast as the engine goes: several streams on
# several recognition threads, a stream list with comments, --shard splitting one list between
# monitors without overlap, JSON lines, the play log after a SIGKILL, and the messages and
# exit status of bad input.
set -u
cli=$1
work=$(mktemp -d)
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache"
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_status() { [ "$1" -eq "$2" ] || fail "$3: exit status $2, expected $1"; }
command -v sox >/dev/null || { echo "sox is needed to make the test audio"; exit 1; }

melody() {  # NAME SEED: 40 plucked two-note chords of 0.25 ... 0.54 s
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
mkdir "$work/lib"
"$cli" fingerprint --out "$work/lib" "$work/alpha.wav" "$work/bravo.wav" "$work/charlie.wav" >/dev/null 2>&1
expect_status 0 $? "fingerprint of three clips"
sox "$work/alpha.wav" "$work/bravo.wav" "$work/ab.wav"
sox "$work/charlie.wav" "$work/alpha.wav" -r 44100 -c 2 "$work/ca.wav" 2>/dev/null
sox "$work/bravo.wav" -r 48000 "$work/b48.wav" 2>/dev/null

"$cli" monitor --library "$work/lib" --fast --threads 2 "$work/ab.wav" "x=$work/ca.wav" \
    "$work/b48.wav" >"$work/out" 2>"$work/err"
expect_status 0 $? "monitor of three files"
grep -E '^ab: ' "$work/out" | sed -E 's/^ab: ([a-z]+) .*/\1/' | tr '\n' ' ' | grep -qx 'alpha bravo ' ||
    fail "stream ab: $(cat "$work/out")"
grep -E '^x: ' "$work/out" | sed -E 's/^x: ([a-z]+) .*/\1/' | tr '\n' ' ' | grep -qx 'charlie alpha ' ||
    fail "stream x: $(cat "$work/out")"
grep -Eq '^b48: bravo \[0:0[0-3] - 0:1[3-6]\] \(0:1[0-6]\)$' "$work/out" || fail "stream b48: $(cat "$work/out")"
[ "$(wc -l <"$work/out")" -eq 5 ] || fail "expected five lines: $(cat "$work/out")"
grep -q '^Monitoring 3 streams with 3 fingerprints on 2 threads' "$work/err" || fail "no start line: $(cat "$work/err")"
grep -q '^ab: the file has ended$' "$work/err" || fail "no end of file: $(cat "$work/err")"

# Robust recognition: three streams on one recognition thread share one search; each hears its
# own clips, as with the standard search.
"$cli" monitor --library "$work/lib" --fast --threads 1 --robust "$work/ab.wav" "x=$work/ca.wav" \
    "$work/b48.wav" >"$work/robust" 2>"$work/err"
expect_status 0 $? "robust monitor of three files"
[ "$(sed -E 's/ \[.*//' "$work/robust" | sort)" = "$(sed -E 's/ \[.*//' "$work/out" | sort)" ] ||
    fail "robust: $(cat "$work/robust") / standard: $(cat "$work/out")"

# A list with comments, combined with an argument; JSON lines.
cat >"$work/streams.txt" <<LIST
# the test stations
first=$work/ab.wav

  # second=$work/missing.wav
third=$work/ca.wav
LIST
"$cli" monitor --library "$work/lib" --fast --format jsonl --streams "$work/streams.txt" \
    "b=$work/b48.wav" >"$work/json" 2>"$work/err"
expect_status 0 $? "monitor of a stream list"
[ "$(wc -l <"$work/json")" -eq 5 ] || fail "expected five JSON lines: $(cat "$work/json")"
grep -Eq '^\{"stream":"first","title":"alpha","begin":"0:0[0-2]","end":"0:1[3-5]","duration":"0:1[1-5]","clip_begin_s":[0-9]+,"clip_end_s":[0-9]+,"duration_s":[0-9]+,"started_at":"[0-9-]{10}T[0-9:.]{12}Z","ended_at":"[0-9-]{10}T[0-9:.]{12}Z","stream_title":"","line":"first: alpha \[[^"]*\] \([^"]*\)"\}$' "$work/json" ||
    fail "JSON line of first/alpha: $(head -n 1 "$work/json")"
grep -q '"stream":"second"' "$work/json" "$work/err" && fail "a commented stream was monitored"

# Two shards of one list: together all streams, none twice.
for i in $(seq 1 8); do echo "s$i=$work/b48.wav"; done >"$work/fleet.txt"
"$cli" monitor --library "$work/lib" --fast --shard 1/2 --streams "$work/fleet.txt" >"$work/s1" 2>"$work/e1"
status1=$?
"$cli" monitor --library "$work/lib" --fast --shard 2/2 --streams "$work/fleet.txt" >"$work/s2" 2>"$work/e2"
status2=$?
expect_status 0 $status1 "shard 1/2"
expect_status 0 $status2 "shard 2/2"
[ "$(cat "$work/s1" "$work/s2" | cut -d: -f1 | sort | tr '\n' ' ')" = "s1 s2 s3 s4 s5 s6 s7 s8 " ] ||
    fail "shards do not split the list: $(cat "$work/s1") / $(cat "$work/s2")"
[ -s "$work/s1" ] && [ -s "$work/s2" ] || fail "one shard got nothing"

# The play log: a monitor killed with SIGKILL keeps every ended play; the play it had open
# keeps its start and is closed by the next start at the time it was last seen. Real time.
if command -v sqlite3 >/dev/null; then
    "$cli" monitor --library "$work/lib" --db "$work/kill.sqlite" "live=$work/ab.wav" >"$work/out" 2>"$work/err" &
    pid=$!
    for _ in $(seq 1 300); do  # until bravo has been seen for a few seconds (about 22 s)
        [ "$(sqlite3 "$work/kill.sqlite" "SELECT count(*) FROM plays WHERE title = 'bravo' AND last_seen_at > started_at" 2>/dev/null)" = 1 ] && break
        sleep 0.1
    done
    sleep 1
    kill -KILL $pid
    wait $pid 2>/dev/null
    q() { sqlite3 -separator ' ' "$work/kill.sqlite" "$1"; }
    [ "$(q "SELECT title, ended_at IS NOT NULL, ifnull(duration_s, 0) >= 12 FROM plays WHERE stream = 'live' ORDER BY id")" = "alpha 1 1
bravo 0 0" ] || fail "plays after SIGKILL: $(q 'SELECT * FROM plays')"
    [ "$(q "SELECT file FROM plays WHERE title = 'alpha'")" = "$work/lib/alpha.qnf" ] ||
        fail "the play's fingerprint file: $(q 'SELECT * FROM plays')"
    seen=$(q "SELECT last_seen_at FROM plays WHERE title = 'bravo'")
    "$cli" monitor --library "$work/lib" --db "$work/kill.sqlite" --fast "other=$work/b48.wav" >/dev/null 2>&1
    expect_status 0 $? "monitor after a SIGKILL"
    [ "$(q "SELECT ended_at FROM plays WHERE title = 'bravo' AND stream = 'live'")" = "$seen" ] ||
        fail "the open play was not closed at its last sighting $seen: $(q 'SELECT * FROM plays')"
    [ "$(q "SELECT count(*) FROM plays WHERE stream = 'other' AND ended_at IS NOT NULL")" = 1 ] ||
        fail "the next run's play: $(q 'SELECT * FROM plays')"
else
    fail "sqlite3 is needed to read the play log"
fi

# Bad input.
"$cli" monitor --library "$work/lib" --fast >/dev/null 2>"$work/err"
expect_status 2 $? "no stream"
grep -q 'no stream given' "$work/err" || fail "no-stream message: $(cat "$work/err")"
"$cli" monitor --library "$work/lib" --shard 3/2 "$work/ab.wav" >/dev/null 2>"$work/err"
expect_status 2 $? "bad shard"
grep -q -- '--shard takes K/N' "$work/err" || fail "bad-shard message: $(cat "$work/err")"
"$cli" monitor --library "$work/lib" --streams "$work/nothing.txt" >/dev/null 2>"$work/err"
expect_status 2 $? "missing stream list"
grep -q 'cannot be read' "$work/err" || fail "missing-list message: $(cat "$work/err")"
"$cli" monitor --library "$work/lib" a=x.wav a=y.wav >/dev/null 2>"$work/err"
expect_status 2 $? "a name given twice"
"$cli" monitor --library "$work/empty" --fast "$work/ab.wav" >/dev/null 2>"$work/err"
expect_status 1 $? "no library"
grep -q 'no fingerprint could be loaded' "$work/err" || fail "no-library message: $(cat "$work/err")"
printf 'RIFF nonsense' >"$work/broken.wav"
timeout 20 "$cli" monitor --library "$work/lib" --fast "$work/broken.wav" "$work/b48.wav" >"$work/out" 2>"$work/err"
expect_status 1 $? "a broken file with --fast"
grep -q '^error: broken: Error in wav file.$' "$work/err" || fail "broken-file message: $(cat "$work/err")"
grep -q '^b48: bravo ' "$work/out" || fail "the good file beside the broken one: $(cat "$work/out")"
# In real time a file that cannot be played is retried, as streams are, until SIGINT.
"$cli" monitor --library "$work/lib" "$work/broken.wav" >/dev/null 2>"$work/err" &
pid=$!
sleep 2
kill -INT $pid 2>/dev/null
wait $pid
expect_status 0 $? "a broken file in real time, then SIGINT"
grep -q '^warning: broken: Error in wav file.; reopening in 1 s$' "$work/err" || fail "broken-file retry: $(cat "$work/err")"

[ $failures -eq 0 ] && echo "monitor on files: all checks passed"
exit $((failures > 0))
