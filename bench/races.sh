#!/bin/bash
# The drums' PipeWire path under ThreadSanitizer: a kit's MIDI source strikes 20 notes a second into the
# program while the default sink switches between two sinks every quarter second, which moves the drums'
# stream to another driver each time (its position and clock are handed over anew); a song is loaded on
# the way, on the load's own thread, and played. A race that ThreadSanitizer reports in the drums' code
# (platform/audio, samples, midi) or the music's module is printed and fails the run.
#
# The libraries under the program (Qt, GLib, D-Bus, PipeWire) are not instrumented, and the accesses they
# make are not recorded (ignore_noninstrumented_modules): their own hand-overs between threads would
# otherwise be reported by the thousand (the window's pixels, which Qt
# paints on its thread pool). A hand-over made through GLib (a task given to GStreamer's thread pool) is
# still reported, since GLib's locks are futexes the sanitizer does not see; those are not judged either.
#
#   cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS=-fsanitize=thread \
#       -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread
#   TSAN_OPTIONS=report_bugs=0 cmake --build build-tsan --target Zorvik midisource wavcheck
#   bench/races.sh build-tsan [SWITCHES]
# (The build runs the skin's drawing tool, which Qt's own thread pool would otherwise make fail.)
. "$(dirname "$0")/../tests/e2e/lib.sh"
BUILD=$(cd "$1" && pwd)
SWITCHES=${2:-40}
E2E_SERVER=pipewire
export TSAN_OPTIONS="halt_on_error=0:report_signal_unsafe=0:ignore_noninstrumented_modules=1:log_path=$E2E_TMP/tsan"

start_display wm
start_sound
pactl load-module module-null-sink sink_name=othersink >/dev/null || fail "no second sink"

SONG="$E2E_TMP/song.ogg"
sox -n -r 44100 -c 2 "$SONG" synth 30 sine 440 vol 0.3 2>/dev/null || fail "cannot make the song"

open_main "$BUILD/Zorvik"
PORT="Zorvik Drums MIDI:midi_in"
wait_for $E2E_BOUND sh -c "pw-link -i | grep -qxF '$PORT'" || fail "no MIDI input port"
"$BUILD/tests/midisource" race-kit 36 $((SWITCHES * 10)) 500 50 &
track $!
wait_for $E2E_BOUND sh -c "pw-link -l | grep -A1 '^race-kit:' | grep -qF -- '-> $PORT'" || fail "the kit is not linked"

load_song "$SONG"
click_at 341 120
note "$SWITCHES default-sink switches while the kit and the song play"
# on SINK: the drums' stream plays into SINK.
on() { pw-link -l | grep -A3 '^Zorvik Drums:' | grep -qF -- "-> $1:"; }
MOVES=0
for _ in $(seq "$SWITCHES"); do
    for sink in othersink testsink; do
        pactl set-default-sink $sink
        wait_for 1 on $sink && MOVES=$((MOVES + 1))
        sleep 0.2
    done
done
note "the drums' stream moved $MOVES times of $((2 * SWITCHES))"
kill -0 "$PID" || fail "the program died"
xdotool key --clearmodifiers alt+F4
wait_for $E2E_BOUND ended "$PID" || fail "the program did not end"
cat "$E2E_TMP"/tsan.* 2>/dev/null >"${E2E_ARTIFACTS:-$E2E_TMP}/tsan.log"
# The reports where one of the two racing accesses is itself (its innermost frame) in the drums' code or
# the music's module; a frame of ours further out only says who called into a library.
OURS=$(awk 'BEGIN { RS = "==================\n" }
    { ours = 0; n = split($0, line, "\n")
      for (i = 1; i < n; ++i) {
          if (line[i] ~ /^  (Previous )?(read|write|Read|Write|Atomic)/ &&
              line[i + 1] ~ /#0 .*\/(platform\/(audio|samples|midi)|modules)\//) { ours = 1 }
      }
      if (ours) { print; print "==================" } }' "${E2E_ARTIFACTS:-$E2E_TMP}/tsan.log")
note "ThreadSanitizer's reports: $(grep -c '^WARNING: ThreadSanitizer' "${E2E_ARTIFACTS:-$E2E_TMP}/tsan.log"), in the drums' code: $(printf '%s' "$OURS" | grep -c '^WARNING: ThreadSanitizer')"
[ -z "$OURS" ] || fail "races in the drums' code:
$OURS"
echo "PASS"
