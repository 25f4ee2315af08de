#!/bin/bash
# The main window's shell on a real X server with a window manager: the see-through row, clicks through
# it, dragging by the title strip, the close button's hover picture and close command, and the recorder.
. "$(dirname "$0")/lib.sh"
ZORVIK=$1
BUILD=$3

start_display wm

# A window of a known colour to lie beneath the program.
xmessage -name beneath -title beneath -bg '#ff0000' -fg '#ff0000' -bd '#ff0000' -buttons "" -geometry 900x600+0+0 " " &
BENEATH_PID=$!
track $BENEATH_PID
wait_for $E2E_BOUND sh -c "xdotool search --onlyvisible --name '^beneath\$'" || fail "no window beneath"
BENEATH=$(xdotool search --onlyvisible --name '^beneath$' | head -1)

open_main "$ZORVIK"
[ "$WX,$WY" = "100,100" ] || fail "the window did not go to 100,100 but $WX,$WY"

note "the borderless window can be minimised and restored"
xdotool windowminimize --sync "$MAIN"
wait_for $E2E_BOUND sh -c "! xdotool search --onlyvisible --pid $PID | grep -q '^$MAIN\$'" || fail "the window did not minimise"
xdotool windowactivate --sync "$MAIN"
wait_for $E2E_BOUND sh -c "xdotool search --onlyvisible --pid $PID | grep -q '^$MAIN\$'" || fail "the window did not come back"
geometry "$MAIN"
[ "$WX,$WY" = "100,100" ] || fail "the restored window is at $WX,$WY"

note "only row 15 shows the window beneath"
sleep 0.3
screenshot "$E2E_TMP/shot.png"
convert "$E2E_TMP/shot.png" -crop "514x238+$WX+$WY" +repage "$E2E_TMP/window.png"
convert "$E2E_TMP/window.png" txt:- | grep '#FF0000' | cut -d: -f1 >"$E2E_TMP/red-pixels"
RED_ROWS=$(cut -d, -f2 "$E2E_TMP/red-pixels" | sort -u | tr '\n' ' ')
RED_COUNT=$(wc -l <"$E2E_TMP/red-pixels")
[ "$RED_ROWS" = "15 " ] && [ "$RED_COUNT" = 514 ] || fail "see-through pixels: $RED_COUNT in rows $RED_ROWS"
cp "$E2E_TMP/shot.png" "${E2E_ARTIFACTS:-$E2E_TMP}/shell-row15.png" 2>/dev/null || true

note "a click on row 15 lands on the window beneath"
xdotool mousemove $((WX + 250)) $((WY + 15)) click 1
wait_for $E2E_BOUND sh -c "[ \"\$(xdotool getactivewindow)\" = $BENEATH ]" || fail "the click on row 15 did not reach the window beneath: active $(xdotool getactivewindow) beneath $BENEATH main $MAIN"
xdotool windowactivate --sync "$MAIN"

note "a left drag of the title strip moves the window; right and middle drags do not"
drag() {  # drag BUTTON DX DY
    xdotool mousemove $((WX + 200)) $((WY + 7)) mousedown "$1"
    for step in 1 2 3 4 5; do
        xdotool mousemove $((WX + 200 + $2 * step / 5)) $((WY + 7 + $3 * step / 5))
        sleep 0.05
    done
    xdotool mouseup "$1"
    sleep 0.3
}
drag 3 60 40
drag 2 60 40
geometry "$MAIN"
[ "$WX,$WY" = "100,100" ] || fail "a right or middle drag moved the window to $WX,$WY"
drag 1 60 40
geometry "$MAIN"
[ "$WX,$WY" = "160,140" ] || fail "a left drag by 60,40 left the window at $WX,$WY"

note "the close square shows the hover picture under the pointer, and a click there ends the program"
# Columns 500 to 513 of the top rows; column 499 belongs to the drag strip, which lies above the hover picture.
close_square() {
    screenshot "$E2E_TMP/close.png"
    convert "$E2E_TMP/close.png" -crop "14x15+$((WX + 500))+$WY" +repage "$E2E_TMP/square.png"
    convert "$1" -crop 14x15+1+0 +repage "$E2E_TMP/expected.png"
    compare -metric AE "$E2E_TMP/square.png" "$E2E_TMP/expected.png" null: 2>&1
}
[ "$(close_square "$BUILD/skin/ClosePicture.png")" = 0 ] || fail "the close square does not show the close picture"
xdotool mousemove $((WX + 300)) $((WY + 100)) sleep 0.1 mousemove $((WX + 506)) $((WY + 8))
hover_shown() { [ "$(close_square "$BUILD/skin/CloseOverPicture.png")" = 0 ]; }
wait_for $E2E_BOUND hover_shown ||
    fail "no hover picture on the close square"
# Leaving onto the drag strip keeps the hover picture.
xdotool mousemove $((WX + 480)) $((WY + 7))
sleep 0.2
[ "$(close_square "$BUILD/skin/CloseOverPicture.png")" = 0 ] || fail "the hover picture went when leaving onto the strip"
xdotool mousemove $((WX + 506)) $((WY + 8)) click 1
wait_for $E2E_BOUND ended $PID || fail "the close click did not end the program"
wait $PID || fail "exit code $?"

note "Open Recorder starts the recorder minimised, once per click; without it a message says so"
mkdir -p "$E2E_TMP/app"
cp "$ZORVIK" "$E2E_TMP/app/Zorvik"
cat >"$E2E_TMP/app/zorvik-recorder" <<STANDIN
#!/bin/sh
echo "\$@" >> "$E2E_TMP/recorder-starts"
STANDIN
chmod +x "$E2E_TMP/app/zorvik-recorder"
open_main "$E2E_TMP/app/Zorvik"
xdotool mousemove $((WX + 170)) $((WY + 154)) click 1 sleep 0.3 click 1
wait_for $E2E_BOUND sh -c "[ \$(grep -c -- '--minimized' '$E2E_TMP/recorder-starts' 2>/dev/null || echo 0) = 2 ]" ||
    fail "two clicks did not start two recorders"
rm "$E2E_TMP/app/zorvik-recorder"
xdotool mousemove $((WX + 170)) $((WY + 154)) click 1
wait_for $E2E_BOUND sh -c "xdotool search --onlyvisible --name '^Open Recorder\$'" || fail "no message about the missing recorder"
MESSAGE=$(xdotool search --onlyvisible --name '^Open Recorder$' | head -1)
xdotool windowactivate --sync "$MESSAGE" key Return
wait_for $E2E_BOUND sh -c "! xdotool search --onlyvisible --name '^Open Recorder\$'" || fail "the message did not close"
kill -0 $PID || fail "the program ended after the missing recorder"
xdotool windowactivate --sync "$MAIN" key --clearmodifiers alt+F4
wait_for $E2E_BOUND ended $PID || fail "the program did not end"
echo "PASS"
