#!/bin/bash
# Dropouts in the drums' sound: a copy of Zorvik whose Crash and Open Hi Hat are steady tones is
# played with the two keys alternating every tenth of a second, as a drummer would, while the sound
# server's output is recorded; every run of digital silence inside the tones is a dropout the user
# hears as a click. Each round runs once with the player's own PulseAudio stream and once through
# SDL's PulseAudio back end (SDL_AUDIODRIVER=pulseaudio), the way the drums were played before.
#
# Usage: bench/glitches.sh BUILD_FOLDER [ROUNDS [SECONDS]]
. "$(dirname "$0")/../tests/e2e/lib.sh"
BUILD=${1:?usage: bench/glitches.sh BUILD_FOLDER [ROUNDS [SECONDS]]}
ROUNDS=${2:-5}
SECONDS_PER_ROUND=${3:-8}
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

# play_round ENV: prints the dropouts of one round with Zorvik started under ENV (NAME=VALUE or empty).
# Runs in a subshell of its own, so ENV goes no further.
play_round() {
    if [ -n "$1" ]; then export "$1"; fi
    open_main "$APP/Zorvik"
    record_start "$E2E_TMP/round.wav"
    local start end
    start=$(date +%s%N)
    end=$((start + SECONDS_PER_ROUND * 1000000000))
    while [ "$(date +%s%N)" -lt "$end" ]; do
        xdotool key plus
        sleep 0.1
        xdotool key period
        sleep 0.1
    done
    record_stop
    xdotool key --clearmodifiers alt+F4
    wait_for 5 sh -c "! kill -0 $PID 2>/dev/null" || kill -KILL "$PID"
    wait "$PID" 2>/dev/null || true
    local first
    first=$("$WAVCHECK" first "$E2E_TMP/round.wav" 0 -40)
    [ "$first" != none ] || fail "nothing was heard"
    # From just after the first sound (found in 2 ms steps, so up to 2 ms early) to the last key.
    "$WAVCHECK" gaps "$E2E_TMP/round.wav" "$(echo "$first + 0.01" | bc)" \
        "$(echo "$first + $SECONDS_PER_ROUND - 0.3" | bc)" | cut -d' ' -f1
}

OWN=0
SDL=0
note "$ROUNDS rounds of ${SECONDS_PER_ROUND}s, a key every 0.1 s; dropouts per round (own stream / SDL)"
for _ in $(seq "$ROUNDS"); do
    own=$(play_round "")
    sdl=$(play_round "SDL_AUDIODRIVER=pulseaudio")
    echo "  $own / $sdl"
    OWN=$((OWN + own))
    SDL=$((SDL + sdl))
done
minutes=$(echo "scale=3; $ROUNDS * $SECONDS_PER_ROUND / 60" | bc)
echo "dropouts per minute of playing: own stream $(echo "scale=1; $OWN / $minutes" | bc)," \
    "SDL's back end $(echo "scale=1; $SDL / $minutes" | bc)"
