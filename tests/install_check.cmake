# Installs the build into a fresh prefix and checks that the tool and its
# manual page land where users look for them, and that the tool runs there.
#   cmake -DBUILD_DIR=... -DPREFIX=... -P install_check.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()
foreach(installed bin/quarn share/man/man1/quarn.1)
  if(NOT EXISTS "${PREFIX}/${installed}")
    message(FATAL_ERROR "not installed: ${installed}")
  endif()
endforeach()
# The installed tool starts: with no display it prints the banner before the
# toolkit gives up.
execute_process(COMMAND env -u DISPLAY "${PREFIX}/bin/quarn"
                OUTPUT_VARIABLE out ERROR_QUIET)
if(NOT out MATCHES "^\\$RCSfile: quarn,v \\$")
  message(FATAL_ERROR "the installed quarn printed: '${out}'")
endif()
