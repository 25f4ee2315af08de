zorvik_add_test(test_music_control SOURCES test_music_control.cpp LIBS zorvik_modules GTest::gtest_main)
zorvik_add_test(test_forms SOURCES test_forms.cpp LIBS zorvik_forms Qt6::Test)
