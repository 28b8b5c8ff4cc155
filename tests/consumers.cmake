# Installs the build into a fresh prefix and uses it as users would: the
# tool and its manual page where they look for them, and the library built
# into two programs of their own, a C++ one through find_package in a core
# profile context and a C one through pkg-config.
#   cmake -DBUILD_DIR=... -DPREFIX=... -DVERSION=... -DCONSUMERS=... -DXVFB_DIR=...
#         -P install_check.cmake
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out
                  ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${PREFIX}")
run("${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}")
file(READ "${BUILD_DIR}/CMakeCache.txt" cache)
string(REGEX MATCH "CMAKE_INSTALL_LIBDIR:PATH=([^\n]*)" _ "${cache}")
set(libdir "${PREFIX}/${CMAKE_MATCH_1}")
foreach(installed bin/quarn share/man/man1/quarn.1 include/quarn.h)
  if(NOT EXISTS "${PREFIX}/${installed}")
    message(FATAL_ERROR "not installed: ${installed}")
  endif()
endforeach()
file(GLOB library "${libdir}/libquarn.*")
foreach(installed cmake/quarn/quarnConfig.cmake cmake/quarn/quarnConfigVersion.cmake
                  pkgconfig/quarn.pc)
  if(NOT library OR NOT EXISTS "${libdir}/${installed}")
    message(FATAL_ERROR "not installed: the library or ${installed}")
  endif()
endforeach()
file(READ "${PREFIX}/share/man/man1/quarn.1" page)
if(NOT page MATCHES "\"quarn [0-9]+\\.[0-9]+\"")
  message(FATAL_ERROR "the manual page has no version")
endif()

# The installed tool starts: with no display it prints the banner before the
# toolkit gives up.
execute_process(COMMAND env -u DISPLAY "${PREFIX}/bin/quarn"
                OUTPUT_VARIABLE out ERROR_QUIET)
if(NOT out MATCHES "^\\$RCSfile: quarn,v \\$")
  message(FATAL_ERROR "the installed quarn printed: '${out}'")
endif()

# The C program, exactly as a C user builds it.
run(env "PKG_CONFIG_PATH=${libdir}/pkgconfig" pkg-config --cflags --libs quarn)
separate_arguments(flags UNIX_COMMAND "${out}")
run(gcc -std=c11 -Wall -Wextra -Werror "${CONSUMERS}/c_consumer.c" ${flags}
    -o "${PREFIX}/c_consumer")
run(env -u DISPLAY "${PREFIX}/c_consumer")
if(NOT out STREQUAL "640 360 0 0\n")
  message(FATAL_ERROR "the C consumer printed: '${out}'")
endif()

# The C++ program, through find_package, in a core profile context.
run("${CMAKE_COMMAND}" -S "${CONSUMERS}" -B "${PREFIX}/consumer-build"
    "-DCMAKE_PREFIX_PATH=${PREFIX}" "-DQUARN_VERSION=${VERSION}")
run("${CMAKE_COMMAND}" --build "${PREFIX}/consumer-build")
if(NOT EXISTS "${XVFB_DIR}/display")
  message(STATUS "no private X server: the core profile consumer was built, not run")
  return()
endif()
file(STRINGS "${XVFB_DIR}/display" display)
run(env "DISPLAY=${display}" "XAUTHORITY=${XVFB_DIR}/auth"
    "${PREFIX}/consumer-build/core_profile_consumer")
if(NOT out STREQUAL "found clean\n")
  message(FATAL_ERROR "the core profile consumer printed: '${out}'")
endif()
