# The drum sample player: cost of one hit on the GUI thread, and idle CPU with the device open.
add_executable(bench_sample_player bench_sample_player.cpp)
target_link_libraries(bench_sample_player PRIVATE zorvik_samples benchmark::benchmark)
set_target_properties(bench_sample_player PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
