zorvik_add_test(test_music_control SOURCES test_music_control.cpp LIBS zorvik_modules GTest::gtest_main)
zorvik_add_test(test_forms SOURCES test_forms.cpp LIBS zorvik_forms Qt6::Test)

# End-to-end: the built program on a private X display and sound server.
add_executable(wavcheck e2e/wavcheck.cpp)
target_link_libraries(wavcheck PRIVATE PkgConfig::SNDFILE)
set_target_properties(wavcheck PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
function(zorvik_add_e2e name)
    add_test(NAME e2e_${name} COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/${name}.sh $<TARGET_FILE:Zorvik>
                                           $<TARGET_FILE:wavcheck> ${CMAKE_BINARY_DIR})
    set_tests_properties(e2e_${name} PROPERTIES LABELS e2e TIMEOUT 300
        ENVIRONMENT "E2E_ARTIFACTS=${CMAKE_BINARY_DIR}/e2e-artifacts;ASAN_OPTIONS=detect_leaks=0")
endfunction()
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/e2e-artifacts)
zorvik_add_e2e(startup)
zorvik_add_e2e(shell)
zorvik_add_e2e(drums)
zorvik_add_e2e(transport)
