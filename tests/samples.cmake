# The drum sample player and its outputs. Runs without a sound server: the player renders into an
# output in memory or SDL's disk driver, the server outputs are tested against a missing and a silent
# server, and ALSA direct plays into ALSA's file plugin.
zorvik_add_test(test_sample_player
    SOURCES test_sample_player.cpp NullOutput.cpp
    LIBS zorvik_samples GTest::gtest_main
    LABELS unit)
zorvik_add_test(test_audio_output
    SOURCES test_audio_output.cpp
    LIBS zorvik_audio zorvik_midi zorvik_test_media PkgConfig::PIPEWIRE GTest::gtest_main
    LABELS unit)
# Drum kits: the Hydrogen kits the test set-up installs, broken kits, and a kit played from MIDI.
zorvik_add_test(test_drumkits
    SOURCES test_drumkits.cpp
    LIBS zorvik_samples GTest::gtest_main
    LABELS unit)
