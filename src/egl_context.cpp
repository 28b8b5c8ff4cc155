#include "egl_context.h"

#include <GL/gl.h>

#include <cstdio>
#include <iterator>

namespace quarn_egl {

namespace {

// How to ask for a context of one client API.
struct Api {
  EGLenum api;
  EGLint renderableBit;
  const EGLint* contextAttributes;
  const char* bindStep;
  const char* configStep;
  const char* contextStep;
};

// EGL's default is ES 1, which many drivers lack; a driver asked for 2
// answers with its highest compatible version.
const EGLint kEs2[] = {EGL_CONTEXT_MAJOR_VERSION, 2, EGL_NONE};

// Desktop OpenGL with no version or profile asked for, the driver's
// default, as quarn's toolkit makes; then OpenGL ES.
const Api kApis[] = {{.api = EGL_OPENGL_API,
                      .renderableBit = EGL_OPENGL_BIT,
                      .contextAttributes = nullptr,
                      .bindStep = "bind OpenGL",
                      .configStep = "find an OpenGL config",
                      .contextStep = "create an OpenGL context"},
                     {.api = EGL_OPENGL_ES_API,
                      .renderableBit = EGL_OPENGL_ES2_BIT,
                      .contextAttributes = kEs2,
                      .bindStep = "bind OpenGL ES",
                      .configStep = "find an OpenGL ES config",
                      .contextStep = "create an OpenGL ES context"}};

// A vendor may fail a call and set no error (glvnd, where no vendor takes
// a platform): the line must not read as success.
Failure failed(const char* step) {
  const EGLint code = eglGetError();
  return {step,
          code == EGL_SUCCESS ? "EGL gives no error" : egl_error_name(code)};
}

Failure create_context(EGLDisplay egl, bool surfaceless, const Api& api,
                       EGLConfig& config, EGLContext& context) {
  if (!eglBindAPI(api.api)) return failed(api.bindStep);
  const EGLint wanted[] = {EGL_RENDERABLE_TYPE, api.renderableBit,
                           EGL_SURFACE_TYPE, surfaceless ? 0 : EGL_PBUFFER_BIT,
                           EGL_NONE};
  EGLint configs = 0;
  if (!eglChooseConfig(egl, wanted, &config, 1, &configs)) {
    return failed(api.configStep);
  }
  if (configs < 1) return {api.configStep, "none matches"};
  context =
      eglCreateContext(egl, config, EGL_NO_CONTEXT, api.contextAttributes);
  if (context == EGL_NO_CONTEXT) return failed(api.contextStep);
  return {};
}

// The first API that gives a context; where none does, desktop OpenGL's
// failure is the one to name.
Current create_any_context(EGLDisplay egl, bool surfaceless,
                           const std::string& name, EGLConfig& config,
                           EGLContext& context) {
  const Failure desktop =
      create_context(egl, surfaceless, kApis[0], config, context);
  if (!desktop) return {};
  Failure es = create_context(egl, surfaceless, kApis[1], config, context);
  // A device with no desktop config at all offers OpenGL ES alone: its own
  // failure is the one to name, with that.
  if (es && es.step != kApis[1].configStep &&
      desktop.step == kApis[0].configStep && desktop.why == "none matches") {
    es.why += "; it offers no desktop OpenGL (cannot " +
              std::string(desktop.step) + ": none matches)";
    return {es, ""};
  }
  if (es) return {desktop, ""};
  return {{},
          name + " offers no desktop OpenGL (cannot " + desktop.step + ": " +
              desktop.why + "); reporting OpenGL ES"};
}

Current make_current_on(EGLDisplay egl, const Display& display) {
  if (!eglInitialize(egl, nullptr, nullptr)) return {failed("initialize EGL")};
  const bool surfaceless = has_word(eglQueryString(egl, EGL_EXTENSIONS),
                                    "EGL_KHR_surfaceless_context");
  EGLConfig config = nullptr;
  EGLContext context = EGL_NO_CONTEXT;
  Current current =
      create_any_context(egl, surfaceless, display.name, config, context);
  if (current.failure) return current;
  EGLSurface surface = EGL_NO_SURFACE;
  if (!surfaceless) {
    const EGLint size[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
    surface = eglCreatePbufferSurface(egl, config, size);
    if (surface == EGL_NO_SURFACE) return {failed("create a 1x1 pbuffer")};
  }
  if (!eglMakeCurrent(egl, surface, surface, context)) {
    return {failed("make the context current")};
  }
  // A context that names no version is no OpenGL implementation to report.
  if (glGetString(GL_VERSION) == nullptr) {
    eglMakeCurrent(egl, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    return {{"read the OpenGL version", "the context gives none"}};
  }
  return current;
}

}  // namespace

std::string egl_error_name(EGLint code) {
  static const char* const kNames[] = {
      "EGL_SUCCESS",       "EGL_NOT_INITIALIZED",     "EGL_BAD_ACCESS",
      "EGL_BAD_ALLOC",     "EGL_BAD_ATTRIBUTE",       "EGL_BAD_CONFIG",
      "EGL_BAD_CONTEXT",   "EGL_BAD_CURRENT_SURFACE", "EGL_BAD_DISPLAY",
      "EGL_BAD_MATCH",     "EGL_BAD_NATIVE_PIXMAP",   "EGL_BAD_NATIVE_WINDOW",
      "EGL_BAD_PARAMETER", "EGL_BAD_SURFACE",         "EGL_CONTEXT_LOST"};
  // The device extensions' own error, which a driver gives for a device it
  // listed but cannot serve.
  if (code == EGL_BAD_DEVICE_EXT) return "EGL_BAD_DEVICE_EXT";
  const EGLint index = code - EGL_SUCCESS;
  if (index >= 0 && index < static_cast<EGLint>(std::size(kNames))) {
    return kNames[index];
  }
  char unknown[32];
  std::snprintf(unknown, sizeof unknown, "EGL error 0x%04X",
                static_cast<unsigned>(code));
  return unknown;
}

Current make_context_current(const Display& display) {
  const auto getDisplay =
      egl_function<PFNEGLGETPLATFORMDISPLAYEXTPROC>("eglGetPlatformDisplayEXT");
  const EGLDisplay egl =
      getDisplay != nullptr
          ? getDisplay(display.platform, display.native, nullptr)
          : EGL_NO_DISPLAY;
  if (egl == EGL_NO_DISPLAY) return {failed("get an EGL display")};
  Current current = make_current_on(egl, display);
  if (current.failure) eglTerminate(egl);
  return current;
}

}  // namespace quarn_egl
