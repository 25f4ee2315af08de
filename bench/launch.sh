#!/bin/bash
# Launch to first window on screen: Zorvik's splash beside a bare Qt window, in the same run, on a
# private X display with no window manager, then on a headless Wayland compositor (sway).
# Usage: bench/launch.sh <build folder> [runs]
BUILD=$(cd "${1:-build}" && pwd)
RUNS=${2:-30}
. "$(dirname "$0")/../tests/e2e/lib.sh"
start_display nowm
export XDG_RUNTIME_DIR="$E2E_TMP/xdg"
mkdir -m 700 "$XDG_RUNTIME_DIR"
for round in 1 2; do
    echo "X11, bare Qt window: $("$BUILD/bench/bench_launch_time" "$RUNS" "$BUILD/bench/bench_bare_window")"
    echo "X11, Zorvik splash:  $("$BUILD/bench/bench_launch_time" "$RUNS" "$BUILD/Zorvik")"
done
start_wayland "$BUILD"
export QT_QPA_PLATFORM=wayland
for round in 1 2; do
    echo "Wayland, bare Qt window: $("$BUILD/bench/bench_launch_time" "$RUNS" "$BUILD/bench/bench_bare_window")"
    echo "Wayland, Zorvik splash:  $("$BUILD/bench/bench_launch_time" "$RUNS" "$BUILD/Zorvik")"
done
