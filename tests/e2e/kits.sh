#!/bin/bash
# A real layered kit played from MIDI on a private PipeWire, heard at the sink's monitor: a Program
# Change chooses a Hydrogen kit from the user's kits folder while the program runs (its name shows in
# the window's title), then the kick struck at five velocities plays each of its five velocity layers'
# own sample, at its own time. A kit dropped in as a broken file leaves the kit in use playing.
. "$(dirname "$0")/lib.sh"
ZORVIK=$1
WAVCHECK=$2
BUILD=$3
E2E_SERVER=pipewire
LAYERED=/usr/share/hydrogen/data/drumkits/Millo_MultiLayered2
[ -f "$LAYERED/drumkit.xml" ] || fail "hydrogen-drumkits is not installed"

start_display wm
start_sound

# Program 0 is the kit of Sounds, 1 the first of the user's kits: a broken one sorts first.
mkdir -p "$XDG_DATA_HOME/zorvik/kits"
ln -s "$LAYERED" "$XDG_DATA_HOME/zorvik/kits/B-layered"
mkdir "$XDG_DATA_HOME/zorvik/kits/A-broken"
echo "<drumkit_info><instrumentList><instrument>" >"$XDG_DATA_HOME/zorvik/kits/A-broken/drumkit.xml"
open_main "$ZORVIK"
PORT="Zorvik Drums MIDI:midi_in"
wait_for $E2E_BOUND sh -c "pw-link -i | grep -qxF '$PORT'" || fail "no MIDI input port"

# The kick's layers: 0-0.21, 0.21-0.46, 0.47-0.7, 0.7-0.79 and 0.8-1 of full velocity.
VELOCITIES=(15 45 75 95 120)
LAYERS=(bd_01 bd_02 bd_03 bd_04 bd_05)
# Program 1 (the broken kit), a kick, then program 2 (the layered kit). The kit's samples decode behind
# everything else the machine runs, so on a busy machine they take a few seconds; the layers are struck
# once the kit's name is in the title, as a drummer would wait for it.
write_midi "$E2E_TMP/choose.mid" "1920 program 1" "480 36 127" "480 program 2"
EVENTS=()
DELTA=960
for v in "${VELOCITIES[@]}"; do
    EVENTS+=("$DELTA 36 $v")
    DELTA=480
done
write_midi "$E2E_TMP/layers.mid" "${EVENTS[@]}"
record_start "$E2E_TMP/layers.wav"
play_midi "$E2E_TMP/choose.mid" "$PORT"
wait "$PLAYER" || fail "the MIDI player failed"
wait_for $E2E_BOUND sh -c "xdotool getwindowname '$MAIN' | grep -qF Millo_MultiLayered2" ||
    fail "the layered kit's name is not in the title: $(xdotool getwindowname "$MAIN"); $(cat "$E2E_TMP/zorvik.log")"
play_midi "$E2E_TMP/layers.mid" "$PORT"
wait "$PLAYER" || fail "the MIDI player failed"
sleep 0.8
record_stop
kill -0 "$PID" 2>/dev/null || fail "the program died choosing kits"

note "the broken kit is refused with its reason, and the kit of Sounds plays on"
grep -q "cannot be played" "$E2E_TMP/zorvik.log" || fail "no word of the broken kit: $(cat "$E2E_TMP/zorvik.log")"
BOX=$(xdotool search --name "^Drum Kit\$" | head -1)
[ -n "$BOX" ] || fail "no message box says why the broken kit was refused"
xdotool windowactivate --sync "$BOX" key Return
read -r FIRST MATCH <<<"$("$WAVCHECK" find "$E2E_TMP/layers.wav" "$BUILD/Sounds/Kick.wav" 0)"
[ "$(echo "$MATCH > 0.95" | bc)" = 1 ] || fail "the kick after the broken kit is not the Sounds kick ($MATCH)"

note "the layered kit takes over, with its name in the title"
grep -q 'kit "Millo_MultiLayered2"' "$E2E_TMP/zorvik.log" || fail "the layered kit did not load: $(cat "$E2E_TMP/zorvik.log")"
# Each layer's own sample, each at its own time: half a second after the one before.
AT=$(echo "$FIRST + 0.5" | bc)
for i in "${!LAYERS[@]}"; do
    sox "$LAYERED/${LAYERS[$i]}.flac" -r 48000 "$E2E_TMP/${LAYERS[$i]}.wav"
    PREVIOUS=$AT
    read -r AT MATCH <<<"$("$WAVCHECK" find "$E2E_TMP/layers.wav" "$E2E_TMP/${LAYERS[$i]}.wav" "$(echo "$AT + 0.4" | bc)")"
    note "velocity ${VELOCITIES[$i]}: ${LAYERS[$i]} at $AT s, match $MATCH"
    [ "$(echo "$MATCH > 0.9" | bc)" = 1 ] || fail "velocity ${VELOCITIES[$i]} does not play ${LAYERS[$i]} ($MATCH)"
    [ "$i" = 0 ] ||
        [ "$(echo "define abs(x) { if (x < 0) return -x; return x; }; abs($AT - $PREVIOUS - 0.5) < 0.01" | bc)" = 1 ] ||
        fail "${LAYERS[$i]} is heard at $AT s, not half a second after the note before ($PREVIOUS s)"
done

xdotool key --clearmodifiers alt+F4
wait_for $E2E_BOUND ended $PID || fail "the program did not end"
wait "$PID" || fail "exit code $?"
echo "PASS"
