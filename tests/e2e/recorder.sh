#!/bin/bash
# The recorder against a private sound server: the level and length of what it records from the default
# output, what it says when there is no server, and its window as Zorvik starts it (minimised, one copy
# per click), driven from the keyboard, including closing it while it records.
. "$(dirname "$0")/lib.sh"
RECORDER=$1

# stat_of FILE NAME: one figure from `sox FILE -n stat` on the left channel, e.g. "Maximum amplitude".
stat_of() { sox "$1" -n remix 1 stat 2>&1 | sed -n "s/^$2: *//p"; }
# within_db MEASURED EXPECTED: true if the two amplitudes are within 1 dB of each other.
within_db() { [ "$(echo "d = l($1 / $2) / l(10) * 20; d <= 1 && d >= -1" | bc -l)" = 1 ]; }

note "nonsense lengths are refused"
for seconds in abc 0 -1 inf nan 1e400; do
    RC=0
    "$RECORDER" --record-seconds "$seconds" --output "$E2E_TMP/bad.wav" 2>/dev/null || RC=$?
    [ $RC = 2 ] || fail "--record-seconds $seconds: exit code $RC, not 2"
done
RC=0
"$RECORDER" --record-seconds 1 2>/dev/null || RC=$?
[ $RC = 2 ] || fail "--record-seconds without --output: exit code $RC, not 2"

note "no sound server"
NOSERVER=$E2E_TMP/noserver
mkdir -m 700 "$NOSERVER"
RC=0
env -u PULSE_SERVER -u DISPLAY XDG_RUNTIME_DIR="$NOSERVER" HOME="$NOSERVER" \
    "$RECORDER" --record-seconds 1 --output "$E2E_TMP/none.wav" 2>"$E2E_TMP/noserver.err" || RC=$?
[ $RC -ne 0 ] && [ $RC -lt 128 ] || fail "exit code $RC without a sound server"
grep -q "No sound server is running" "$E2E_TMP/noserver.err" || fail "said: $(cat "$E2E_TMP/noserver.err")"
[ -z "$(ls "$E2E_TMP" | grep '\.wav$')" ] || fail "left a file behind: $(ls "$E2E_TMP")"

start_sound
sox -n -r 48000 -c 2 -t wav "$E2E_TMP/tone.wav" synth 4 sine 1000 vol 0.5
sox -n -r 48000 -c 2 -t wav "$E2E_TMP/long.wav" synth 3 sine 440 vol 0.5

note "records what the computer plays"
paplay "$E2E_TMP/tone.wav" &
TONE=$!
track $TONE
wait_for $E2E_BOUND sh -c 'pactl list short sink-inputs | grep -q .' || fail "the tone does not play"
"$RECORDER" --record-seconds 2 --output "$E2E_TMP/take.wav" || fail "the recorder failed"
LENGTH=$(stat_of "$E2E_TMP/take.wav" "Length (seconds)")
PEAK=$(stat_of "$E2E_TMP/take.wav" "Maximum amplitude")
RMS=$(stat_of "$E2E_TMP/take.wav" "RMS     amplitude")
FREQ=$(stat_of "$E2E_TMP/take.wav" "Rough   frequency")
echo "recorded ${LENGTH} s, peak $PEAK, RMS $RMS, ~$FREQ Hz"
[ "$(soxi -r "$E2E_TMP/take.wav")" = 48000 ] && [ "$(soxi -c "$E2E_TMP/take.wav")" = 2 ] || fail "not 48 kHz stereo"
[ "$(echo "$LENGTH >= 1.8 && $LENGTH <= 2.2" | bc)" = 1 ] || fail "length $LENGTH s, not 2 s"
within_db "$PEAK" 0.5 || fail "peak $PEAK, not 0.5"
# The RMS of a sine at 0.5: a gap or a dropout anywhere in the recording pulls this down.
within_db "$RMS" 0.35355 || fail "RMS $RMS, not 0.354"
[ "$(echo "$FREQ > 950 && $FREQ < 1050" | bc)" = 1 ] || fail "frequency $FREQ Hz"
wait $TONE

