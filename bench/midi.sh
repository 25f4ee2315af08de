#!/bin/bash
# MIDI timing of the drums on a private PipeWire, at the quantum the drums ask for: bench_midi_probe
# plays hi-hat notes into Zorvik's MIDI input and listens to Zorvik's drum output in the same graph, so
# the delay from a note's frame to its sound (in graph cycles) and the onsets' spacing against the notes'
# (jitter) are counted on PipeWire's own clock. The sink plays the drums' output a fixed time later, so
# what it adds is neither delay in cycles nor jitter. (A key hit, by contrast, is taken at the next cycle
# the drums' node runs, so keys jitter by up to one graph period.)
#
# Usage: bench/midi.sh BUILD_FOLDER [NOTES [SPACING_MS]]   (default 16 notes 125 ms apart)
# A note sounds one graph cycle after its own time, so a change of the cycle mid-run (the drums asking
# for a longer one after a missed cycle) moves every later onset by the change: latency, not jitter. The
# graph therefore runs no faster than 256 frames, which this VM holds without missing cycles; set
# E2E_PW_MIN_QUANTUM=32 to try the drums' own 64.
E2E_PW_MIN_QUANTUM=${E2E_PW_MIN_QUANTUM:-256}
E2E_SERVER=pipewire
. "$(dirname "$0")/../tests/e2e/lib.sh"
BUILD=${1:?usage: bench/midi.sh BUILD_FOLDER [NOTES [SPACING_MS]]}
NOTES=${2:-16}
SPACING=${3:-125}
PROBE="$BUILD/bench/bench_midi_probe"
for f in "$BUILD/Zorvik" "$PROBE" "$BUILD/tests/wavcheck"; do [ -e "$f" ] || fail "missing $f"; done

start_display wm
start_sound
open_main "$BUILD/Zorvik"
wait_for 5 sh -c "pw-link -i | grep -qF 'Zorvik Drums MIDI:midi_in'" || fail "no MIDI input"
note "PipeWire graph: $(pw-metadata -n settings 0 2>/dev/null | grep -Eo "clock\.(quantum|min-quantum)'? value:'[0-9]+'" | tr '\n' ' ')"

"$PROBE" "$NOTES" "$SPACING" >"$E2E_TMP/probe.log" 2>&1 &
PROBE_PID=$!
track $PROBE_PID
wait_for 5 sh -c "pw-link -i | grep -q '^zorvik-midi-probe:heard'" || fail "no probe"
pw-link "zorvik-midi-probe:notes" "Zorvik Drums MIDI:midi_in" || fail "cannot link the probe's notes"
pw-link "Zorvik Drums:output_FL" "zorvik-midi-probe:heard" || fail "cannot link the drums to the probe"
wait_for $((NOTES * SPACING / 1000 + 10)) sh -c "! kill -0 $PROBE_PID 2>/dev/null" ||
    fail "the probe did not hear every note: $(cat "$E2E_TMP/probe.log"; pw-link -l | tr "\n" " ")"
cat "$E2E_TMP/probe.log"

# cpu_percent SECONDS: Zorvik's CPU use over the next SECONDS, in percent of one core.
cpu_percent() {
    local before after
    before=$(awk '{ print $14 + $15 }' "/proc/$PID/stat")
    sleep "$1"
    after=$(awk '{ print $14 + $15 }' "/proc/$PID/stat")
    echo "scale=2; ($after - $before) * 100 / $(getconf CLK_TCK) / $1" | bc
}

# A burst of 1,000 notes in a second, and the CPU before, during and after it.
IDLE=$(cpu_percent 3)
"$PROBE" 1000 1 >/dev/null 2>&1 &
BURST_PID=$!
track $BURST_PID
wait_for 5 sh -c "pw-link -o | grep -q '^zorvik-midi-probe:notes'" || fail "no burst probe"
pw-link "zorvik-midi-probe:notes" "Zorvik Drums MIDI:midi_in" || fail "cannot link the burst"
BUSY=$(cpu_percent 2)
kill "$BURST_PID"
kill -0 "$PID" 2>/dev/null || fail "Zorvik died in the burst"
AFTER=$(cpu_percent 3)
echo "burst of 1000 notes/s: Zorvik CPU ${IDLE} % idle before, ${BUSY} % during, ${AFTER} % after (of one core)"
