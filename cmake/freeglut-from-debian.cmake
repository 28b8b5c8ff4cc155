# GLUT::GLUT for a cross build, from Debian's freeglut source package: apt
# fetches the source (apt-get source) through a private configuration whose
# deb-src entries are the machine's own apt sources, and freeglut is built
# with this build's toolchain, once, into the build folder; later configures
# reuse it. Nothing of freeglut's enters the source tree.
set(freeglut_dir ${CMAKE_BINARY_DIR}/freeglut)
set(freeglut_prefix ${freeglut_dir}/install)

function(freeglut_run step)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${freeglut_dir}
    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "freeglut: ${step} failed:\n${out}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

# The machine's sources, each made a deb-src entry, in a configuration of
# freeglut's own: the machine's apt state is left as it is.
function(freeglut_fetch_source)
  set(apt ${freeglut_dir}/apt)
  file(MAKE_DIRECTORY ${apt}/sources ${apt}/lists/partial ${apt}/cache/archives/partial)
  file(WRITE ${apt}/sources.list "")
  file(GLOB lists /etc/apt/sources.list /etc/apt/sources.list.d/*.list)
  foreach(list IN LISTS lists)
    file(STRINGS ${list} lines REGEX "^[ \t]*deb[ \t]")
    list(TRANSFORM lines REPLACE "^[ \t]*deb[ \t]" "deb-src ")
    list(JOIN lines "\n" lines)
    file(APPEND ${apt}/sources.list "${lines}\n")
  endforeach()
  file(GLOB sources /etc/apt/sources.list.d/*.sources)
  foreach(source IN LISTS sources)
    file(READ ${source} text)
    string(REGEX REPLACE "(^|\n)Types:[^\n]*" "\\1Types: deb-src" text "${text}")
    get_filename_component(name ${source} NAME)
    file(WRITE ${apt}/sources/${name} "${text}")
  endforeach()
  set(options -q -o Dir::Etc::SourceList=${apt}/sources.list -o Dir::Etc::SourceParts=${apt}/sources
    -o Dir::State::Lists=${apt}/lists -o Dir::Cache=${apt}/cache)
  freeglut_run("apt-get update" apt-get ${options} update)
  # apt-get update ends with status 0 where it fetched nothing (offline):
  # its own lines say so, before apt-get source blames the sources list.
  if(out MATCHES "(^|\n)(Err:|W: Failed to fetch|E: )")
    message(FATAL_ERROR "freeglut: apt-get update could not fetch the sources that "
      "${apt}/sources.list and ${apt}/sources name (is the network there?):\n${out}")
  endif()
  freeglut_run("apt-get source freeglut" apt-get ${options} source freeglut)
endfunction()

if(NOT EXISTS ${freeglut_prefix}/include/GL/glut.h)
  message(STATUS "freeglut: fetching Debian's source and building it for ${CMAKE_SYSTEM_NAME}")
  file(REMOVE_RECURSE ${freeglut_dir})
  file(MAKE_DIRECTORY ${freeglut_dir})
  freeglut_fetch_source()
  file(GLOB source LIST_DIRECTORIES true ${freeglut_dir}/freeglut-*)
  list(FILTER source EXCLUDE REGEX "\\.(tar\\..*|dsc)$")
  freeglut_run("configuring" ${CMAKE_COMMAND} -S ${source} -B ${freeglut_dir}/build
    -G ${CMAKE_GENERATOR} -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=${freeglut_prefix}
    -DFREEGLUT_BUILD_DEMOS=OFF -DFREEGLUT_BUILD_SHARED_LIBS=OFF -DFREEGLUT_BUILD_STATIC_LIBS=ON
    -DFREEGLUT_REPLACE_GLUT=ON)
  freeglut_run("building" ${CMAKE_COMMAND} --build ${freeglut_dir}/build --target install)
endif()

find_package(FreeGLUT CONFIG REQUIRED PATHS ${freeglut_prefix} NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
add_library(GLUT::GLUT INTERFACE IMPORTED)
target_link_libraries(GLUT::GLUT INTERFACE FreeGLUT::freeglut_static)
