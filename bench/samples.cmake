# The drum sample player: cost of one hit on the GUI thread, and idle CPU with the device open.
add_executable(bench_sample_player bench_sample_player.cpp)
target_link_libraries(bench_sample_player PRIVATE zorvik_samples benchmark::benchmark)
