# The quarn package: find_package(quarn CONFIG) gives the target
# quarn::module, the module's operations for other GL code. It has no
# components. It finds OpenGL (libOpenGL) and GLU for the target inside a
# function, so that nothing it sets reaches the caller's variables, such as
# OpenGL_GL_PREFERENCE.
function(_quarn_find_dependencies)
  foreach(component IN LISTS quarn_FIND_COMPONENTS)
    if(quarn_FIND_REQUIRED_${component})
      list(APPEND asked ${component})
    endif()
  endforeach()
  set(OpenGL_GL_PREFERENCE GLVND)
  if(WIN32)
    find_package(OpenGL QUIET)  # opengl32, Windows' one GL library
  else()
    find_package(OpenGL QUIET COMPONENTS OpenGL)
  endif()
  if(NOT TARGET OpenGL::OpenGL AND NOT (WIN32 AND TARGET OpenGL::GL))
    set(reason "it needs libOpenGL's development files (Debian: libgl-dev)")
  elseif(NOT TARGET OpenGL::GLU)
    set(reason "it needs GLU's development files (Debian: libglu1-mesa-dev)")
  elseif(asked)
    list(JOIN asked ", " asked)
    set(reason "it has no components, only the target quarn::module (asked for: ${asked})")
  endif()
  if(reason)
    set(quarn_FOUND FALSE PARENT_SCOPE)
    set(quarn_NOT_FOUND_MESSAGE "quarn cannot be used: ${reason}" PARENT_SCOPE)
  else()
    include("${CMAKE_CURRENT_FUNCTION_LIST_DIR}/glu.cmake")
  endif()
endfunction()

_quarn_find_dependencies()
if(NOT DEFINED quarn_FOUND OR quarn_FOUND)
  include("${CMAKE_CURRENT_LIST_DIR}/quarnTargets.cmake")
endif()
