#!/usr/bin/env bash
# Starts orvane3 COUNT times in a row (default 20), each time on a fresh display with a fresh
# home, through xdisplay_windows_test.sh, and counts the starts in which every window closed with
# one Escape. Not part of the test suite (it takes a few minutes).
# Usage: repeat_starts.sh ORVANE3 [COUNT]
set -u
BIN=$1
COUNT=${2:-20}
HERE=$(cd "$(dirname "$0")" && pwd)
good=0
bad=0
for i in $(seq "$COUNT"); do
    if out=$("$HERE/xdisplay_windows_test.sh" "$BIN" 2>&1); then
        good=$((good + 1))
    else
        bad=$((bad + 1))
        echo "start $i:"
        echo "$out" | grep FAIL
    fi
done
echo "starts: $COUNT, every window closed with one Escape: $good, with a lost key or another fault: $bad"
[ "$bad" -eq 0 ]
