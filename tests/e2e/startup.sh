#!/bin/bash
# Start-up and shut-down as a user meets them: the splash waits for a press, any button opens the main
# window and hides the splash, and closing the main window through the window manager ends the program.
. "$(dirname "$0")/lib.sh"
ZORVIK=$1

start_display wm
"$ZORVIK" >"$E2E_TMP/zorvik.log" 2>&1 &
PID=$!
track $PID

SPLASH=$(window_of $PID) || fail "no splash window"
geometry "$SPLASH"
[ "$WW" = 300 ] && [ "$WH" = 100 ] || fail "splash is ${WW}x${WH}, not 300x100"
# Left alone, the splash stays.
sleep 1
[ "$(xdotool search --onlyvisible --pid $PID | wc -l)" = 1 ] || fail "something besides the splash appeared"

note "right press on the splash"
xdotool mousemove $((WX + 150)) $((WY + 50)) click 3
main_shown() {
    _w=$(xdotool search --onlyvisible --pid $PID | head -1)
    [ "$(xdotool search --onlyvisible --pid $PID | wc -l)" = 1 ] && [ "$_w" != "$SPLASH" ] && echo "$_w"
}
wait_for $E2E_BOUND main_shown || fail "the main window did not replace the splash"
MAIN=$(main_shown)
geometry "$MAIN"
[ "$WW" = 514 ] && [ "$WH" = 238 ] || fail "main window is ${WW}x${WH}, not 514x238"
[ "$(xdotool getwindowname "$MAIN")" = "Norvane® Studio Lines" ] || fail "caption is $(xdotool getwindowname "$MAIN")"

note "close through the window manager"
xdotool windowactivate --sync "$MAIN"
xdotool key --clearmodifiers alt+F4
wait_for $E2E_BOUND ended $PID || fail "the program did not end after the close"
wait $PID
RC=$?
[ $RC = 0 ] || fail "exit code $RC"
echo "PASS"
