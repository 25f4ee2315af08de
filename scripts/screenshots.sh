#!/bin/bash
# Takes the screenshots in docs/ of the splash and the main window, on a private X display.
# Usage: scripts/screenshots.sh [build folder]
set -eu
cd "$(dirname "$0")/.."
BUILD=${1:-build}
. tests/e2e/lib.sh
start_display nowm
"$BUILD/Zorvik" >/dev/null 2>&1 &
PID=$!
track $PID
SPLASH=$(window_of $PID)
geometry "$SPLASH"
sleep 0.3
import -window root -crop "${WW}x${WH}+$WX+$WY" +repage docs/splash.png
xdotool mousemove $((WX + 10)) $((WY + 10)) click 3
wait_for 5 sh -c "xdotool search --onlyvisible --pid $PID | grep -qv '^$SPLASH\$'"
MAIN=$(xdotool search --onlyvisible --pid $PID | grep -v "^$SPLASH\$" | head -1)
xdotool windowfocus --sync "$MAIN" 2>/dev/null || true
geometry "$MAIN"
xdotool key 2
sleep 0.3
import -window root -crop "${WW}x${WH}+$WX+$WY" +repage docs/main.png
convert docs/main.png -scale 200% docs/main@2x.png
echo "docs/splash.png docs/main.png docs/main@2x.png"
