# Programs of other people's, built against quarn as they would build them,
# one row of the table a test (consumers.ROW). The row `install` installs the
# build into PREFIX for the others, and checks that the tool and its manual
# page are where users look.
#   cmake -DROW=... -DBUILD_DIR=... -DSOURCE_DIR=... -DPREFIX=... -DWORK=...
#         -DVERSION=... -DCONSUMERS=... -DXVFB_DIR=... -P consumers.cmake
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out
                  ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

function(expect_output expected)
  if(NOT out STREQUAL expected)
    message(FATAL_ERROR "expected '${expected}', got '${out}'")
  endif()
endfunction()

# The compiler flags that pkg-config gives for the installed quarn.
function(quarn_flags)
  file(GLOB pc_dirs "${PREFIX}/lib*/pkgconfig" "${PREFIX}/lib/*/pkgconfig")
  list(JOIN pc_dirs ":" pc_path)
  run(env "PKG_CONFIG_PATH=${pc_path}" pkg-config --cflags --libs quarn)
  separate_arguments(flags UNIX_COMMAND "${out}")
  set(flags ${flags} PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
set(c_warnings -Wall -Wextra -Werror)
# What c_consumer.c prints with no context current, its own init() last.
set(c_consumer_output "640 360 0 0\nthe program's own init\n")

if(ROW STREQUAL "install")
  file(REMOVE_RECURSE "${PREFIX}")
  run("${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}")
  foreach(installed bin/quarn share/man/man1/quarn.1 include/quarn.h)
    if(NOT EXISTS "${PREFIX}/${installed}")
      message(FATAL_ERROR "not installed: ${installed}")
    endif()
  endforeach()
  file(READ "${PREFIX}/share/man/man1/quarn.1" page)
  if(NOT page MATCHES "\"quarn ${VERSION}\"")
    message(FATAL_ERROR "the manual page does not carry the version ${VERSION}")
  endif()
  # With no display, the installed tool prints the banner before the
  # toolkit gives up.
  execute_process(COMMAND env -u DISPLAY "${PREFIX}/bin/quarn" OUTPUT_VARIABLE out ERROR_QUIET)
  if(NOT out MATCHES "^\\$RCSfile: quarn,v \\$")
    message(FATAL_ERROR "the installed quarn printed: '${out}'")
  endif()

elseif(ROW STREQUAL "pkg_config_c_with_its_own_init")
  # A C program built with pkg-config against libquarn.a: no context is
  # current, and its own init() takes the place of quarn's.
  quarn_flags()
  run(gcc -std=c11 ${c_warnings} "${CONSUMERS}/c_consumer.c" ${flags} -o "${WORK}/c_consumer")
  run(env -u DISPLAY "${WORK}/c_consumer")
  expect_output("${c_consumer_output}")

elseif(ROW STREQUAL "pkg_config_with_an_absolute_libdir")
  # GNUInstallDirs takes an absolute CMAKE_INSTALL_LIBDIR, such as
  # <prefix>/lib64: quarn.pc must still name the folders it installs to,
  # blanks in their names included.
  set(prefix "${WORK}/pre fix")
  run("${CMAKE_COMMAND}" -S "${SOURCE_DIR}" -B "${WORK}/build" -G Ninja -DQUARN_INSTALL=ON
      -DQUARN_BUILD_TOOL=OFF -DQUARN_BUILD_TESTS=OFF "-DCMAKE_INSTALL_PREFIX=${prefix}"
      "-DCMAKE_INSTALL_LIBDIR=${prefix}/lib64")
  run("${CMAKE_COMMAND}" --build "${WORK}/build")
  run("${CMAKE_COMMAND}" --install "${WORK}/build")
  run(env "PKG_CONFIG_PATH=${prefix}/lib64/pkgconfig" pkg-config --cflags --libs quarn)
  separate_arguments(flags UNIX_COMMAND "${out}")
  run(gcc -std=c11 ${c_warnings} "${CONSUMERS}/c_consumer.c" ${flags} -o "${WORK}/c_consumer")
  run(env -u DISPLAY "${WORK}/c_consumer")
  expect_output("${c_consumer_output}")

elseif(ROW STREQUAL "shared_object_with_libquarn_a")
  quarn_flags()
  run(gcc -std=c11 ${c_warnings} -shared -fPIC "${CONSUMERS}/c_consumer.c" ${flags}
      -o "${WORK}/plugin.so")

elseif(ROW STREQUAL "plugin_of_a_host_with_its_own_init")
  # Without --exclude-libs, the plugin's init() would reach the host's.
  quarn_flags()
  run(gcc -std=c11 ${c_warnings} -rdynamic "${CONSUMERS}/plugin.c" -ldl -o "${WORK}/host")
  foreach(exclude IN ITEMS "-Wl,--exclude-libs,ALL" "")
    run(gcc -std=c11 ${c_warnings} -DPLUGIN -shared -fPIC "${CONSUMERS}/plugin.c" ${flags}
        ${exclude} -o "${WORK}/plugin.so")
    run(env -u DISPLAY "${WORK}/host" "${WORK}/plugin.so")
    if(exclude)
      expect_output("OpenGL Vendor: (null)\nOpenGL Renderer: (null)\nOpenGL Version: (null)\nOpenGL Extensions: (null)\n")
    else()
      expect_output("the host's init\n")
    endif()
  endforeach()

elseif(ROW STREQUAL "includes_in_any_order_with_epoxy_and_glew")
  quarn_flags()
  foreach(order IN ITEMS "1;<epoxy/gl.h>;-lepoxy" "0;<epoxy/gl.h>;-lepoxy" "1;<GL/glew.h>;-lGLEW")
    list(GET order 0 quarn_first)
    list(GET order 1 loader)
    list(GET order 2 loader_library)
    foreach(language IN ITEMS c c++)
      run(gcc -x ${language} ${c_warnings} "-DQUARN_FIRST=${quarn_first}" "-DLOADER=${loader}"
          "${CONSUMERS}/include_order.c" -x none ${flags} ${loader_library} -o "${WORK}/program")
    endforeach()
  endforeach()

elseif(ROW STREQUAL "find_package_in_a_core_context")
  run("${CMAKE_COMMAND}" -S "${CONSUMERS}" -B "${WORK}" -G Ninja
      "-DCMAKE_PREFIX_PATH=${PREFIX}" "-DQUARN_VERSION=${VERSION}")
  run("${CMAKE_COMMAND}" --build "${WORK}")
  if(NOT EXISTS "${XVFB_DIR}/display")
    message(FATAL_ERROR "no private X server (did xvfb.start pass?): the core profile consumer was built, not run")
  endif()
  file(STRINGS "${XVFB_DIR}/display" display)
  run(env "DISPLAY=${display}" "XAUTHORITY=${XVFB_DIR}/auth" "${WORK}/core_profile_consumer")
  expect_output("found clean\n")

elseif(ROW MATCHES "^(add_subdirectory|fetchcontent)_without_glut$")
  string(COMPARE EQUAL "${CMAKE_MATCH_1}" fetchcontent by_fetchcontent)
  run("${CMAKE_COMMAND}" -S "${CONSUMERS}/parent" -B "${WORK}" -G Ninja
      "-DQUARN_SOURCE=${SOURCE_DIR}" "-DQUARN_BY_FETCHCONTENT=${by_fetchcontent}"
      -DCMAKE_DISABLE_FIND_PACKAGE_GLUT=ON)
  run("${CMAKE_COMMAND}" --build "${WORK}")
  run(env -u DISPLAY "${WORK}/c_consumer")
  expect_output("${c_consumer_output}")
  # The parent exports a library of its own that links quarn::module.
  run("${CMAKE_COMMAND}" --install "${WORK}" --prefix "${WORK}/installed")
  file(GLOB exported "${WORK}/installed/lib/cmake/parent/parentTargets.cmake")
  file(READ "${exported}" exported)
  if(NOT exported MATCHES "quarn::module")
    message(FATAL_ERROR "the parent's export does not name quarn::module")
  endif()
  file(READ "${WORK}/CPackConfig.cmake" cpack)
  if(NOT cpack MATCHES "CPACK_PACKAGE_NAME \"parent\"")
    message(FATAL_ERROR "quarn took over the parent's package")
  endif()

else()
  message(FATAL_ERROR "no such row: ${ROW}")
endif()
