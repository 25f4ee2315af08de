# The drum sample player. Runs without a sound server: the player tests use SDL's disk driver, and the
# PulseAudio stream is tested against a missing and a silent server.
zorvik_add_test(test_sample_player
    SOURCES test_sample_player.cpp
    LIBS zorvik_sdl GTest::gtest_main
    LABELS unit)
zorvik_add_test(test_pulse_output
    SOURCES test_pulse_output.cpp
    LIBS zorvik_sdl GTest::gtest_main
    LABELS unit)
