# The GStreamer music engine: load time against a bare playbin, the gap at a speed change, playing CPU.
pkg_check_modules(GST_APP REQUIRED IMPORTED_TARGET gstreamer-app-1.0)
add_executable(bench_media_graph bench_media_graph.cpp)
target_include_directories(bench_media_graph PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(bench_media_graph PRIVATE zorvik_modules zorvik_gst zorvik_test_media PkgConfig::GST_APP benchmark::benchmark)
# Drum attacks through our stretch element and through scaletempo (docs/STRETCH.md).
add_executable(bench_stretch bench_stretch.cpp)
target_link_libraries(bench_stretch PRIVATE zorvik_gst zorvik_test_media PkgConfig::GST_APP)
# Resident memory over many loads of damaged songs.
add_executable(load_memory load_memory.cpp)
target_include_directories(load_memory PRIVATE ${PROJECT_SOURCE_DIR}/tests)
target_link_libraries(load_memory PRIVATE zorvik_gst)
set_target_properties(bench_media_graph load_memory bench_stretch PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
# A song through our stretch element, offline, for the real-recordings bench (bench/real_songs.sh).
add_executable(stretch_file stretch_file.cpp)
target_link_libraries(stretch_file PRIVATE zorvik_gst)
set_target_properties(stretch_file PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
