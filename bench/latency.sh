#!/bin/bash
# Key-to-sound latency of the drum pads, against a player spawned per hit (paplay, or pw-play on
# PipeWire), on a private display (with a window manager, so that the main window can take the keyboard
# focus) and a private sound server: E2E_SERVER=pulse (the default) or pipewire. Each output the server
# can take is measured in turn (OUTPUTS, by default "pipewire pulse" on PipeWire, "pulse" on PulseAudio),
# in the same session. Then the same measure of a copy of Zorvik whose Hi Hat starts with 50 ms of
# silence: it must come out 50 ms later, which checks the whole method with the player's own small jitter.
#
# Usage: [E2E_SERVER=pipewire] [OUTPUTS="pipewire"] bench/latency.sh BUILD_FOLDER [bench_latency options,
# e.g. --hits 400]; bench/latency-all.sh runs it on both servers.
# ZORVIK_ENV, if set, is put in Zorvik's environment only, to try the player's settings without
# touching the capture or paplay: e.g. ZORVIK_ENV="PULSE_LATENCY_MSEC=3" bench/latency.sh build
# The graph may run as fast as the drums ask, unlike in the tests (see start_pipewire).
E2E_PW_MIN_QUANTUM=${E2E_PW_MIN_QUANTUM:-32}
. "$(dirname "$0")/../tests/e2e/lib.sh"
BUILD=${1:?usage: bench/latency.sh BUILD_FOLDER [options]}
shift
BENCH="$BUILD/bench/bench_latency"
HIHAT="$BUILD/Sounds/Hi Hat.wav"
for f in "$BUILD/Zorvik" "$BENCH" "$HIHAT"; do [ -e "$f" ] || fail "missing $f"; done
PAD=0.05

# start_zorvik PROGRAM: starts it, opens the main window and gives it the keyboard focus; sets PID.
start_zorvik() {
    # shellcheck disable=SC2086 # ZORVIK_ENV is a list of NAME=VALUE words
    env ${ZORVIK_ENV:-} "$1" >>"$E2E_TMP/zorvik.log" 2>&1 &
    PID=$!
    track $PID
    SPLASH=$(window_of $PID) || fail "no splash window"
    geometry "$SPLASH"
    xdotool mousemove $((WX + 10)) $((WY + 10)) click 1
    wait_for 5 sh -c "xdotool search --onlyvisible --pid $PID | grep -qv '^$SPLASH\$'" || fail "no main window"
    xdotool windowactivate --sync "$(xdotool search --onlyvisible --pid $PID | grep -v "^$SPLASH\$" | head -1)"
}

# Closes Zorvik as a user would, and kills it if it stays: a program that hangs on closing must not
# hang the bench.
stop_zorvik() {
    xdotool key --clearmodifiers alt+F4
    wait_for 5 ended "$PID" || kill -KILL "$PID"
    wait "$PID" 2>/dev/null || true
}

# median_of OUTPUT: the median of the Zorvik series in the bench's output.
median_of() { sed -n 's/^key -> sound, Zorvik .* median *\([0-9.]*\) ms.*/\1/p' <<<"$1"; }

start_display wm
start_sound
sox "$HIHAT" "$E2E_TMP/delayed.wav" pad $PAD
if [ "$E2E_SERVER" = pipewire ]; then
    PLAYER=pw-play
    OUTPUTS=${OUTPUTS:-pipewire pulse}
    # The graph's period when the run starts: it bounds how soon anything can be heard.
    note "PipeWire graph: $(pw-metadata -n settings 0 2>/dev/null | grep -Eo "clock\.(quantum|min-quantum|force-quantum)'? value:'[0-9]+'" | tr '\n' ' ')"
else
    PLAYER=paplay
    OUTPUTS=${OUTPUTS:-pulse}
fi

for OUTPUT in $OUTPUTS; do
ZORVIK_ENV_BASE=${ZORVIK_ENV:-}
ZORVIK_ENV="ZORVIK_AUDIO=$OUTPUT $ZORVIK_ENV_BASE"
start_zorvik "$BUILD/Zorvik"
# The server's view of the player's stream while the bench runs: how much it keeps queued, and the
# sink's own latency, which the small capture fragments hold down as they would a real sink's.
(
    sleep 10
    pactl list sink-inputs | grep -E 'application.name|Latency|Sample Spec'
    pactl list sinks | grep -E '^\s*Latency'
) >"$E2E_TMP/streams.txt" 2>&1 &
track $!
note "$E2E_SERVER server, Zorvik with $ZORVIK_ENV: key \"3\" (Hi Hat) against $PLAYER of the same file, and of it behind ${PAD}s of silence"
PLAIN=$("$BENCH" --key 3 --player "$PLAYER" --baseline "$HIHAT" --delayed "$E2E_TMP/delayed.wav" "$@") || fail "the bench failed: $PLAIN"
echo "$PLAIN"
note "output chosen: $(grep 'drums play through' "$E2E_TMP/zorvik.log" | tail -1)"
note "sound server streams during the run:"
cat "$E2E_TMP/streams.txt"
stop_zorvik
ZORVIK_ENV=$ZORVIK_ENV_BASE
done

# The copy finds its kit beside itself.
KIT="$E2E_TMP/kit"
mkdir -p "$KIT/Sounds"
cp "$BUILD/Zorvik" "$KIT/"
ln -s "$(cd "$BUILD" && pwd)/skin" "$KIT/skin"
for f in "$BUILD"/Sounds/*.wav; do ln -s "$(cd "$(dirname "$f")" && pwd)/$(basename "$f")" "$KIT/Sounds/"; done
rm "$KIT/Sounds/Hi Hat.wav"
cp "$E2E_TMP/delayed.wav" "$KIT/Sounds/Hi Hat.wav"
start_zorvik "$KIT/Zorvik"
note "the same, with the Hi Hat behind ${PAD}s of silence"
DELAYED=$("$BENCH" --key 3 --hits 100 --baseline-hits 0) || fail "the bench failed: $DELAYED"
grep -E '^(capture: around|key|  )' <<<"$DELAYED"
stop_zorvik
echo "Zorvik with the delayed Hi Hat minus Zorvik, medians: $(echo "$(median_of "$DELAYED") - $(median_of "$PLAIN")" | bc) ms (expected $(echo "$PAD * 1000" | bc | sed 's/\.0*$//'))"
