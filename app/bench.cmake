# The viewer's drawing benchmark: a Qt program run by hand (never by CTest).
if(LUNARK_BUILD_BENCH)
  add_executable(display_paint ${CMAKE_SOURCE_DIR}/bench/display_paint.cpp)
  target_link_libraries(display_paint PRIVATE lunark_app)
endif()
