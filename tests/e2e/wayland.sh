#!/bin/bash
# The main window on a Wayland compositor (headless sway), where a window's mask is only where the pointer
# goes in and what is seen is what the window draws: the key-colour row must show the red desktop
# beneath and no key-colour pixel may be on screen; a drum key lights its row and is heard; a drag of the
# title strip moves the window; the close square ends the program.
. "$(dirname "$0")/lib.sh"
ZORVIK=$1
WAVCHECK=$2
BUILD=$3

start_sound
start_wayland "$BUILD"

QT_QPA_PLATFORM=wayland "$ZORVIK" >"$E2E_TMP/zorvik.log" 2>&1 &
PID=$!
track $PID
wait_for $E2E_BOUND wl_view $PID 300 || fail "no splash"
read -r SX SY _ _ <<<"$(wl_view $PID 300)"
# A window that has only just been mapped may not take a click yet; the click is repeated until the
# main window shows (a second click on the splash does nothing more).
for _ in $(seq 1 $E2E_BOUND); do
    wl_click $((SX + 10)) $((SY + 10))
    if wait_for 1 wl_view $PID 514; then break; fi
done
wl_view $PID 514 >/dev/null || fail "no main window"
read -r WX WY WW WH <<<"$(wl_view $PID 514)"
[ "$WW,$WH" = "514,238" ] || fail "the main window is ${WW}x$WH"
grep -q "drums play through" "$E2E_TMP/zorvik.log" || wait_for $E2E_BOUND grep -q "drums play through" "$E2E_TMP/zorvik.log" ||
    fail "the drums did not open: $(cat "$E2E_TMP/zorvik.log")"

note "row 15 shows the desktop, and no pixel of the key colour is on screen"
# The pointer stays off the window, so that no cursor is in the picture.
pointer move 5 5
key_pixels_gone() {
    grim "$E2E_TMP/shot.png" &&
        [ "$(convert "$E2E_TMP/shot.png" txt:- | grep -c '#00FFFF')" = 0 ]
}
wait_for $E2E_BOUND key_pixels_gone || fail "$(convert "$E2E_TMP/shot.png" txt:- | grep -c '#00FFFF') key-colour pixels on screen"
cp "$E2E_TMP/shot.png" "${E2E_ARTIFACTS:-$E2E_TMP}/wayland.png" 2>/dev/null || true
convert "$E2E_TMP/shot.png" -crop "514x238+$WX+$WY" +repage txt:- | grep '#FF0000' | cut -d: -f1 >"$E2E_TMP/red-pixels"
RED_ROWS=$(cut -d, -f2 "$E2E_TMP/red-pixels" | sort -u | tr '\n' ' ')
RED_COUNT=$(wc -l <"$E2E_TMP/red-pixels")
[ "$RED_ROWS" = "15 " ] && [ "$RED_COUNT" = 514 ] || fail "see-through pixels: $RED_COUNT in rows $RED_ROWS"

note "a drum key is heard and lights its row"
record_start "$E2E_TMP/snare.wav"
wtype 2
sleep 0.6
record_stop
read -r _ SNARE_MATCH <<<"$("$WAVCHECK" find "$E2E_TMP/snare.wav" "$BUILD/Sounds/Snare.wav" 0)"
[ "$(echo "$SNARE_MATCH > 0.95" | bc)" = 1 ] || fail "the snare was not heard (match $SNARE_MATCH)"
snare_lit() {
    grim "$E2E_TMP/drums.png" && bar_matches "$E2E_TMP/drums.png" "$(row_top 1)" "$BUILD/skin/PadPressedPicture.png"
}
wait_for $E2E_BOUND snare_lit || fail "the Snare row is not lit"

note "a left drag of the title strip moves the window"
# The compositor starts the move when the program asks for it, which may be a few pointer steps after
# the press: the drag is first moved until the window follows, then by 60,40 more, which the window
# must follow exactly.
PX=$((WX + 200)) PY=$((WY + 7))
pointer move $PX $PY
pointer press left
for _ in $(seq 1 40); do
    PX=$((PX + 2)) PY=$((PY + 1))
    pointer move $PX $PY
    read -r MX MY _ _ <<<"$(wl_view $PID 514)"
    [ "$MX,$MY" = "$WX,$WY" ] || break
done
[ "$MX,$MY" != "$WX,$WY" ] || fail "the window does not follow a drag of its title strip"
for step in 1 2 3 4 5; do
    pointer move $((PX + 12 * step)) $((PY + 8 * step))
done
pointer release left
moved() { [ "$(wl_view $PID 514 | cut -d' ' -f1-2)" = "$((MX + 60)) $((MY + 40))" ]; }
wait_for $E2E_BOUND moved || fail "a drag by 60,40 from $MX,$MY left the window at $(wl_view $PID 514)"
read -r WX WY _ _ <<<"$(wl_view $PID 514)"

note "the close square ends the program"
pointer move $((WX + 300)) $((WY + 100))
pointer move $((WX + 506)) $((WY + 8))
# The first move over the square swaps in its hover picture, which takes the click. The compositor draws
# the cursor into the screenshot, so only the square's part above and left of the pointer is compared.
hover_shown() {
    grim "$E2E_TMP/close.png" &&
        convert "$E2E_TMP/close.png" -crop "4x6+$((WX + 500))+$WY" +repage "$E2E_TMP/square.png" &&
        convert "$BUILD/skin/CloseOverPicture.png" -crop 4x6+1+0 +repage "$E2E_TMP/expected.png" &&
        [ "$(compare -metric AE "$E2E_TMP/square.png" "$E2E_TMP/expected.png" null: 2>&1)" = 0 ]
}
wait_for $E2E_BOUND hover_shown || fail "no hover picture on the close square"
pointer press left
pointer release left
wait_for $E2E_BOUND ended $PID || fail "the close click did not end the program"
wait $PID || fail "exit code $?"
echo "PASS"
