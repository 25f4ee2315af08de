# Reliability under bad input and faults (label "reliability"; see docs/RELIABILITY.md). These run the real
# libraries: GStreamer into counting fakesinks, SDL through its disk driver, and a process with no sound
# server at all.
zorvik_add_test(test_reliability_music
    SOURCES test_reliability_music.cpp
    LIBS zorvik_modules zorvik_gst GTest::gtest_main
    LABELS "unit;reliability")
zorvik_add_test(test_reliability_speed
    SOURCES test_reliability_speed.cpp
    LIBS zorvik_modules zorvik_gst GTest::gtest_main
    LABELS "unit;reliability")
# No sound server and no card: a socket that does not exist, and an ALSA configuration that defines nothing.
zorvik_add_test(test_reliability_noserver
    SOURCES test_reliability_noserver.cpp
    LIBS zorvik_modules zorvik_gst zorvik_samples GTest::gtest_main
    LABELS "unit;reliability"
    ENV "PULSE_SERVER=unix:/nonexistent/zorvik/native;ALSA_CONFIG_PATH=/dev/null;JACK_NO_START_SERVER=1;SDL_AUDIODRIVER=")
zorvik_add_test(test_reliability_samples
    SOURCES test_reliability_samples.cpp
    LIBS zorvik_modules zorvik_samples PkgConfig::SNDFILE GTest::gtest_main
    LABELS "unit;reliability")

# End-to-end faults: the sound server killed and restarted under the running program, the kit removed.
zorvik_add_e2e(faults)
zorvik_add_e2e(faults SERVER pipewire)
set_tests_properties(e2e_faults e2e_faults_pipewire PROPERTIES LABELS "e2e;reliability")
# A kit unplugged and plugged in again, among the MIDI end-to-end test's rows.
set_tests_properties(e2e_midi_pipewire PROPERTIES LABELS "e2e;reliability")
# The long session's short form; its driver is bench/soak_driver.cpp (built with the benchmarks).
zorvik_add_e2e(soak_short)
set_tests_properties(e2e_soak_short PROPERTIES LABELS "e2e;reliability")
# GStreamer's own leaks tracer counts the objects the graph leaves behind.
zorvik_add_test(test_reliability_gstleaks
    SOURCES test_reliability_gstleaks.cpp
    LIBS zorvik_modules zorvik_gst GTest::gtest_main
    LABELS "unit;reliability"
    ENV "GST_TRACERS=leaks(stack-traces-flags=none)")
