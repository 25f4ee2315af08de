zorvik_add_test(test_music_control SOURCES test_music_control.cpp LIBS zorvik_modules GTest::gtest_main)
zorvik_add_test(test_forms SOURCES test_forms.cpp LIBS zorvik_forms zorvik_samples Qt6::Test)

# End-to-end: the built program on a private X display and sound server.
add_executable(wavcheck e2e/wavcheck.cpp)
target_link_libraries(wavcheck PRIVATE PkgConfig::SNDFILE)
add_executable(midisource e2e/midisource.cpp)
target_link_libraries(midisource PRIVATE PkgConfig::PIPEWIRE)
set_target_properties(wavcheck midisource PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
# zorvik_add_e2e(NAME [SERVER pulse|pipewire]): the script e2e/NAME.sh against that private sound
# server (PulseAudio unless told); a PipeWire run is named e2e_NAME_pipewire.
function(zorvik_add_e2e name)
    cmake_parse_arguments(E "" "SERVER" "" ${ARGN})
    if(NOT E_SERVER)
        set(E_SERVER pulse)
    endif()
    set(test e2e_${name})
    if(NOT E_SERVER STREQUAL "pulse")
        set(test e2e_${name}_${E_SERVER})
    endif()
    add_test(NAME ${test} COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/${name}.sh $<TARGET_FILE:Zorvik>
                                       $<TARGET_FILE:wavcheck> ${CMAKE_BINARY_DIR})
    set_tests_properties(${test} PROPERTIES LABELS e2e TIMEOUT 300
        ENVIRONMENT "E2E_ARTIFACTS=${CMAKE_BINARY_DIR}/e2e-artifacts;E2E_SERVER=${E_SERVER}")
endfunction()
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/e2e-artifacts)
zorvik_add_e2e(startup)
zorvik_add_e2e(shell)
zorvik_add_e2e(drums)
zorvik_add_e2e(drums SERVER pipewire)
zorvik_add_e2e(transport)
zorvik_add_e2e(midi SERVER pipewire)
zorvik_add_e2e(kits SERVER pipewire)
