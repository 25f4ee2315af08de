#!/bin/bash
# Dropouts in the drums' sound: a copy of Zorvik whose Crash and Open Hi Hat are steady tones is
# played with the two keys alternating, 8 hits a second, as a drummer would, while the sound server's
# output is recorded; every run of digital silence inside the tones is a dropout the user hears as a
# click. Each round runs once per output the server can take (OUTPUTS): on PulseAudio our own stream
# and SDL's PulseAudio back end, on PipeWire (E2E_SERVER=pipewire) the native node and our PulseAudio
# stream through pipewire-pulse. Beside them, the same server's own player (pw-play asking for the drums'
# 64 frames, or paplay asking for the drums' first PulseAudio buffer) plays a steady tone for as long: what
# any client of that server drops out on this machine at that latency.
#
# On PipeWire each round also says the period the drums asked for last.
#
# Usage: [E2E_SERVER=pipewire] [E2E_PW_RATE=96000] bench/glitches.sh BUILD_FOLDER [ROUNDS [SECONDS]]
# The graph may run as fast as the drums ask, unlike in the tests (see start_pipewire).
E2E_PW_MIN_QUANTUM=${E2E_PW_MIN_QUANTUM:-32}
. "$(dirname "$0")/../tests/e2e/lib.sh"
BUILD=${1:?usage: bench/glitches.sh BUILD_FOLDER [ROUNDS [SECONDS]]}
ROUNDS=${2:-1}
SECONDS_PER_ROUND=${3:-60}
WAVCHECK="$BUILD/tests/wavcheck"
for f in "$BUILD/Zorvik" "$WAVCHECK"; do [ -e "$f" ] || fail "missing $f"; done

APP="$E2E_TMP/app"
mkdir -p "$APP/Sounds"
cp "$BUILD/Zorvik" "$APP/"
ln -s "$(cd "$BUILD" && pwd)/skin" "$APP/skin"
# Two pitches and two levels, so that the cut from one to the other is never silent.
sox -n -r 48000 -c 2 -b 16 "$APP/Sounds/Crash.wav" synth 2.4 sine 700 vol 0.37
sox -n -r 48000 -c 2 -b 16 "$APP/Sounds/Open Hi Hat.wav" synth 2.4 sine 1100 vol 0.15

start_display wm
start_sound

# count_gaps FILE: the dropouts in a round's recording, from just after the first sound (found in 2 ms
# steps, so up to 2 ms early) to the end of the round.
count_gaps() {
    local first
    first=$("$WAVCHECK" first "$1" 0 -40)
    [ "$first" != none ] || fail "nothing was heard"
    "$WAVCHECK" gaps "$1" "$(echo "$first + 0.01" | bc)" \
        "$(echo "$first + $SECONDS_PER_ROUND - 0.3" | bc)" | cut -d' ' -f1
}

# reference_round PLAYER: prints the dropouts of the server's own player playing a steady tone.
reference_round() {
    local tone="$E2E_TMP/tone.wav"
    [ -e "$tone" ] || sox -n -r 48000 -c 2 -b 16 "$tone" synth "$((SECONDS_PER_ROUND + 1))" sine 700 vol 0.37
    record_start "$E2E_TMP/round.wav"
    case "$1" in
        pw-play) pw-play --latency=64 "$tone" ;;
        paplay) paplay --latency-msec=15 "$tone" ;;
    esac
    record_stop
    count_gaps "$E2E_TMP/round.wav"
}

# play_round OUTPUT: prints the dropouts of one round with Zorvik playing through OUTPUT ("sdl" is
# SDL's PulseAudio back end; "pw-play" and "paplay" the server's own player). Runs in a subshell of its
# own, so the environment goes no further.
play_round() {
    case "$1" in pw-play | paplay)
        reference_round "$1"
        return
        ;;
    esac
    export ZORVIK_AUDIO=$1
    if [ "$1" = sdl ]; then export SDL_AUDIODRIVER=pulseaudio; fi
    open_main "$APP/Zorvik"
    record_start "$E2E_TMP/round.wav"
    drum_pads "$SECONDS_PER_ROUND"
    record_stop
    xdotool key --clearmodifiers alt+F4
    wait_for 5 ended "$PID" || kill -KILL "$PID"
    wait "$PID" 2>/dev/null || true
    # The period the native node asked for last (it starts at 64 frames, and the log says each change).
    if [ "$1" = pipewire ]; then
        local period
        period=$(grep -o 'asking for [0-9]* frames' "$E2E_TMP/zorvik.log" | tail -1 | tr -dc 0-9)
        echo "pipewire: the drums' period at the end of the round: ${period:-64} frames" >&2
    fi
    count_gaps "$E2E_TMP/round.wav"
}

if [ "$E2E_SERVER" = pipewire ]; then OUTPUTS=${OUTPUTS:-pipewire pulse pw-play}; else OUTPUTS=${OUTPUTS:-pulse sdl paplay}; fi
declare -A TOTAL
for output in $OUTPUTS; do TOTAL[$output]=0; done
note "$E2E_SERVER server: $ROUNDS rounds of ${SECONDS_PER_ROUND}s, 8 hits/s; dropouts per round ($OUTPUTS)"
for _ in $(seq "$ROUNDS"); do
    line=""
    for output in $OUTPUTS; do
        n=$(play_round "$output")
        line="$line $output=$n"
        TOTAL[$output]=$((TOTAL[$output] + n))
    done
    echo " $line"
done
minutes=$(echo "scale=3; $ROUNDS * $SECONDS_PER_ROUND / 60" | bc)
for output in $OUTPUTS; do
    echo "dropouts per minute of playing, $E2E_SERVER server, $output: $(echo "scale=1; ${TOTAL[$output]} / $minutes" | bc)"
done
