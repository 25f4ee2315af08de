# The drum sample player. Runs without a sound server: the player tests use SDL's disk driver.
zorvik_add_test(test_sample_player
    SOURCES test_sample_player.cpp
    LIBS zorvik_sdl GTest::gtest_main
    LABELS unit)