note "the window"
start_display wm
export HOME=$E2E_TMP/home XDG_CONFIG_HOME=$E2E_TMP/home/.config
mkdir -p "$HOME"
MUSIC=$HOME/Music
"$RECORDER" --minimized >"$E2E_TMP/a.log" 2>&1 &
A=$!
track $A
"$RECORDER" --minimized >"$E2E_TMP/b.log" 2>&1 &
B=$!
track $B

# recorder_window PID: the window of that copy the window manager manages (Qt also makes a hidden
# window carrying the same title).
recorder_window() {
    for w in $(xdotool search --all --pid "$1" --name "^Zorvik Recorder$"); do
        xprop -id "$w" WM_STATE | grep -q "window state" && echo "$w" && return 0
    done
    return 1
}
iconic() { xprop -id "$1" WM_STATE | grep -q "window state: Iconic"; }
# activate WID: raises a (possibly minimised) window and waits until it has the focus. Not --sync:
# that looks at the previously active window, which may be gone.
activate() {
    xdotool windowactivate "$1" 2>/dev/null || true
    wait_for $E2E_BOUND sh -c "[ \"\$(xdotool getactivewindow 2>/dev/null)\" = $1 ]"
}
wait_for $E2E_BOUND recorder_window $A || fail "no window for the first copy"
wait_for $E2E_BOUND recorder_window $B || fail "no window for the second copy"
WA=$(recorder_window $A)
WB=$(recorder_window $B)
wait_for $E2E_BOUND iconic "$WA" || fail "the first copy did not start minimised"
wait_for $E2E_BOUND iconic "$WB" || fail "the second copy did not start minimised"

# part_growing: a recording is running in the Music folder and sound is reaching it.
part_growing() {
    for f in "$MUSIC"/*"(recording "*").wav"; do [ -e "$f" ] && [ "$(stat -c %s "$f")" -gt 9644 ] && return 0; done
    return 1
}

note "record and stop from the keyboard"
activate "$WA" || fail "the first copy's window cannot be raised"
xdotool key --clearmodifiers alt+r
wait_for $E2E_BOUND part_growing || fail "pressing Record did not start a recording"
paplay "$E2E_TMP/long.wav" || fail "paplay failed"
xdotool key --clearmodifiers alt+s
wait_for $E2E_BOUND sh -c "! ls '$MUSIC' | grep -q '(recording '" || fail "Stop did not finish the recording"
KEPT=$(ls "$MUSIC")
echo "kept: $KEPT"
echo "$KEPT" | grep -Eq '^Zorvik [0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}-[0-9]{2}-[0-9]{2}\.wav$' || fail "kept as '$KEPT'"
LENGTH=$(stat_of "$MUSIC/$KEPT" "Length (seconds)")
PEAK=$(stat_of "$MUSIC/$KEPT" "Maximum amplitude")
echo "recorded ${LENGTH} s, peak $PEAK"
[ "$(echo "$LENGTH >= 3" | bc)" = 1 ] || fail "only $LENGTH s recorded of a 3 s tone"
within_db "$PEAK" 0.5 || fail "peak $PEAK, not 0.5"

note "closing the first copy while idle ends it"
xdotool key --clearmodifiers alt+F4
wait_for $E2E_BOUND ended $A || fail "the first copy did not end"
wait $A || fail "the first copy exited with $?"

note "closing the second copy while it records asks, and Save keeps the recording"
activate "$WB" || fail "the second copy's window cannot be raised"
xdotool key --clearmodifiers alt+r
wait_for $E2E_BOUND part_growing || fail "the second copy did not start recording"
xdotool key --clearmodifiers alt+F4
wait_for $E2E_BOUND sh -c "xdotool search --all --pid $B --onlyvisible --name '^Zorvik Recorder$' | wc -l | grep -qx 2" ||
    fail "no question when closing during a recording"
kill -0 $B 2>/dev/null || fail "the second copy ended without asking"
xdotool key --clearmodifiers Return
wait_for $E2E_BOUND ended $B || fail "the second copy did not end after Save"
wait $B || fail "the second copy exited with $?"
[ "$(ls "$MUSIC" | grep -c '^Zorvik .*\.wav$')" = 2 ] || fail "Music holds: $(ls "$MUSIC")"
ls "$MUSIC" | grep -q '(recording ' && fail "a part file was left: $(ls "$MUSIC")"
echo "PASS"
