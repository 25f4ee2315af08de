zorvik_add_test(test_music_control SOURCES test_music_control.cpp LIBS zorvik_modules GTest::gtest_main)
zorvik_add_test(test_forms SOURCES test_forms.cpp LIBS zorvik_forms zorvik_samples Qt6::Test)

# End-to-end: the built program on a private X display and sound server.
add_executable(wavcheck e2e/wavcheck.cpp)
target_link_libraries(wavcheck PRIVATE PkgConfig::SNDFILE)
add_executable(midisource e2e/midisource.cpp)
target_link_libraries(midisource PRIVATE PkgConfig::PIPEWIRE)
# The pointer of the Wayland test: a client of the compositor's virtual-pointer protocol.
enable_language(C)
pkg_check_modules(WAYLAND_CLIENT REQUIRED IMPORTED_TARGET wayland-client)
find_program(WAYLAND_SCANNER wayland-scanner REQUIRED)
set(pointer_xml ${CMAKE_CURRENT_SOURCE_DIR}/e2e/wayland/virtual-pointer.xml)
set(pointer_gen ${CMAKE_CURRENT_BINARY_DIR}/wayland)
add_custom_command(OUTPUT ${pointer_gen}/virtual-pointer-client.h ${pointer_gen}/virtual-pointer.c
    COMMAND ${CMAKE_COMMAND} -E make_directory ${pointer_gen}
    COMMAND ${WAYLAND_SCANNER} client-header ${pointer_xml} ${pointer_gen}/virtual-pointer-client.h
    COMMAND ${WAYLAND_SCANNER} private-code ${pointer_xml} ${pointer_gen}/virtual-pointer.c
    DEPENDS ${pointer_xml})
add_executable(wlpointer e2e/wayland/wlpointer.cpp ${pointer_gen}/virtual-pointer.c)
target_include_directories(wlpointer PRIVATE ${pointer_gen})
target_link_libraries(wlpointer PRIVATE PkgConfig::WAYLAND_CLIENT)
set_target_properties(wavcheck midisource wlpointer PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
# zorvik_add_e2e(NAME [SERVER pulse|pipewire] [RATE hz]): the script e2e/NAME.sh against that private
# sound server (PulseAudio unless told); a PipeWire run is named e2e_NAME_pipewire, and one whose graph
# runs at another rate than 48 kHz e2e_NAME_pipewire_96k (for 96000).
function(zorvik_add_e2e name)
    cmake_parse_arguments(E "" "SERVER;RATE" "" ${ARGN})
    if(NOT E_SERVER)
        set(E_SERVER pulse)
    endif()
    if(NOT E_RATE)
        set(E_RATE 48000)
    endif()
    set(test e2e_${name})
    if(NOT E_SERVER STREQUAL "pulse")
        set(test e2e_${name}_${E_SERVER})
    endif()
    if(NOT E_RATE EQUAL 48000)
        math(EXPR khz "${E_RATE} / 1000")
        set(test ${test}_${khz}k)
    endif()
    add_test(NAME ${test} COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/${name}.sh $<TARGET_FILE:Zorvik>
                                       $<TARGET_FILE:wavcheck> ${CMAKE_BINARY_DIR})
    set_tests_properties(${test} PROPERTIES LABELS e2e TIMEOUT 300
        ENVIRONMENT "E2E_ARTIFACTS=${CMAKE_BINARY_DIR}/e2e-artifacts;E2E_SERVER=${E_SERVER};E2E_PW_RATE=${E_RATE}")
endfunction()
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/e2e-artifacts)
zorvik_add_e2e(startup)
zorvik_add_e2e(shell)
zorvik_add_e2e(drums)
zorvik_add_e2e(drums SERVER pipewire)
zorvik_add_e2e(drums SERVER pipewire RATE 96000)
zorvik_add_e2e(transport)
zorvik_add_e2e(midi SERVER pipewire)
zorvik_add_e2e(kits SERVER pipewire)
zorvik_add_e2e(mpris SERVER pipewire)
zorvik_add_e2e(wayland)
