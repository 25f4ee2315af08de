#!/bin/bash
# Quitting while the drums' output is stuck, as a user would: Zorvik on a private display, its drums on
# ALSA's file plugin writing into a FIFO, a drum key hit, then the close button. Three cases:
#   free      the plugin writes into a file (nothing stuck; the reference)
#   opening   nobody reads the FIFO, so opening the device blocks
#   writing   a reader that never reads, so the write blocks once the pipe is full
# Printed for each: the time from the click on the close button to the end of the process.
#
# Usage: bench/quit.sh BUILD_FOLDER [RUNS]   (3 unless told; QUIT_BOUND: seconds to wait, 30 unless told)
. "$(dirname "$0")/../tests/e2e/lib.sh"
BUILD=${1:?usage: bench/quit.sh BUILD_FOLDER [RUNS]}
RUNS=${2:-3}
[ -x "$BUILD/Zorvik" ] || fail "missing $BUILD/Zorvik"
start_display wm

for run in $(seq 1 "$RUNS"); do
    for case in free opening writing; do
        device="$E2E_TMP/$case-$run"
        if [ "$case" = free ]; then : >"$device"; else mkfifo "$device"; fi
        # Read and write: a reader that never reads.
        if [ "$case" = writing ]; then exec 3<>"$device"; fi
        ZORVIK_AUDIO=alsa ZORVIK_ALSA_DEVICE="file:FILE=$device,FORMAT=raw" open_main "$BUILD/Zorvik"
        xdotool key KP_1
        sleep 1
        xdotool mousemove $((WX + 300)) $((WY + 100)) sleep 0.1 mousemove $((WX + 506)) $((WY + 8)) sleep 0.3
        start=$(date +%s%N)
        xdotool click 1
        wait_for ${QUIT_BOUND:-30} ended "$PID" || fail "$case: the program did not end within ${QUIT_BOUND:-30} s"
        echo "FIGURE|quit, output $case, run $run|$((($(date +%s%N) - start) / 1000000)) ms"
        if [ "$case" = writing ]; then exec 3<&-; fi
    done
done
