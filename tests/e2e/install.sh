#!/bin/bash
# `cmake --install` into an empty prefix: the self-contained application folder, the bin/zorvik launcher
# that leads back into it, the desktop entry, icons and AppStream data (checked by the freedesktop and
# AppStream validators), and the installed program, started through the launcher, finding its drum kit.
. "$(dirname "$0")/lib.sh"
BUILD=$1
PREFIX=$E2E_TMP/prefix

cmake --install "$BUILD" --prefix "$PREFIX" >"$E2E_TMP/install.log" 2>&1 || { cat "$E2E_TMP/install.log"; fail "cmake --install failed"; }

note "the application folder"
APP=$PREFIX/lib/zorvik
for program in Zorvik zorvik-recorder; do
    [ -f "$APP/$program" ] && [ -x "$APP/$program" ] || fail "no program $APP/$program"
done
for sound in Kick Snare "Hi Hat" "Open Hi Hat" "High Tom" "Mid Tom" "Low Tom" Crash; do
    [ -s "$APP/Sounds/$sound.wav" ] || fail "no Sounds/$sound.wav"
done
# Build tools and tests stay out of it.
EXTRA=$(ls "$APP" | grep -vxE 'Zorvik|zorvik-recorder|Sounds' || true)
[ -z "$EXTRA" ] || fail "unexpected in the application folder: $EXTRA"
"$APP/zorvik-recorder" --help >/dev/null || fail "the installed recorder does not run"

note "the launcher"
[ -L "$PREFIX/bin/zorvik" ] || fail "bin/zorvik is not a symlink"
[ "$(readlink "$PREFIX/bin/zorvik")" = ../lib/zorvik/Zorvik ] || fail "bin/zorvik points at $(readlink "$PREFIX/bin/zorvik")"
[ "$(readlink -f "$PREFIX/bin/zorvik")" = "$(readlink -f "$APP/Zorvik")" ] || fail "bin/zorvik does not lead to the program"

note "desktop integration"
DESKTOP=$PREFIX/share/applications/zorvik.desktop
METAINFO=$PREFIX/share/metainfo/org.zorvik.Zorvik.metainfo.xml
desktop-file-validate "$DESKTOP" || fail "desktop-file-validate"
appstreamcli validate --no-net "$METAINFO" || fail "appstreamcli validate"
grep -qx "Exec=zorvik" "$DESKTOP" && grep -qx "Icon=zorvik" "$DESKTOP" || fail "the desktop entry does not start bin/zorvik with its icon"
grep -q "<launchable type=\"desktop-id\">zorvik.desktop</launchable>" "$METAINFO" || fail "the AppStream data does not name the desktop entry"
for size in 16 32 48 64 128 256; do
    ICON=$PREFIX/share/icons/hicolor/${size}x${size}/apps/zorvik.png
    [ "$(identify -format '%m %wx%h' "$ICON" 2>/dev/null)" = "PNG ${size}x${size}" ] || fail "icon $ICON is not a ${size}x${size} PNG"
done

note "started through the launcher, the program plays its kit"
start_display wm
start_sound
"$PREFIX/bin/zorvik" >"$E2E_TMP/zorvik.log" 2>&1 &
PID=$!
track $PID
SPLASH=$(window_of $PID) || fail "no splash"
geometry "$SPLASH"
xdotool mousemove $((WX + 10)) $((WY + 10)) click 1
wait_for 5 sh -c "xdotool search --onlyvisible --pid $PID | grep -qv '^$SPLASH\$'" || fail "no main window"
MAIN=$(xdotool search --onlyvisible --pid $PID | grep -v "^$SPLASH\$" | head -1)
xdotool windowactivate --sync "$MAIN"
record_start "$E2E_TMP/kick.wav"
xdotool key 1
# A second of sound after the key, so the whole kick is in.
wait_for 5 sh -c "[ \$(stat -c %s '$E2E_TMP/kick.wav') -gt 192044 ]" || fail "the recording does not grow"
record_stop
# The kick is loud; with no kit found the recording stays silent.
PEAK=$(sox "$E2E_TMP/kick.wav" -n stat 2>&1 | sed -n 's/^Maximum amplitude: *//p')
[ "$(echo "$PEAK > 0.1" | bc)" = 1 ] || fail "pressing 1 played nothing (peak $PEAK): the installed program did not find its Sounds/"
xdotool key --clearmodifiers alt+F4
wait_for 5 sh -c "! kill -0 $PID 2>/dev/null" || fail "the program did not end"
echo "PASS"
