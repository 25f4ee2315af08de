#!/bin/bash
# `cmake --install` into an empty prefix: the self-contained application folder, the bin/zorvik launcher
# that leads back into it, the desktop entry, icons and AppStream data (checked by the freedesktop and
# AppStream validators), the changelog and manual page, the Debian package (lintian), and the installed
# program, started through the launcher, finding its drum kit.
. "$(dirname "$0")/lib.sh"
BUILD=$1
PREFIX=$E2E_TMP/prefix

cmake --install "$BUILD" --prefix "$PREFIX" >"$E2E_TMP/install.log" 2>&1 || { cat "$E2E_TMP/install.log"; fail "cmake --install failed"; }

note "the Debian package: lintian finds no error"
(cd "$BUILD" && cpack -G DEB -B "$E2E_TMP/deb") >"$E2E_TMP/cpack.log" 2>&1 || { cat "$E2E_TMP/cpack.log"; fail "cpack failed"; }
lintian --fail-on error --tag-display-limit 0 "$E2E_TMP"/deb/*.deb 2>&1 | grep -v "running with root privileges" || true
lintian --fail-on error "$E2E_TMP"/deb/*.deb >/dev/null 2>&1 || fail "lintian reports errors"

note "the application folder"
APP=$PREFIX/lib/zorvik
for program in Zorvik zorvik-recorder; do
    [ -f "$APP/$program" ] && [ -x "$APP/$program" ] || fail "no program $APP/$program"
done
# Everything the build made under $1 is installed, unchanged, under $2. What the build makes is checked
# by the unit tests (the kit's sounds, the icons' sizes); here, only that it all arrives.
installed_as_built() {
    local made=0 file
    while IFS= read -r -d '' file; do
        cmp -s "$1/$file" "$2/$file" || fail "$2/$file is not installed as built"
        made=$((made + 1))
    done < <(cd "$1" && find . -type f -print0)
    [ "$made" -gt 0 ] || fail "the build made nothing in $1"
}
installed_as_built "$BUILD/Sounds" "$APP/Sounds"
# Build tools and tests stay out of it.
EXTRA=$(ls "$APP" | grep -vxE 'Zorvik|zorvik-recorder|Sounds' || true)
[ -z "$EXTRA" ] || fail "unexpected in the application folder: $EXTRA"

note "the launcher"
[ -L "$PREFIX/bin/zorvik" ] || fail "bin/zorvik is not a symlink"
[ "$(readlink "$PREFIX/bin/zorvik")" = ../lib/zorvik/Zorvik ] || fail "bin/zorvik points at $(readlink "$PREFIX/bin/zorvik")"
[ "$(readlink -f "$PREFIX/bin/zorvik")" = "$(readlink -f "$APP/Zorvik")" ] || fail "bin/zorvik does not lead to the program"

note "desktop integration"
# Named by the program's one id, as the shell finds the window's app_id and icon by it.
APP_ID=org.zorvik.Zorvik
DESKTOP=$PREFIX/share/applications/$APP_ID.desktop
METAINFO=$PREFIX/share/metainfo/$APP_ID.metainfo.xml
desktop-file-validate "$DESKTOP" || fail "desktop-file-validate"
appstreamcli validate --no-net "$METAINFO" || fail "appstreamcli validate"
grep -qx "Exec=zorvik %f" "$DESKTOP" && grep -qx "Icon=$APP_ID" "$DESKTOP" || fail "the desktop entry does not start bin/zorvik with its icon"
grep -q "<launchable type=\"desktop-id\">$APP_ID.desktop</launchable>" "$METAINFO" || fail "the AppStream data does not name the desktop entry"
[ -f "$PREFIX/share/doc/zorvik/changelog.gz" ] && [ -f "$PREFIX/share/man/man1/zorvik.1.gz" ] || fail "no changelog or manual page"
[ -z "$(man --warnings -l "$PREFIX/share/man/man1/zorvik.1.gz" 2>&1 >/dev/null)" ] || fail "the manual page does not format cleanly"
[ -f "$PREFIX/share/icons/hicolor/scalable/apps/$APP_ID.svg" ] || fail "no icon named $APP_ID"
installed_as_built "$BUILD/packaging/icons" "$PREFIX/share/icons/hicolor"

start_display wm
start_sound
note "the installed recorder records"
"$APP/zorvik-recorder" --record-seconds 0.5 --output "$E2E_TMP/short.wav" || fail "the installed recorder failed"
[ "$(soxi -D "$E2E_TMP/short.wav")" = 0.500000 ] || fail "the installed recorder wrote $(soxi -D "$E2E_TMP/short.wav") s, not 0.5 s"

note "started through the launcher, the program plays the kit in its folder"
# A kick of our own in the installed kit, unlike any built-in sound: hearing it proves the program found
# its Sounds/ through the launcher's symlink.
sox -n -r 44100 -c 1 -b 16 "$APP/Sounds/Kick.wav" synth 1 sine 1500 vol 0.5
open_main "$PREFIX/bin/zorvik"
record_start "$E2E_TMP/kick.wav"
xdotool key 1
# Two seconds of sound after the key, so the whole kick is in.
wait_for $E2E_BOUND sh -c "[ \$(stat -c %s '$E2E_TMP/kick.wav') -gt 384044 ]" || fail "the recording does not grow"
record_stop
# Only the loud part: the kick, without the silence around it.
sox "$E2E_TMP/kick.wav" "$E2E_TMP/heard.wav" remix 1 silence 1 0.01 2% reverse silence 1 0.01 2% reverse
FREQ=$(sox "$E2E_TMP/heard.wav" -n stat 2>&1 | sed -n 's/^Rough   frequency: *//p')
LENGTH=$(soxi -D "$E2E_TMP/heard.wav" 2>/dev/null || echo 0)
echo "heard ${LENGTH} s at ~${FREQ} Hz"
[ "$(echo "$FREQ > 1400 && $FREQ < 1600 && $LENGTH > 0.9" | bc)" = 1 ] ||
    fail "pressing 1 did not play the installed Kick.wav: the program did not find its Sounds/"
note "Open Recorder starts the recorder installed beside the program, minimised"
xdotool mousemove 270 254 click 1
# The window manager's window for it (Qt also makes a hidden one with the same title).
recorder_window() {
    for w in $(xdotool search --name "^Zorvik Recorder$"); do
        xprop -id "$w" WM_STATE | grep -q "window state" && echo "$w" && return 0
    done
    return 1
}
wait_for $E2E_BOUND recorder_window || fail "no recorder window after Open Recorder"
RECORDER_WINDOW=$(recorder_window)
RECORDER_PID=$(xdotool getwindowpid "$RECORDER_WINDOW")
track "$RECORDER_PID"
[ "$(readlink -f "/proc/$RECORDER_PID/exe")" = "$(readlink -f "$APP/zorvik-recorder")" ] ||
    fail "Open Recorder started $(readlink -f "/proc/$RECORDER_PID/exe")"
wait_for $E2E_BOUND sh -c "xprop -id $RECORDER_WINDOW WM_STATE | grep -q 'window state: Iconic'" || fail "the recorder is not minimised"
kill "$RECORDER_PID"

xdotool windowactivate --sync "$MAIN"
xdotool key --clearmodifiers alt+F4
wait_for $E2E_BOUND ended $PID || fail "the program did not end"
echo "PASS"
