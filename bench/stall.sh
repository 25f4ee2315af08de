#!/bin/bash
# The drums' PipeWire period through a stall of the daemon, as on a loaded machine or at a resume: on a
# private PipeWire graph (E2E_PW_RATE sets its rate, 48 kHz unless told) Zorvik is drummed at 8 hits a
# second for 60 s (keys plus and period, as a drummer alternating two pads), the daemon stopped for 1.5 s
# after 20 s of it. Every change of the period the drums ask for is printed with its time from the start
# of the drumming; then the period when the stall began, the largest from then on, how long after the
# stall's end the period was back to the drums' 64 frames, and the period at the end.
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
since() { echo "scale=2; ($(date +%s%N) - $START) / 1000000000" | bc; }
# The program's log, a line for each change of period, stamped with the time it was read.
tail -n 0 -F "$E2E_TMP/zorvik.log" 2>/dev/null | while read -r line; do
    case "$line" in *"asking for"*) echo "$(since) $line" ;; esac
done >"$E2E_TMP/periods" &
track $!
drum_pads 20
STALL_AT=$(since)
stall_sound 1.5 &
STALLER=$!
drum_pads 40
wait "$STALLER"
STALL_END=$(echo "$STALL_AT + 1.5" | bc)
cat "$E2E_TMP/periods"
awk -v stall="$STALL_AT" -v end="$STALL_END" '
    { frames = $0; sub(/.*asking for /, "", frames); sub(/ frames.*/, "", frames); frames += 0; t = $1 }
    t < stall { before = frames; next }
    { if (frames > most) most = frames; if (frames == 64 && !backAt) backAt = t; last = frames }
    END {
        if (!before) before = 64
        if (!last) last = before
        printf "FIGURE|period when the stall began|%d frames\n", before
        printf "FIGURE|largest period from then on|%d frames\n", (most > before ? most : before)
        if (before == 64 && !most) print "FIGURE|back to 64 frames|never left it"
        else if (backAt) printf "FIGURE|back to 64 frames|%.1f s after the stall ended\n", backAt - end
        else print "FIGURE|back to 64 frames|not by the end"
        printf "FIGURE|period at the end, after 60 s of drumming|%d frames\n", last
    }' "$E2E_TMP/periods"
