#!/bin/bash
# The transport panel as a user drives it: load a song through the real dialog, play it, slow it down and
# speed it up without a change of pitch, turn it down, stop it, drum over it, loop a passage from the keypad,
# and close while it plays.
. "$(dirname "$0")/lib.sh"
ZORVIK=$1
WAVCHECK=$2
BUILD=$3

start_display wm
start_sound

# A 440 Hz tone pulsed a quarter second on, a quarter second off: the pitch and the pace can be measured.
MUSIC_DIR="$E2E_TMP/Mü sic"
mkdir -p "$MUSIC_DIR"
SONG="$MUSIC_DIR/Tëst – tone ü.mp3"
sox -n -r 48000 -c 2 "$SONG" synth 0.25 sine 440 vol 0.5 pad 0 0.25 repeat 59 2>/dev/null || fail "cannot make the song"

open_main "$ZORVIK"

note "Load: the Music Loader dialog, a path with spaces and non-ASCII letters pasted into it"
load_song "$SONG"
# The title's dark letters stand in the grey name box once the load has returned.
title_shown() {
    screenshot "$E2E_TMP/loaded.png"
    DARK=$(convert "$E2E_TMP/loaded.png" -crop "249x19+$((WX + 144))+$((WY + 48))" +repage -colorspace gray \
        -threshold 30% -negate -format '%[fx:round(mean*w*h)]' info:)
    [ "$DARK" -gt 100 ]
}
wait_for $E2E_BOUND title_shown || fail "no title in the name box"
cp "$E2E_TMP/loaded.png" "${E2E_ARTIFACTS:-$E2E_TMP}/transport-loaded.png" 2>/dev/null || true
if xdotool search --onlyvisible --name 'Music Loader' >/dev/null; then fail "the song was refused"; fi

note "Play: the tone at its pitch and pace"
record_start "$E2E_TMP/play.wav"
click_at 341 120
sleep 2.6
record_stop
START=$("$WAVCHECK" first "$E2E_TMP/play.wav" 0 -30)
[ "$START" != none ] || fail "Play is silent"
pace() {  # median interval between onsets of FILE from FROM to TO [above DB, -30 unless told]
    "$WAVCHECK" onsets "$1" "$2" "$3" "${4:--30}" | awk 'NR > 1 { print $1 - prev } { prev = $1 }' | sort -n |
        awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'
}
FREQ=$("$WAVCHECK" freq "$E2E_TMP/play.wav" "$(echo "$START + 0.03" | bc)" "$(echo "$START + 0.22" | bc)")
PACE=$(pace "$E2E_TMP/play.wav" "$START" 2.5)
LEVEL_FULL=$("$WAVCHECK" level "$E2E_TMP/play.wav" "$(echo "$START + 0.05" | bc)" "$(echo "$START + 0.2" | bc)")
note "normal speed: ${FREQ} Hz, a pulse every ${PACE} s, ${LEVEL_FULL} dBFS"
[ "$(echo "$FREQ > 435.6 && $FREQ < 444.4" | bc)" = 1 ] || fail "pitch $FREQ Hz"
[ "$(echo "$PACE > 0.485 && $PACE < 0.515" | bc)" = 1 ] || fail "pace $PACE s"

