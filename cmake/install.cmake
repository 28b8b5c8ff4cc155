# Where `cmake --install` puts the tool, its manual page and the library, and
# what CPack makes of them. Included when QUARN_INSTALL is on.
include(CMakePackageConfigHelpers)

if(QUARN_BUILD_TOOL)
  install(TARGETS quarn RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_BINARY_DIR}/quarn.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The library and its header, and the CMake package that finds them.
set(QUARN_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quarn)
install(TARGETS quarn_module EXPORT quarnTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  FILE_SET HEADERS DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT quarnTargets NAMESPACE quarn:: DESTINATION ${QUARN_CMAKE_DIR})
write_basic_package_version_file(quarnConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES cmake/quarnConfig.cmake ${PROJECT_BINARY_DIR}/quarnConfigVersion.cmake
  DESTINATION ${QUARN_CMAKE_DIR})

# quarn.pc finds its prefix from where it lies, so the same file serves any
# install prefix and the Debian package. A static libquarn needs GL and GLU
# on every link line; a shared one brings them itself. It needs nothing of
# the C++ runtime, so C programs link it as they are.
set(QUARN_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH QUARN_PC_TO_PREFIX /${QUARN_PC_DIR} /)
if(BUILD_SHARED_LIBS)
  set(QUARN_PC_REQUIRES Requires.private)
else()
  set(QUARN_PC_REQUIRES Requires)
endif()
configure_file(cmake/quarn.pc.in quarn.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quarn.pc DESTINATION ${QUARN_PC_DIR})

# cpack -G DEB: one package with the tool, its manual page and the
# development files. Depends comes from the shared libraries they link;
# Mesa's drivers serve most machines without a GPU driver of their own.
set(CPACK_PACKAGE_NAME quarn)
set(CPACK_PACKAGE_VENDOR quarn)
set(CPACK_PACKAGE_CONTACT "quarn developers <quarn@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "report the OpenGL implementation that serves a display")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS libgl1-mesa-dri)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "libgl-dev, libglu1-mesa-dev")
# A project that includes quarn packages itself under its own name.
if(PROJECT_IS_TOP_LEVEL)
  include(CPack)
endif()
