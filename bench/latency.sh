#!/bin/bash
# Key-to-sound latency of the drum pads, against paplay spawned per hit, on a private display (with a
# window manager, so that the main window can take the keyboard focus) and a private sound server.
#
# Usage: bench/latency.sh BUILD_FOLDER [bench_latency options, e.g. --hits 400]
# ZORVIK_ENV, if set, is put in Zorvik's environment only, to try the player's settings without
# touching the capture or paplay: e.g. ZORVIK_ENV="PULSE_LATENCY_MSEC=3" bench/latency.sh build
. "$(dirname "$0")/../tests/e2e/lib.sh"
BUILD=${1:?usage: bench/latency.sh BUILD_FOLDER [options]}
shift
BENCH="$BUILD/bench/bench_latency"
HIHAT="$BUILD/Sounds/Hi Hat.wav"
for f in "$BUILD/Zorvik" "$BENCH" "$HIHAT"; do [ -e "$f" ] || fail "missing $f"; done

start_display wm
start_sound
# The same hit behind 50 ms of silence: paplay must come out exactly that much later with it.
sox "$HIHAT" "$E2E_TMP/delayed.wav" pad 0.05

# shellcheck disable=SC2086 # ZORVIK_ENV is a list of NAME=VALUE words
env ${ZORVIK_ENV:-} "$BUILD/Zorvik" >"$E2E_TMP/zorvik.log" 2>&1 &
PID=$!
track $PID
SPLASH=$(window_of $PID) || fail "no splash window"
geometry "$SPLASH"
xdotool mousemove $((WX + 10)) $((WY + 10)) click 1
wait_for 5 sh -c "xdotool search --onlyvisible --pid $PID | grep -qv '^$SPLASH\$'" || fail "no main window"
MAIN=$(xdotool search --onlyvisible --pid $PID | grep -v "^$SPLASH\$" | head -1)
xdotool windowactivate --sync "$MAIN"

# The server's view of the player's stream while the bench runs: how much it keeps queued, and the
# sink's own latency, which the small capture fragments hold down as they would a real sink's.
(
    sleep 10
    pactl list sink-inputs | grep -E 'application.name|media.name|Latency|Sample Spec'
    pactl list sinks | grep -E '^\s*Latency'
) >"$E2E_TMP/streams.txt" 2>&1 &
track $!

note "Zorvik ${ZORVIK_ENV:+with $ZORVIK_ENV }key \"3\" (Hi Hat) against paplay of the same file"
"$BENCH" --key 3 --baseline "$HIHAT" --delayed "$E2E_TMP/delayed.wav" "$@" || fail "the bench failed"
note "sound server streams during the run:"
cat "$E2E_TMP/streams.txt"
