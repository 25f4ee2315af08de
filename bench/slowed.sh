#!/bin/bash
# A slowed drum loop as a user hears it, run after run: on a private display and PulseAudio null sink,
# the Speed slider to its left end (0.5), "Load" a 120 BPM drum loop (hi-hats on every eighth, kick and
# snare, a quiet 440 Hz tone under it; 44.1 kHz stereo WAV made from our own kit), "Play", and 22 s of the
# sink's monitor recorded. For each run: the beats heard, the share heard twice (a second attack within
# 60 ms) and the median onset error against the timeline the first attack starts (wavcheck attacks).
#
# Usage: bench/slowed.sh BUILD_FOLDER [RUNS]   (20 unless told)
#   SLOWED_WHILE_PLAYING=1  Speed goes to 0.5 two seconds after "Play" instead of before "Load"; the
#                           recording starts a second after that
#   SLOWED_SONG=FILE        plays FILE instead of the loop, and only records (no figures)
#   SLOWED_KEEP=PREFIX      keeps each run's recording as PREFIX-RUN.wav
. "$(dirname "$0")/../tests/e2e/lib.sh"
BUILD=${1:?usage: bench/slowed.sh BUILD_FOLDER [RUNS]}
RUNS=${2:-20}
WAVCHECK="$BUILD/tests/wavcheck"
KIT="$BUILD/Sounds"
for f in "$BUILD/Zorvik" "$WAVCHECK" "$KIT/Kick.wav"; do [ -e "$f" ] || fail "missing $f"; done

start_display wm
start_sound

# One bar of 2 s: hats every 0.25 s, the kick on 1 and 3, the snare on 2 and 4; six bars. Each part is
# mixed at its own level (-v 1), not at sox's share of one over the number of parts.
for drum in Kick Snare "Hi Hat"; do sox "$KIT/$drum.wav" -r 44100 -c 2 "$E2E_TMP/${drum// /}.wav"; done
PARTS=()
for i in 0 1 2 3 4 5 6 7; do PARTS+=(-v 1 "|sox $E2E_TMP/HiHat.wav -p pad $(echo "$i * 0.25" | bc) 2"); done
for at in 0 1; do PARTS+=(-v 1 "|sox $E2E_TMP/Kick.wav -p pad $at 2"); done
for at in 0.5 1.5; do PARTS+=(-v 1 "|sox $E2E_TMP/Snare.wav -p pad $at 2"); done
sox -m "${PARTS[@]}" -r 44100 -c 2 "$E2E_TMP/bar.wav" trim 0 2 || fail "cannot make the bar"
sox -n -r 44100 -c 2 "$E2E_TMP/tone.wav" synth 2 sine 440 vol 0.03
SONG=${SLOWED_SONG:-$E2E_TMP/loop.wav}
[ -n "${SLOWED_SONG:-}" ] || sox -m -v 1 "$E2E_TMP/bar.wav" -v 1 "$E2E_TMP/tone.wav" -b 16 "$SONG" repeat 5 || fail "cannot make the loop"

for run in $(seq "$RUNS"); do
    open_main "$BUILD/Zorvik"
    xdotool windowactivate --sync "$MAIN"
    click_at 260 80  # the Speed slider takes the focus
    [ -n "${SLOWED_WHILE_PLAYING:-}" ] || xdotool key Home
    load_song "$SONG"
    if [ -n "${SLOWED_WHILE_PLAYING:-}" ]; then
        click_at 341 120
        sleep 2
        click_at 260 80
        xdotool key Home
        sleep 1
        record_start "$E2E_TMP/run.wav"
    else
        record_start "$E2E_TMP/run.wav"
        click_at 341 120
    fi
    sleep 22
    record_stop
    xdotool key --clearmodifiers alt+F4
    wait_for $E2E_BOUND ended "$PID" || fail "the program did not end"
    [ -z "${SLOWED_KEEP:-}" ] || cp "$E2E_TMP/run.wav" "$SLOWED_KEEP-$run.wav"
    [ -z "${SLOWED_SONG:-}" ] || continue
    read -r BEATS TWICE ERROR <<<"$("$WAVCHECK" attacks "$E2E_TMP/run.wav" 0 22 0.5)"
    echo "FIGURE|slowed to 0.5, run $run|beats $BEATS|heard twice $TWICE %|median onset error $ERROR ms"
done
