# Drum pad latency, key to sound at the sound server: run by bench/latency.sh, never by ctest; and MIDI
# note to sound (bench/midi.sh).
find_package(Threads REQUIRED)
pkg_check_modules(LATENCY_DEPS REQUIRED IMPORTED_TARGET libpulse x11 xtst)
add_executable(bench_latency latency.cpp)
target_link_libraries(bench_latency PRIVATE PkgConfig::LATENCY_DEPS Threads::Threads)
set_target_properties(bench_latency PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
# MIDI note to sound on PipeWire's clock: run by bench/midi.sh.
pkg_check_modules(MIDI_PROBE_DEPS REQUIRED IMPORTED_TARGET libpipewire-0.3)
add_executable(bench_midi_probe midi_probe.cpp)
target_link_libraries(bench_midi_probe PRIVATE PkgConfig::MIDI_PROBE_DEPS)
set_target_properties(bench_midi_probe PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
