#!/bin/bash
# An e-drum kit played into the program's MIDI input on a private PipeWire, heard at the sink's monitor:
# the input is there as soon as the main window is, each General MIDI drum note is heard as its row's
# sample at its velocity's level and at its own time, a kick and a hi-hat struck together are both
# heard, a closed hi-hat chokes a ringing open one, and the pad bar follows. Then a source that plays
# a burst of 1,000 notes in a second and disappears in the middle of it leaves the program running and
# playing. A hardware source (a port marked physical, as the ALSA sequencer bridge marks a kit's) is
# linked by the program itself, whether it was there when the program started or is plugged in later,
# and again each time it is unplugged and plugged in.
. "$(dirname "$0")/lib.sh"
ZORVIK=$1
WAVCHECK=$2
BUILD=$3
E2E_SERVER=pipewire
KIT="$BUILD/Sounds"

start_display wm
start_sound

# kit NAME NOTE DELAY_MS: a stand-in for a hardware kit, named NAME, that strikes NOTE once after DELAY_MS.
kit() {
    "$BUILD/tests/midisource" "$1" "$2" 1 "$3" 1000 &
    track $!
}
# linked NAME: a link from NAME's port to the program's MIDI input shows within 5 s.
linked() { wait_for $E2E_BOUND sh -c "pw-link -l | grep -A1 '^$1:' | grep -qF -- '-> $PORT'"; }
PORT="Zorvik Drums MIDI:midi_in"

note "a kit there before the program is linked when it starts"
kit kit-at-start 38 600000
open_main "$ZORVIK"

note "the MIDI input is there before the first note"
wait_for $E2E_BOUND sh -c "pw-link -i | grep -qxF '$PORT'" || fail "no MIDI input port: $(pw-link -i | tr '\n' ' ')"
linked kit-at-start || fail "the kit there at start is not linked: $(pw-link -l | tr '\n' ' ')"

# Two seconds for the link before the first note; then a note every 250 ms (240 ticks).
write_midi "$E2E_TMP/kit.mid" "1920 36 127" "240 42 64" "240 36 127" "0 42 127" "240 38 100" "240 60 127" \
    "240 46 127" "240 42 127" "480 49 127"
record_start "$E2E_TMP/kit.wav"
play_midi "$E2E_TMP/kit.mid" "$PORT"
wait "$PLAYER" || fail "the MIDI player failed"
sleep 0.8
record_stop

# Everything is placed from the first kick, so the recording's own start does not matter.
read -r KICK _ <<<"$("$WAVCHECK" find "$E2E_TMP/kit.wav" "$KIT/Kick.wav" 0)"
at() { echo "$KICK + $1" | bc; }
# heard OFFSET DRUM... : the gains of the drums starting together OFFSET seconds after the first kick;
# checks that they start within 1 ms of that time.
heard() {
    local offset=$1 start
    shift
    local files=()
    for drum in "$@"; do files+=("$KIT/$drum.wav"); done
    read -r start GAINS <<<"$("$WAVCHECK" gains "$E2E_TMP/kit.wav" "$(at "$offset")" "${files[@]}")"
    [ "$(echo "define abs(x) { if (x < 0) return -x; return x; }; abs($start - $(at "$offset")) <= 0.001" | bc)" = 1 ] ||
        fail "$* at $start s, not $(at "$offset") s"
    note "$* at +$offset s: gains $GAINS"
}
near() { [ "$(echo "define abs(x) { if (x < 0) return -x; return x; }; abs($1 - $2) <= $3" | bc)" = 1 ]; }

heard 0 Kick
near "$GAINS" 1 0.05 || fail "the kick at velocity 127 plays at $GAINS, not at full level"
heard 0.25 "Hi Hat"
HAT_DB=$(echo "20 * l($GAINS) / l(10)" | bc -l)
near "$HAT_DB" -12 2 || fail "the hi-hat at velocity 64 is at $HAT_DB dB, not about -12 dB"
heard 0.5 Kick "Hi Hat"
read -r KICK_GAIN HAT_GAIN <<<"$GAINS"
near "$KICK_GAIN" 1 0.1 && near "$HAT_GAIN" 1 0.1 || fail "the kick and the hi-hat struck together play at $GAINS"
heard 0.75 Snare
near "$GAINS" 0.62 0.05 || fail "the snare at velocity 100 plays at $GAINS, not at (100/127)^2"

