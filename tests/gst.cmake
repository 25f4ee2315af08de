# The music engine on GStreamer under the media graph, played into an appsink so no sound server is needed.
pkg_check_modules(GST_APP REQUIRED IMPORTED_TARGET gstreamer-app-1.0)
zorvik_add_test(test_media_graph
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_media_graph.cpp
    LIBS zorvik_modules zorvik_gst PkgConfig::GST_APP GTest::gtest_main
    LABELS unit
    ENV "ZORVIK_FUZZ_REGRESSIONS=${PROJECT_SOURCE_DIR}/fuzz/regressions")
# Our stretch element on its own, between an appsrc and an appsink.
zorvik_add_test(test_stretch
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/test_stretch.cpp
    LIBS zorvik_gst PkgConfig::GST_APP GTest::gtest_main
    LABELS unit)
