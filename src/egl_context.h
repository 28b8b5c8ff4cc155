// quarn-egl's contexts: the client APIs it asks for, in order, making a
// context of one current on a display, and EGL's errors by name.
#ifndef QUARN_EGL_CONTEXT_H
#define QUARN_EGL_CONTEXT_H

#include <string>

#include "egl_common.h"

namespace quarn_egl {

// EGL's error by its name, or by its number where it has none.
std::string egl_error_name(EGLint code);

// A context made current, or the step that failed. `note` says where the
// context is OpenGL ES's because the display offers no desktop OpenGL.
struct Current {
  Failure failure{};
  std::string note{};
};

// Makes a context current on the display: desktop OpenGL, else OpenGL ES
// on a device that offers that alone, without a surface where the driver
// allows (EGL_KHR_surfaceless_context), else on a 1x1 pbuffer; one that
// gives no OpenGL version has not served. A display that fails is
// terminated, for the next one to be tried.
Current make_context_current(const Display& display);

}  // namespace quarn_egl

#endif  // QUARN_EGL_CONTEXT_H
