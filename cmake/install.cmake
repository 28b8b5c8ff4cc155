# Where `cmake --install` puts the tool, its manual page and the library.
# Included when QUARN_INSTALL is on. Debian's packages come from debian/.
include(CMakePackageConfigHelpers)

if(QUARN_BUILD_TOOL)
  install(TARGETS quarn RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(TARGET quarn-egl)
    install(TARGETS quarn-egl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
  install(FILES ${PROJECT_BINARY_DIR}/quarn.1 ${PROJECT_BINARY_DIR}/quarn-egl.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
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
install(FILES cmake/quarnConfig.cmake cmake/glu.cmake ${PROJECT_BINARY_DIR}/quarnConfigVersion.cmake
  DESTINATION ${QUARN_CMAKE_DIR})

# quarn.pc finds its prefix from where it lies, so the same file serves any
# install prefix and the Debian package. A static libquarn needs GL and GLU
# on every link line; a shared one brings them itself. It needs nothing of
# the C++ runtime, so C programs link it as they are.
# GNUInstallDirs takes absolute folders too: those are written as they are.
set(QUARN_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(QUARN_PC_PREFIX ${CMAKE_INSTALL_PREFIX})
else()
  file(RELATIVE_PATH QUARN_PC_PREFIX /${QUARN_PC_DIR} /)
  set(QUARN_PC_PREFIX "\${pcfiledir}/${QUARN_PC_PREFIX}")
endif()
foreach(dir IN ITEMS INCLUDEDIR LIBDIR)
  set(QUARN_PC_${dir} ${CMAKE_INSTALL_${dir}})
  if(NOT IS_ABSOLUTE "${QUARN_PC_${dir}}")
    set(QUARN_PC_${dir} "\${prefix}/${QUARN_PC_${dir}}")
  endif()
endforeach()
# pkg-config splits a value at blanks unless they are escaped, and keeps the
# escape in the flags it prints, for the shell that reads them.
foreach(variable IN ITEMS PREFIX INCLUDEDIR LIBDIR)
  string(REPLACE " " "\\ " QUARN_PC_${variable} "${QUARN_PC_${variable}}")
endforeach()
if(BUILD_SHARED_LIBS)
  set(QUARN_PC_REQUIRES Requires.private)
else()
  set(QUARN_PC_REQUIRES Requires)
endif()
configure_file(cmake/quarn.pc.in quarn.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/quarn.pc DESTINATION ${QUARN_PC_DIR})