note "the closed hi-hat chokes the open one"
# 100 to 200 ms after the closed hi-hat, only its own decay may sound, not the open one ringing on.
CHOKED=$("$WAVCHECK" level "$E2E_TMP/kit.wav" "$(at 1.6)" "$(at 1.7)")
CLOSED=$("$WAVCHECK" level "$KIT/Hi Hat.wav" 0.1 0.2)
OPEN=$("$WAVCHECK" level "$KIT/Open Hi Hat.wav" 0.35 0.45)
note "after the choke ${CHOKED} dB; the closed hi-hat alone ${CLOSED} dB, the open one ringing ${OPEN} dB"
[ "$(echo "$CHOKED < $CLOSED + 3 && $CHOKED < $OPEN - 10" | bc)" = 1 ] || fail "the open hi-hat rang on"
heard 2 Crash
near "$GAINS" 1 0.05 || fail "the crash plays at $GAINS"

note "the lit bar follows the notes to the Crash row"
screenshot "$E2E_TMP/midi.png"
bar_matches "$E2E_TMP/midi.png" "$(row_top 7)" "$BUILD/skin/PadPressedPicture.png" || fail "the Crash row is not lit"
bar_matches "$E2E_TMP/midi.png" "$(row_top 0)" "$BUILD/skin/PadPicture.png" || fail "the Kick row is still lit"

note "a burst of 1,000 notes in a second, its source gone in the middle of it"
BURST=("1920 36 100")
NOTES=(36 38 42 46 50 47 43 49)
for i in $(seq 999); do BURST+=("1 ${NOTES[$((i % 8))]} $((1 + i % 127))"); done
write_midi "$E2E_TMP/burst.mid" "${BURST[@]}"
record_start "$E2E_TMP/burst.wav"
play_midi "$E2E_TMP/burst.mid" "$PORT"
sleep 2.5
kill -9 "$PLAYER"
sleep 0.5
record_stop
kill -0 "$PID" 2>/dev/null || fail "the program died in the burst"
# Half a second of the burst was played before its source went; no frame of it may drop out.
FIRST=$("$WAVCHECK" first "$E2E_TMP/burst.wav" 0 -40)
[ "$FIRST" != none ] || fail "the burst is not heard"
GAPS=$("$WAVCHECK" gaps "$E2E_TMP/burst.wav" "$(echo "$FIRST + 0.05" | bc)" "$(echo "$FIRST + 0.35" | bc)")
[ "${GAPS%% *}" = 0 ] || fail "the burst dropped out: $GAPS"
note "the keyboard still plays"
xdotool windowactivate --sync "$MAIN"
record_start "$E2E_TMP/after.wav"
xdotool key 1
sleep 0.6
record_stop
read -r _ MATCH <<<"$("$WAVCHECK" find "$E2E_TMP/after.wav" "$KIT/Kick.wav" 0)"
[ "$(echo "$MATCH > 0.95" | bc)" = 1 ] || fail "a key after the burst plays no kick ($MATCH)"

note "a kit plugged in later is linked and heard, unplugged and plugged in again ten times"
# PipeWire gives a port plugged in again the id of the one unplugged; each time it is linked and heard.
rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$PID/status"; }
for replug in $(seq 10); do
    record_start "$E2E_TMP/plugged.wav"
    "$BUILD/tests/midisource" kit-plugged-in 36 1 700 1000 &
    SOURCE=$!
    track $SOURCE
    linked kit-plugged-in || fail "plugged in for the ${replug}th time, the kit is not linked: $(pw-link -l | tr '\n' ' ')"
    sleep 1.2
    record_stop
    read -r _ MATCH <<<"$("$WAVCHECK" find "$E2E_TMP/plugged.wav" "$KIT/Kick.wav" 0)"
    [ "$(echo "$MATCH > 0.95" | bc)" = 1 ] || fail "plugged in for the ${replug}th time, the kit is not heard ($MATCH)"
    kill "$SOURCE"
    wait "$SOURCE" 2>/dev/null || true
    wait_for $E2E_BOUND sh -c "! pw-link -o | grep -q '^kit-plugged-in:'" || fail "the kit's port stays after it is gone"
    [ "$replug" = 1 ] && RSS_FIRST=$(rss)
done
RSS_LAST=$(rss)
note "memory after the first replug ${RSS_FIRST} KiB, after the tenth ${RSS_LAST} KiB"
echo "FIGURE|kit replugged: memory growth over nine replugs|$((RSS_LAST - RSS_FIRST)) KiB"
# A guard against a leak per replug, with room for the sanitizers' own bookkeeping.
[ $((RSS_LAST - RSS_FIRST)) -lt 8192 ] || fail "the program grew by $((RSS_LAST - RSS_FIRST)) KiB over nine replugs"

xdotool key --clearmodifiers alt+F4
wait_for $E2E_BOUND ended $PID || fail "the program did not end"
wait "$PID" || fail "exit code $?"
echo "PASS"
