# The long session (bench/soak.sh): drum hits, a playing song and repeated loads on the program's own stack.
add_executable(soak_driver soak_driver.cpp)
target_include_directories(soak_driver PRIVATE ${CMAKE_SOURCE_DIR}/tests)
target_link_libraries(soak_driver PRIVATE zorvik_modules zorvik_gst zorvik_samples zorvik_test_media)
