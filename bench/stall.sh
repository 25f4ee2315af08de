#!/bin/bash
# The drums' PipeWire period through a stall of the daemon, as on a loaded machine or at a resume: on a
# private PipeWire graph (E2E_PW_RATE sets its rate, 48 kHz unless told) Zorvik is drummed at 8 hits a
# second for 60 s (keys plus and period, as a drummer alternating two pads), the daemon stopped for 1.5 s
# after 20 s of it. Every change of the period the drums ask for is printed with its time from the start
# of the drumming; then the period at the end of the 20 s before the stall, the largest during and after
# it, and how long after the stall's end the period was back to what it was before.
#
# Usage: [E2E_PW_RATE=96000] bench/stall.sh BUILD_FOLDER
# The graph may run as fast as the drums ask, unlike in the tests (see start_pipewire).
E2E_PW_MIN_QUANTUM=${E2E_PW_MIN_QUANTUM:-32}
E2E_SERVER=pipewire
. "$(dirname "$0")/../tests/e2e/lib.sh"
BUILD=${1:?usage: bench/stall.sh BUILD_FOLDER}
[ -x "$BUILD/Zorvik" ] || fail "missing $BUILD/Zorvik"
start_display wm
start_sound

export ZORVIK_AUDIO=pipewire
open_main "$BUILD/Zorvik"
START=$(date +%s%N)
since() { echo "scale=2; ($(date +%s%N) - START) / 1000000000" | bc; }
drum() {  # drum SECONDS
    local end=$(($(date +%s%N) + $1 * 1000000000))
    while [ "$(date +%s%N)" -lt "$end" ]; do
        xdotool key plus
        sleep 0.125
        xdotool key period
        sleep 0.125
    done
}
# The program's log, a line for each change of period, stamped with the time it was read.
tail -n 0 -F "$E2E_TMP/zorvik.log" 2>/dev/null | while read -r line; do
    case "$line" in *"asking for"*) echo "$(since) $line" ;; esac
done >"$E2E_TMP/periods" &
track $!
drum 20
STALL_AT=$(since)
stall_sound 1.5 &
STALLER=$!
drum 40
wait "$STALLER"
STALL_END=$(echo "$STALL_AT + 1.5" | bc)
cat "$E2E_TMP/periods"
awk -v stall="$STALL_AT" -v end="$STALL_END" '
    { frames = $0; sub(/.*asking for /, "", frames); sub(/ frames.*/, "", frames); frames += 0; t = $1 }
    t < stall { before = frames; next }
    { if (frames > most) most = frames; last = frames; lastAt = t }
    END {
        if (!before) before = 64
        printf "FIGURE|period before the stall|%d frames\n", before
        if (!most) { printf "FIGURE|after the stall|never left %d frames\n", before; exit }
        printf "FIGURE|largest period after it|%d frames\n", most
        if (last <= before) printf "FIGURE|back to %d frames|%.1f s after the stall ended\n", before, lastAt - end
        else printf "FIGURE|back to %d frames|not within 38 s (still %d)\n", before, last
    }' "$E2E_TMP/periods"
