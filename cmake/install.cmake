# Installation: the tools, the viewer, the engine library (static and
# shared) with its headers, a CMake package, a pkg-config file, desktop
# integration (application entry, icon, WIF MIME type, thumbnailer) and man
# pages.
include(CMakePackageConfigHelpers)

set(LUNARK_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Lunark)

install(TARGETS lunark RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET lunark-viewer)
  install(TARGETS lunark-viewer RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(LUNARK_LIBRARY_TARGETS lunark_engine)
if(TARGET lunark_shared)
  list(APPEND LUNARK_LIBRARY_TARGETS lunark_shared)
endif()
install(TARGETS ${LUNARK_LIBRARY_TARGETS} EXPORT LunarkTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/lunark)

# Public headers keep their folders, so that programs include them as the
# project does: #include "engine/image.h".
foreach(dir engine formats codec)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/${dir}/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/lunark/${dir}
    FILES_MATCHING PATTERN "*.h" PATTERN "display" EXCLUDE)
endforeach()

install(EXPORT LunarkTargets NAMESPACE Lunark:: DESTINATION ${LUNARK_CMAKE_DIR})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/LunarkConfig.cmake.in
  ${CMAKE_BINARY_DIR}/LunarkConfig.cmake INSTALL_DESTINATION ${LUNARK_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/LunarkConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/LunarkConfig.cmake ${CMAKE_BINARY_DIR}/LunarkConfigVersion.cmake
  DESTINATION ${LUNARK_CMAKE_DIR})

configure_file(${CMAKE_SOURCE_DIR}/cmake/lunark.pc.in ${CMAKE_BINARY_DIR}/lunark.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/lunark.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Desktop integration.
install(FILES ${CMAKE_SOURCE_DIR}/data/lunark-viewer.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/data/lunark-wif.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
install(FILES ${CMAKE_SOURCE_DIR}/data/lunark.thumbnailer DESTINATION ${CMAKE_INSTALL_DATADIR}/thumbnailers)
install(FILES ${CMAKE_SOURCE_DIR}/data/icons/lunark.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Man pages, made by help2man from the programs' own --help and --version,
# so that they never disagree with the programs.
find_program(HELP2MAN help2man)
if(NOT HELP2MAN)
  message(WARNING "help2man not found: the man pages are not made (scripts/setup installs it)")
endif()
if(HELP2MAN)
  set(LUNARK_MAN_PAGES)
  set(man_programs lunark)
  if(TARGET lunark-viewer)
    list(APPEND man_programs lunark-viewer)
  endif()
  foreach(program ${man_programs})
    set(page ${CMAKE_BINARY_DIR}/man/${program}.1)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0
              ${HELP2MAN} --no-info
              --include=${CMAKE_SOURCE_DIR}/data/man/${program}.h2m
              --output=${page} $<TARGET_FILE:${program}>
      DEPENDS ${program} ${CMAKE_SOURCE_DIR}/data/man/${program}.h2m
      COMMENT "Writing the ${program} man page")
    list(APPEND LUNARK_MAN_PAGES ${page})
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${LUNARK_MAN_PAGES})
  install(FILES ${LUNARK_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()
