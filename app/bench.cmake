# The viewer's drawing benchmark: a Qt program run by hand (never by CTest).
if(LUNARK_BUILD_BENCH)
  add_executable(display_paint ${CMAKE_SOURCE_DIR}/bench/display_paint.cpp)
  target_link_libraries(display_paint PRIVATE lunark_app)
  # Folder browsing and very large pictures: timings and peak memory.
  add_executable(viewer_bench ${CMAKE_SOURCE_DIR}/bench/viewer_bench.cpp)
  target_link_libraries(viewer_bench PRIVATE lunark_app)
  target_compile_definitions(viewer_bench PRIVATE LUNARK_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data")
endif()
