# quarn::GLU: GLU's library and headers alone, without the GL library that
# CMake's OpenGL::GLU brings along (with GLVND, libGLX too). The build and
# the installed package both make it from what FindOpenGL found.
if(NOT TARGET quarn::GLU)
  add_library(quarn::GLU INTERFACE IMPORTED)
  set_target_properties(quarn::GLU PROPERTIES
    INTERFACE_LINK_LIBRARIES "${OPENGL_glu_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${OPENGL_INCLUDE_DIR}")
endif()
