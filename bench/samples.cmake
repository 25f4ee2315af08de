# The drum sample player: cost of one hit on the GUI thread, and idle CPU with the device open.
add_executable(bench_sample_player bench_sample_player.cpp)
target_link_libraries(bench_sample_player PRIVATE zorvik_samples zorvik_test_media benchmark::benchmark)
set_target_properties(bench_sample_player PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
# Drum kits: load time beside sox, memory, the cost of 64 voices, render blocks while a kit loads, and the
# resampler on a sweep.
add_executable(bench_kits bench_kits.cpp)
target_link_libraries(bench_kits PRIVATE zorvik_samples)
target_compile_definitions(bench_kits PRIVATE BENCH_SOUNDS_DIR="${CMAKE_BINARY_DIR}/Sounds")
set_target_properties(bench_kits PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
