#!/bin/bash
# Drum keys typed on a real keyboard play the kit into the sound server and move the lit bar: "1" then
# "2" must be heard as the kick followed by the snare, and the bar must end on the "Snare" row.
# Then with the Sounds folder gone, a drum key plays the built-in default sound. E2E_SERVER=pipewire runs
# it all on a private PipeWire instead of PulseAudio.
. "$(dirname "$0")/lib.sh"
ZORVIK=$1
WAVCHECK=$2
BUILD=$3

start_display wm
start_sound
# Run from a folder whose name is not plain ASCII: the sample paths are built from it on every hit.
APP="$E2E_TMP/Drüms – Studio"
mkdir -p "$APP"
cp "$ZORVIK" "$APP/Zorvik"
cp -r "$BUILD/Sounds" "$APP/Sounds"
open_main "$APP/Zorvik"

record_start "$E2E_TMP/drums.wav"
xdotool key 1
sleep 0.4
xdotool key 2
sleep 0.8
record_stop

read -r KICK_AT KICK_MATCH <<<"$("$WAVCHECK" find "$E2E_TMP/drums.wav" "$BUILD/Sounds/Kick.wav" 0)"
read -r SNARE_AT SNARE_MATCH <<<"$("$WAVCHECK" find "$E2E_TMP/drums.wav" "$BUILD/Sounds/Snare.wav" 0)"
note "kick at ${KICK_AT}s (match $KICK_MATCH), snare at ${SNARE_AT}s (match $SNARE_MATCH)"
[ "$(echo "$KICK_MATCH > 0.95 && $SNARE_MATCH > 0.95" | bc)" = 1 ] || fail "the recording does not hold the kick and the snare"
[ "$(echo "$SNARE_AT - $KICK_AT > 0.2" | bc)" = 1 ] || fail "the snare did not follow the kick"
# Nothing sounded before the kick.
FIRST=$("$WAVCHECK" first "$E2E_TMP/drums.wav" 0 -60)
[ "$(echo "$KICK_AT - $FIRST < 0.003" | bc)" = 1 ] || fail "sound at ${FIRST}s before the kick at ${KICK_AT}s"

# On PipeWire the drums play through a node of their own, not through its PulseAudio service.
WANT=$([ "$E2E_SERVER" = pipewire ] && echo pipewire || echo pulse)
grep -q "drums play through $WANT" "$E2E_TMP/zorvik.log" || fail "not played through $WANT: $(cat "$E2E_TMP/zorvik.log")"

note "the lit bar stands on the Snare row"
sleep 0.2
screenshot "$E2E_TMP/drums.png"
cp "$E2E_TMP/drums.png" "${E2E_ARTIFACTS:-$E2E_TMP}/drums.png" 2>/dev/null || true
bar_matches "$E2E_TMP/drums.png" "$(row_top 1)" "$BUILD/skin/PadPressedPicture.png" || fail "the Snare row is not lit"
bar_matches "$E2E_TMP/drums.png" "$(row_top 0)" "$BUILD/skin/PadPicture.png" || fail "the Kick row is still lit"

note "without the Sounds folder a drum key plays the default sound"
mv "$APP/Sounds" "$APP/Sounds.away"
record_start "$E2E_TMP/default.wav"
xdotool key 5
sleep 0.5
record_stop
[ "$("$WAVCHECK" first "$E2E_TMP/default.wav" 0 -40)" != none ] || fail "silence for a missing sample"
read -r _ TOM_MATCH <<<"$("$WAVCHECK" find "$E2E_TMP/default.wav" "$APP/Sounds.away/Mid Tom.wav" 0)"
[ "$(echo "$TOM_MATCH < 0.5" | bc)" = 1 ] || fail "the missing sample still played ($TOM_MATCH)"

xdotool key --clearmodifiers alt+F4
wait_for $E2E_BOUND ended $PID || fail "the program did not end"
wait $PID || fail "exit code $?"
echo "PASS"
