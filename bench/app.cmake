add_executable(bench_launch_time launch_time.cpp)
target_link_libraries(bench_launch_time PRIVATE X11)
add_executable(bench_bare_window bare_window.cpp)
target_link_libraries(bench_bare_window PRIVATE Qt6::Widgets)
set_target_properties(bench_launch_time bench_bare_window PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
# One drum hit's work on the GUI thread, beside a bare Qt window's answer to a key.
add_executable(bench_hit_gui hit_gui.cpp)
target_link_libraries(bench_hit_gui PRIVATE zorvik_forms zorvik_modules zorvik_gst zorvik_samples Qt6::Widgets)
set_target_properties(bench_hit_gui PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
