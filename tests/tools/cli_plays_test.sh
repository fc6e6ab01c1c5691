#!/usr/bin/env bash
# orvane3-cli plays: the report of a play log written by a real writer process (and rows added
# with sqlite3): text, CSV and JSON rows, filters by stream and time, the summary per stream and
# title, the default path under XDG_DATA_HOME, and the exit status of bad options and a missing
# log.
set -u
cli=$1
writer=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_status() {  # expected, actual, what
    [ "$1" -eq "$2" ] || fail "$3: exit status $2, expected $1"
}
expect_output() {  # what, expected, actual
    [ "$2" == "$3" ] || { fail "$1"; diff <(echo "$2") <(echo "$3"); }
}
for tool in sqlite3; do
    command -v $tool >/dev/null || { echo "$tool is needed"; exit 1; }
done

export XDG_DATA_HOME="$work/data"
db="$XDG_DATA_HOME/orvane3/plays.sqlite"
# Channel01 hears Alpha and Beta on 2026-12-10 from 05:00 UTC; the writer ends normally.
"$writer" "$db" </dev/null >/dev/null
expect_status 0 $? "the writer"
sqlite3 "$db" <<'SQL'
INSERT INTO plays(stream, title, file, started_at, ended_at, duration_s, clip_begin_s, clip_end_s, stream_title)
VALUES ('Radio Two', 'Gamma, "live"', '/fp/gamma.qnf', '2026-12-11T22:10:00.250Z', '2026-12-11T22:13:01.000Z', 181, 0, 181, 'GAMMA - Live'),
       ('Radio Two', 'Alpha', NULL, '2026-12-12T08:00:00.000Z', '2026-12-12T08:02:00.000Z', 118, 2, 120, NULL),
       ('Radio Two', 'Alpha', NULL, '2026-12-12T09:00:00.000Z', NULL, NULL, 0, NULL, NULL);
SQL

out=$("$cli" plays)
expect_status 0 $? "plays from the default log"
expect_output "plays as text" "2026-12-10T05:00:01.000Z  Channel01: Alpha [0:08 - 0:20] (0:12)
2026-12-10T05:00:12.000Z  Channel01: Beta [0:04 - 0:13] (0:09)
2026-12-11T22:10:00.250Z  Radio Two: Gamma, \"live\" [0:00 - 3:01] (3:01)  station: GAMMA - Live
2026-12-12T08:00:00.000Z  Radio Two: Alpha [0:02 - 2:00] (1:58)
2026-12-12T09:00:00.000Z  Radio Two: Alpha [0:00 - ...] (playing)" "$out"

out=$("$cli" plays --db "$db" --stream "Radio Two" --from 2026-12-11T23:10+01:00 --to "2026-12-12 09:00")
expect_output "plays of a stream in [from, to)" "2026-12-11T22:10:00.250Z  Radio Two: Gamma, \"live\" [0:00 - 3:01] (3:01)  station: GAMMA - Live
2026-12-12T08:00:00.000Z  Radio Two: Alpha [0:02 - 2:00] (1:58)" "$out"

out=$("$cli" plays --stream "Radio Two" --format csv --to 2026-12-12T08:00:00.001Z)
expect_output "plays as CSV" 'id,stream,title,file,started_at,ended_at,duration_s,clip_begin_s,clip_end_s,stream_title
3,Radio Two,"Gamma, ""live""",/fp/gamma.qnf,2026-12-11T22:10:00.250Z,2026-12-11T22:13:01.000Z,181,0,181,GAMMA - Live
4,Radio Two,Alpha,,2026-12-12T08:00:00.000Z,2026-12-12T08:02:00.000Z,118,2,120,' "$out"

out=$("$cli" plays --stream "Radio Two" --format json)
expect_output "plays as JSON" '[
  {"id": 3, "stream": "Radio Two", "title": "Gamma, \"live\"", "file": "/fp/gamma.qnf", "started_at": "2026-12-11T22:10:00.250Z", "ended_at": "2026-12-11T22:13:01.000Z", "duration_s": 181, "clip_begin_s": 0, "clip_end_s": 181, "stream_title": "GAMMA - Live"},
  {"id": 4, "stream": "Radio Two", "title": "Alpha", "file": null, "started_at": "2026-12-12T08:00:00.000Z", "ended_at": "2026-12-12T08:02:00.000Z", "duration_s": 118, "clip_begin_s": 2, "clip_end_s": 120, "stream_title": null},
  {"id": 5, "stream": "Radio Two", "title": "Alpha", "file": null, "started_at": "2026-12-12T09:00:00.000Z", "ended_at": null, "duration_s": null, "clip_begin_s": 0, "clip_end_s": null, "stream_title": null}
]' "$out"
if command -v python3 >/dev/null; then
    "$cli" plays --format json --summary | python3 -m json.tool >/dev/null || fail "the summary is not JSON"
fi

out=$("$cli" plays --summary)
expect_output "summary as text" 'Channel01: Alpha  1 play, 0:12 airtime
Channel01: Beta  1 play, 0:09 airtime
Radio Two: Alpha  1 play, 1:58 airtime
Radio Two: Gamma, "live"  1 play, 3:01 airtime' "$out"
out=$("$cli" plays --summary --format csv --stream "Radio Two")
expect_output "summary as CSV" 'stream,title,plays,airtime_s
Radio Two,Alpha,1,118
Radio Two,"Gamma, ""live""",1,181' "$out"

out=$("$cli" plays --stream "Nobody")
expect_status 0 $? "a stream without plays"
expect_output "a stream without plays" "" "$out"

err=$("$cli" plays --db "$work/missing.sqlite" 2>&1 >/dev/null)
expect_status 1 $? "a missing log"
expect_output "a missing log" "orvane3-cli: No play log at $work/missing.sqlite" "$err"
[ -e "$work/missing.sqlite" ] && fail "reading created the log"

for args in "--format xml" "--from yesterday" "--to 2026-02-30" "--stream" "--bogus"; do
    # shellcheck disable=SC2086
    "$cli" plays $args >/dev/null 2>&1
    expect_status 2 $? "plays $args"
done
err=$("$cli" plays --from 2026-13-01 2>&1 >/dev/null | head -n 1)
expect_output "a bad time" "orvane3-cli: --from: not a time: 2026-13-01" "$err"
"$cli" plays --help | grep -q "^usage: orvane3-cli plays" || fail "plays --help"

[ $failures -eq 0 ] && echo "cli plays: all checks passed"
exit $((failures > 0))
