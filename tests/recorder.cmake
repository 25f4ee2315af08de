zorvik_add_test(test_recorder SOURCES test_recorder.cpp LIBS zorvik_recorder Qt6::Test)
zorvik_add_test(test_recorder_window SOURCES test_recorder_window.cpp LIBS zorvik_recorder Qt6::Test)

# End-to-end: the built recorder against a private sound server (and a private X display for the
# window), and the installed layout.
add_test(NAME e2e_recorder
         COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/recorder.sh $<TARGET_FILE:zorvik-recorder>)
add_test(NAME e2e_install COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/e2e/install.sh ${CMAKE_BINARY_DIR})
set_tests_properties(e2e_recorder e2e_install PROPERTIES LABELS e2e TIMEOUT 300
    ENVIRONMENT "E2E_ARTIFACTS=${CMAKE_BINARY_DIR}/e2e-artifacts")
