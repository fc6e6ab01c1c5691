#!/usr/bin/env bash
# Runs orvane3 as a new user would, on its own Xvfb display with openbox and a private
# PulseAudio server, and drives it with xdotool. Usage: xdisplay_windows_test.sh ORVANE3
set -u
BIN=$1
for tool in Xvfb openbox xdotool pulseaudio; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed (scripts/install-deps)"; exit 1; }
done

WORK=$(mktemp -d /tmp/orvane3-xdisplay.XXXXXX)
PIDS=()
cleanup() {
    for ((i = ${#PIDS[@]} - 1; i >= 0; i--)); do kill "${PIDS[i]}" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT

# A display number of our own: Xvfb picks a free one and writes it to the descriptor.
exec 3>"$WORK/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
PIDS+=($!)
exec 3>&-
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.05; done
[ -s "$WORK/display" ] || { echo "FAIL: Xvfb did not start"; cat "$WORK/xvfb.log"; exit 1; }
export DISPLAY=":$(head -1 "$WORK/display")"

export HOME=$WORK/home XDG_CONFIG_HOME=$WORK/config XDG_DATA_HOME=$WORK/data \
    XDG_CACHE_HOME=$WORK/cache XDG_RUNTIME_DIR=$WORK/run TMPDIR=$WORK/tmp
# The single-instance socket lies in TMPDIR: an orvane3 the user runs is not this test's instance.
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR" "$TMPDIR"
chmod 700 "$XDG_RUNTIME_DIR"

openbox --config-file /dev/null >"$WORK/openbox.log" 2>&1 &
PIDS+=($!)
# openbox owns the screen once it set _NET_SUPPORTING_WM_CHECK on the root window.
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.05
done

PA=$WORK/pulse
mkdir -p "$PA/run" "$PA/home"
chmod 700 "$PA/run"
cat >"$PA/server.pa" <<PAEOF
load-module module-null-sink sink_name=xdisplay_sink rate=44100
load-module module-native-protocol-unix socket=$PA/run/native auth-anonymous=1
set-default-sink xdisplay_sink
set-default-source xdisplay_sink.monitor
PAEOF
env -i HOME="$PA/home" XDG_RUNTIME_DIR="$PA/run" PULSE_RUNTIME_PATH="$PA/run" \
    PULSE_STATE_PATH="$PA/home/state" XDG_CONFIG_HOME="$PA/home/config" PATH=/usr/bin:/bin \
    pulseaudio -n --daemonize=no --system=no --exit-idle-time=-1 --disable-shm=yes \
    --use-pid-file=no --disallow-exit=yes --log-target=file:"$PA/log" -F "$PA/server.pa" \
    >/dev/null 2>&1 &
PIDS+=($!)
for _ in $(seq 100); do [ -S "$PA/run/native" ] && break; sleep 0.05; done
[ -S "$PA/run/native" ] || { echo "FAIL: pulseaudio did not start"; cat "$PA/log"; exit 1; }
export PULSE_SERVER=unix:$PA/run/native

FAILED=0
fail() { echo "FAIL: $*"; FAILED=$((FAILED + 1)); }

PROGRAM_LOG=$WORK/orvane3.log
"$BIN" >"$PROGRAM_LOG" 2>&1 &
APP=$!
PIDS+=($APP)

# The visible window of the program whose caption is exactly $1 (waits up to $2 tenths of a
# second, default 100).
window_named() {
    for _ in $(seq "${2:-100}"); do
        for w in $(xdotool search --all --onlyvisible --pid "$APP" --name . 2>/dev/null); do
            [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "$1" ] && { echo "$w"; return 0; }
        done
        sleep 0.1
    done
    return 1
}
# Whether the window $1 is gone (unmapped or destroyed) within 2 s.
closes() {
    for _ in $(seq 20); do
        xwininfo -id "$1" 2>/dev/null | grep -q 'IsViewable' || return 0
        sleep 0.1
    done
    return 1
}
# Whether the window with the caption $1 gets the input focus within 3 s.
gets_focus() {
    for _ in $(seq 30); do
        [ "$(xdotool getwindowname "$(xdotool getwindowfocus 2>/dev/null)" 2>/dev/null)" = "$1" ] &&
            return 0
        sleep 0.1
    done
    return 1
}

MAIN=$(window_named "Quendal Music Database 3.2" 300) ||
    { fail "the main window with the caption \"Quendal Music Database 3.2\" did not appear"; \
      xdotool search --all --onlyvisible --pid "$APP" --name . getwindowname %@ 2>/dev/null; \
      cat "$PROGRAM_LOG"; exit 1; }

# First start: the first-steps window, closed with one Escape.
if W=$(window_named "Welcome to ORVANE3!"); then
    sleep 1
    xdotool key Escape
    closes "$W" || fail "one Escape did not close the first-steps window"
else
    fail "the first start did not show the first-steps window \"Welcome to ORVANE3!\""
fi

# Each menu window by its shortcut: it gets the focus, and one Escape a second later closes it.
for entry in "F1|About ORVANE3" "F9|Preferences" "F10|Active channels overview"; do
    key=${entry%%|*}
    caption=${entry#*|}
    sleep 0.3
    xdotool key "$key"
    if ! W=$(window_named "$caption"); then
        fail "$key did not open \"$caption\""
        continue
    fi
    gets_focus "$caption" || fail "\"$caption\" does not get the focus"
    sleep 1
    xdotool key Escape
    if closes "$W"; then
        echo "ok: $key opens \"$caption\", one Escape closes it"
    else
        fail "one Escape did not close \"$caption\""
        xdotool key Escape
        closes "$W"
    fi
done

# Closing the main window (the window manager's close, Alt+F4) ends the program.
sleep 0.3
xdotool windowactivate --sync "$MAIN" 2>/dev/null
xdotool key alt+F4
ENDED=0
for _ in $(seq 100); do
    kill -0 "$APP" 2>/dev/null || { ENDED=1; break; }
    sleep 0.1
done
if [ "$ENDED" = 1 ]; then
    wait "$APP"
    CODE=$?
    [ "$CODE" = 0 ] || fail "the program ended with exit code $CODE"
    echo "ok: closing the main window ends the program"
else
    fail "the program still runs 10 s after its main window was closed"
fi

if [ "$FAILED" -ne 0 ]; then
    echo "--- program output"; cat "$PROGRAM_LOG"
    echo "0 passed, $FAILED failed"
    exit 1
fi
echo "xdisplay: all windows behaved"
