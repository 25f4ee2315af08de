zorvik_add_test(test_skin SOURCES test_skin.cpp LIBS zorvik_skin zorvik_platform)
# Also checks the desktop icons the build drew, in the folder that is installed as hicolor/.
target_compile_definitions(test_skin PRIVATE
    ZORVIK_ICON_DIR="$<TARGET_PROPERTY:zorvik_icons,ZORVIK_ICON_DIR>")
add_dependencies(test_skin zorvik_icons)

zorvik_add_test(test_kit SOURCES test_kit.cpp LIBS zorvik_drumkit PkgConfig::SNDFILE GTest::gtest_main)
# Checks the kit the build produced, in the place the program will look for it.
target_compile_definitions(test_kit PRIVATE ZORVIK_SOUNDS_DIR="${CMAKE_BINARY_DIR}/Sounds")
add_dependencies(test_kit zorvik_kit)
