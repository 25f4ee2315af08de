#!/bin/bash
# One drum hit's work on the GUI thread (build/bench/bench_hit_gui) beside a bare Qt window, on a private
# X display with a window manager, for each output of a private PulseAudio and then of a private PipeWire:
# on PulseAudio the hit also writes the queued audio again, on the GUI thread.
#
# Usage: bench/hit.sh BUILD_FOLDER [HITS]
BUILD=${1:?usage: bench/hit.sh BUILD_FOLDER [HITS]}
BENCH="$BUILD/bench/bench_hit_gui"
[ -x "$BENCH" ] || { echo "missing $BENCH" >&2; exit 1; }
for server in pulse pipewire; do
    E2E_SERVER=$server bash -c '
        . "$(dirname "$0")/../tests/e2e/lib.sh"
        start_display wm
        start_sound
        if [ "$E2E_SERVER" = pipewire ]; then outputs="pipewire pulse"; else outputs="pulse"; fi
        for output in $outputs; do
            echo "==== $E2E_SERVER server, drums through $output"
            ZORVIK_AUDIO=$output "$1" "$2" 2>&1 | grep -v -e "^zorvik:" -e "^ALSA lib"
        done' "$0" "$BENCH" "${2:-2000}"
done
