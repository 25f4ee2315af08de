# Drum pad latency, key to sound at the sound server: run by bench/latency.sh, never by ctest.
find_package(Threads REQUIRED)
pkg_check_modules(LATENCY_DEPS REQUIRED IMPORTED_TARGET libpulse x11 xtst)
add_executable(bench_latency latency.cpp)
target_link_libraries(bench_latency PRIVATE PkgConfig::LATENCY_DEPS Threads::Threads)
set_target_properties(bench_latency PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