note "the mixer shows the song and the drums as Zorvik's, with its icon"
# stream_of ROLE: the server's properties of the stream playing in that role.
stream_of() { pactl list sink-inputs | awk -v role="media.role = \"$1\"" '/^Sink Input/ { if (found) exit; text = "" }
    { text = text $0 "\n" } index($0, role) { found = 1 } END { if (found) printf "%s", text }'; }
for role in music production; do
    PROPS=$(stream_of $role)
    [ -n "$PROPS" ] || fail "no stream in the role $role: $(pactl list sink-inputs | grep -E 'media.role|application.name')"
    echo "$PROPS" | grep -q 'application.id = "org.zorvik.Zorvik"' &&
        echo "$PROPS" | grep -q 'application.icon_name = "org.zorvik.Zorvik"' &&
        echo "$PROPS" | grep -q 'application.name = "Zorvik"' ||
        fail "the $role stream does not say it is Zorvik's: $(echo "$PROPS" | grep application)"
done

# at_speed SPEED KEY SECONDS: KEY moves the Speed slider (it has the focus) to SPEED; what is then heard
# for SECONDS keeps its pitch and pulses every 0.5 / SPEED s. Pulses are counted at -15 dB (the tone is at
# -9.5 dB): slowed, a pulse's abrupt end rings on for a few tens of milliseconds at up to -18 dB.
at_speed() {
    xdotool key "$2"
    sleep 0.5
    record_start "$E2E_TMP/speed.wav"
    sleep "$3"
    record_stop
    local end first freq pulses
    end=$(echo "$3 - 0.1" | bc)
    # The first whole pulse: the recording may begin in the middle of one.
    first=$("$WAVCHECK" onsets "$E2E_TMP/speed.wav" 0 "$end" -15 | head -1)
    freq=$("$WAVCHECK" freq "$E2E_TMP/speed.wav" "$(echo "$first + 0.03" | bc)" "$(echo "$first + 0.2 / $1" | bc -l)")
    pulses=$(pace "$E2E_TMP/speed.wav" 0 "$end" -15)
    note "speed $1: ${freq} Hz, a pulse every ${pulses} s"
    [ "$(echo "$freq > 435.6 && $freq < 444.4" | bc)" = 1 ] || fail "pitch changed to $freq Hz at speed $1"
    [ "$(echo "$pulses > 0.485 / $1 && $pulses < 0.515 / $1" | bc -l)" = 1 ] || fail "pace $pulses s at speed $1"
}

note "Speed slider to 50: slower, same pitch, each pulse starting once"
click_at 260 80
at_speed 0.5 Home 4.5
note "Speed slider to 150: faster, same pitch"
at_speed 1.5 End 2.5

note "Volume slider to -100: 40 dB down"
click_at 180 80
xdotool key Home
sleep 0.5
record_start "$E2E_TMP/quiet.wav"
sleep 1.2
record_stop
FIRST=$("$WAVCHECK" onsets "$E2E_TMP/quiet.wav" 0 1.2 -75 | head -1)
LEVEL_QUIET=$("$WAVCHECK" level "$E2E_TMP/quiet.wav" "$(echo "$FIRST + 0.03" | bc)" "$(echo "$FIRST + 0.13" | bc)")
DROP=$(echo "$LEVEL_FULL - $LEVEL_QUIET" | bc)
note "volume -100: ${LEVEL_QUIET} dBFS, ${DROP} dB down"
[ "$(echo "$DROP > 39 && $DROP < 41" | bc)" = 1 ] || fail "the volume dropped by $DROP dB, not 40"

note "Stop: silence"
click_at 309 120
sleep 0.3
record_start "$E2E_TMP/stopped.wav"
sleep 1
record_stop
[ "$("$WAVCHECK" first "$E2E_TMP/stopped.wav" 0 -90)" = none ] || fail "sound after Stop"

note "Play again and drum over the music: both are heard"
click_at 341 120
sleep 0.5
record_start "$E2E_TMP/both.wav"
xdotool key 1
sleep 1.5
record_stop
read -r KICK_AT KICK_MATCH <<<"$("$WAVCHECK" find "$E2E_TMP/both.wav" "$BUILD/Sounds/Kick.wav" 0)"
note "kick at ${KICK_AT}s (match $KICK_MATCH)"
[ "$(echo "$KICK_MATCH > 0.9" | bc)" = 1 ] || fail "no kick over the music"
PULSE=$("$WAVCHECK" onsets "$E2E_TMP/both.wav" "$(echo "$KICK_AT + 0.6" | bc)" 1.5 -65 | head -1)
[ -n "$PULSE" ] || fail "the music did not go on under the drum"
FREQ=$("$WAVCHECK" freq "$E2E_TMP/both.wav" "$(echo "$PULSE + 0.02" | bc)" "$(echo "$PULSE + 0.14" | bc)")
[ "$(echo "$FREQ > 430 && $FREQ < 450" | bc)" = 1 ] || fail "the music did not go on under the drum ($FREQ Hz)"

note "A loop from the keypad: 7, 8 two seconds later, and the passage comes round again without a break"
# A rising sweep, so the pitch heard says where in the song the music is.
SWEEP="$MUSIC_DIR/sweep.mp3"
sox -n -r 48000 -c 2 "$SWEEP" synth 30 sine 200-1400 vol 0.5 2>/dev/null || fail "cannot make the sweep"
click_at 180 80
xdotool key End
load_song "$SWEEP"
click_at 341 120
sleep 1
xdotool key KP_7
sleep 2
xdotool key KP_8
sleep 0.3
record_start "$E2E_TMP/loop.wav"
sleep 7
record_stop
read -r GAPS _ <<<"$("$WAVCHECK" gaps "$E2E_TMP/loop.wav" 0 6.9)"
[ "$GAPS" = 0 ] || fail "the loop has breaks: $("$WAVCHECK" gaps "$E2E_TMP/loop.wav" 0 6.9)"
# Each seam is a fall in pitch; the passage lasts the two seconds between the keys (at speed 1.5, three
# seconds of the song), the same every time round, and starts at the same pitch each time.
"$WAVCHECK" freqs "$E2E_TMP/loop.wav" 0 6.9 0.05 >"$E2E_TMP/loop.freqs"
# (The sweep rises by a fifth in the three seconds; a window can straddle a seam, so each is compared
# with the one two before it.)
SEAMS=$(awk 'NR > 2 && $2 < 0.9 * back2 && $1 > last + 0.5 { print $1; last = $1 } { back2 = back1; back1 = $2 }' \
    "$E2E_TMP/loop.freqs")
note "seams at (s): $(echo $SEAMS)"
[ "$(echo "$SEAMS" | wc -w)" -ge 3 ] || fail "the loop did not come round: seams at $(echo $SEAMS)"
# (The keys' two seconds as the program gets them: a busy machine may hand it a key late.)
echo "$SEAMS" | awk 'NR > 1 { d = $1 - prev; if (d < 1.7 || d > 2.5) bad = 1; if (NR > 2 && (d < last - 0.1 || d > last + 0.1)) bad = 1; last = d }
    { prev = $1 } END { exit bad }' ||
    fail "the loop's length changed or is not the keys' two seconds: seams at $(echo $SEAMS)"
STARTS=$(for s in $SEAMS; do awk -v s="$s" '$1 > s + 0.04 && $1 < s + 0.11 { print $2; exit }' "$E2E_TMP/loop.freqs"; done)
note "pitch after each seam (Hz): $(echo $STARTS)"
echo "$STARTS" | awk 'NR == 1 { first = $1 } $1 < first - 15 || $1 > first + 15 { bad = 1 } END { exit bad }' ||
    fail "the loop does not start at the same point each time: $(echo $STARTS) Hz"
note "9: no loop, the song plays on past the loop's end"
xdotool key KP_9
sleep 2.5
record_start "$E2E_TMP/unlooped.wav"
sleep 1.5
record_stop
"$WAVCHECK" freqs "$E2E_TMP/unlooped.wav" 0 1.4 0.05 |
    awk 'NR > 2 && $2 < 0.9 * back2 { bad = 1 } { back2 = back1; back1 = $2 } END { exit bad }' ||
    fail "the song still loops after 9"

note "the close command while the music plays: the music stops and the program ends"
xdotool mousemove $((WX + 300)) $((WY + 100)) sleep 0.1 mousemove $((WX + 506)) $((WY + 8)) sleep 0.3 click 1
wait_for $E2E_BOUND ended $PID || fail "the program did not end"
wait $PID || fail "exit code $?"
record_start "$E2E_TMP/after.wav"
sleep 0.5
record_stop
[ "$("$WAVCHECK" first "$E2E_TMP/after.wav" 0 -90)" = none ] || fail "sound after the program ended"
echo "PASS"
