#!/bin/bash
# The desktop's media controls, as playerctl drives them over MPRIS on the private session bus: a song
# named on the command line (as a file manager's "Open with" starts Zorvik) waits in the window and in
# the metadata; Play, Pause and Stop do as the window's buttons do; the volume and the speed set by the
# controls move the sliders, and a slider the user moves is seen by them; the loop keys show as
# LoopStatus, and None clears the loop.
. "$(dirname "$0")/lib.sh"
ZORVIK=$1
WAVCHECK=$2
E2E_SERVER=pipewire

start_display wm
start_sound

SONG="$E2E_TMP/Öpen with.mp3"
sox -n -r 48000 -c 2 "$SONG" synth 0.25 sine 440 vol 0.5 pad 0 0.25 repeat 59 2>/dev/null || fail "cannot make the song"
open_main "$ZORVIK" "$SONG"
player() { playerctl --player=zorvik "$@" 2>/dev/null; }
# property NAME [VALUE]: the Player's property, or sets it (a GVariant such as "<0.75>").
property() {
    if [ $# -eq 1 ]; then
        gdbus call --session --dest org.mpris.MediaPlayer2.zorvik --object-path /org/mpris/MediaPlayer2 \
            --method org.freedesktop.DBus.Properties.Get org.mpris.MediaPlayer2.Player "$1" | tr -d '()<>,'
    else
        gdbus call --session --dest org.mpris.MediaPlayer2.zorvik --object-path /org/mpris/MediaPlayer2 \
            --method org.freedesktop.DBus.Properties.Set org.mpris.MediaPlayer2.Player "$1" "$2" >/dev/null
    fi
}
is() { [ "$(player "$1")" = "$2" ]; }

note "the song from the command line, named in the metadata, waiting for Play"
wait_for $E2E_BOUND sh -c "playerctl --player=zorvik metadata title 2>/dev/null | grep -qxF 'Öpen with.mp3'" ||
    fail "the controls do not name the song: $(player metadata)"
is status Stopped || fail "status $(player status) before Play"

note "Play from the controls: the song is heard"
record_start "$E2E_TMP/play.wav"
player play
sleep 1.5
record_stop
[ "$("$WAVCHECK" first "$E2E_TMP/play.wav" 0 -30)" != none ] || fail "Play from the controls is silent"
is status Playing || fail "status $(player status) while playing"
# (An MP3's length is known once some of it has been read.)
LENGTH=$(player metadata mpris:length)
[ "${LENGTH:-0}" -gt 29000000 ] || fail "the song's length is given as '$LENGTH' microseconds"

note "Pause: silence, held where it was; Play goes on from there"
player pause
sleep 0.3
HELD=$(player position)
record_start "$E2E_TMP/paused.wav"
sleep 1
record_stop
[ "$("$WAVCHECK" first "$E2E_TMP/paused.wav" 0 -90)" = none ] || fail "sound while paused"
is status Paused || fail "status $(player status) while paused"
[ "$(echo "$(player position) - $HELD < 0.05" | bc)" = 1 ] || fail "the position moved while paused: $HELD, then $(player position)"
player play
sleep 0.3
[ "$(echo "$(player position) > $HELD" | bc)" = 1 ] || fail "Play did not go on from $HELD s"

note "the controls' volume and speed move the sliders"
player volume 0.5
wait_for 2 sh -c '[ "$(playerctl --player=zorvik volume)" = 0.500000 ]' || fail "volume $(player volume)"
property Rate "<0.75>"
[ "$(property Rate)" = 0.75 ] || fail "rate $(property Rate) after setting 0.75"
note "and a slider the user moves is seen by the controls"
click_at 260 80
xdotool key End
wait_for 2 sh -c "[ \"\$(gdbus call --session --dest org.mpris.MediaPlayer2.zorvik --object-path /org/mpris/MediaPlayer2 --method org.freedesktop.DBus.Properties.Get org.mpris.MediaPlayer2.Player Rate | tr -d '()<>,')\" = 1.5 ]" ||
    fail "rate $(property Rate) after the Speed slider went to 150"

note "the loop keys show as LoopStatus, and None clears the loop"
is loop None || fail "loop $(player loop) before any key"
xdotool key KP_7
sleep 1
xdotool key KP_8
wait_for 2 sh -c '[ "$(playerctl --player=zorvik loop)" = Track ]' || fail "loop $(player loop) after 7 and 8"
player loop None
wait_for 2 sh -c '[ "$(playerctl --player=zorvik loop)" = None ]' || fail "loop $(player loop) after None"

note "Stop: silence"
player stop
sleep 0.3
record_start "$E2E_TMP/stopped.wav"
sleep 1
record_stop
[ "$("$WAVCHECK" first "$E2E_TMP/stopped.wav" 0 -90)" = none ] || fail "sound after Stop"
is status Stopped || fail "status $(player status) after Stop"

note "Quit from the controls ends the program"
gdbus call --session --dest org.mpris.MediaPlayer2.zorvik --object-path /org/mpris/MediaPlayer2 \
    --method org.mpris.MediaPlayer2.Quit >/dev/null
wait_for $E2E_BOUND ended $PID || fail "the program did not end"
wait $PID || fail "exit code $?"
echo "PASS"
