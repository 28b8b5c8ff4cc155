// quarn-egl: quarn's report without a window system. It prints the same
// banner and the same four lines as quarn, from a desktop OpenGL context
// that EGL makes current with no surface: on a GPU through the device
// platform, or on Mesa's surfaceless platform where there is none.
//   quarn-egl [--device=NAME] | --list-devices | --help
#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "program.h"
#include "quarn.h"

namespace {

const char* const kUsage =
    "usage: quarn-egl [--device=NAME]   report the OpenGL implementation\n"
    "       quarn-egl --list-devices    the devices, the preferred first\n";

// A display that EGL gives without a window system, named as
// --list-devices prints it and --device takes it.
struct Display {
  std::string name;
  EGLenum platform;
  void* native;
  bool hardware = false;  // a GPU: a device with a DRM render node
};

bool has_word(const char* list, std::string_view word) {
  if (list == nullptr) return false;
  for (std::string_view rest = list; !rest.empty();) {
    const std::size_t blank = rest.find(' ');
    if (rest.substr(0, blank) == word) return true;
    if (blank == std::string_view::npos) break;
    rest.remove_prefix(blank + 1);
  }
  return false;
}

template <typename Function>
Function egl_function(const char* name) {
  return reinterpret_cast<Function>(eglGetProcAddress(name));
}

std::vector<EGLDeviceEXT> devices() {
  const auto query =
      egl_function<PFNEGLQUERYDEVICESEXTPROC>("eglQueryDevicesEXT");
  EGLint count = 0;
  if (query == nullptr || !query(0, nullptr, &count) || count <= 0) return {};
  std::vector<EGLDeviceEXT> found(static_cast<std::size_t>(count));
  if (!query(count, found.data(), &count)) return {};
  found.resize(static_cast<std::size_t>(count));
  return found;
}

// The device as a display, named by its DRM render node, which only
// hardware has; else as Mesa's software device, or by its index.
Display device_display(EGLDeviceEXT device, std::size_t index) {
  const auto query =
      egl_function<PFNEGLQUERYDEVICESTRINGEXTPROC>("eglQueryDeviceStringEXT");
  const char* extensions =
      query != nullptr ? query(device, EGL_EXTENSIONS) : nullptr;
  const char* node = has_word(extensions, "EGL_EXT_device_drm_render_node")
                         ? query(device, EGL_DRM_RENDER_NODE_FILE_EXT)
                         : nullptr;
  std::string name = node != nullptr ? node
                     : has_word(extensions, "EGL_MESA_device_software")
                         ? "software"
                         : "device " + std::to_string(index);
  return {std::move(name), EGL_PLATFORM_DEVICE_EXT, device, node != nullptr};
}

// Every display that can serve the report, the preferred first: the
// devices with a render node (GPUs) in EGL's order, then the others
// (software), then Mesa's surfaceless platform. Surfaceless is named even
// where EGL does not offer it, when nothing else is there, so that the
// failure to get it says why.
std::vector<Display> displays() {
  const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  std::vector<Display> hardware;
  std::vector<Display> others;
  if (has_word(client, "EGL_EXT_platform_device")) {
    const std::vector<EGLDeviceEXT> all = devices();
    for (std::size_t i = 0; i < all.size(); ++i) {
      Display display = device_display(all[i], i);
      (display.hardware ? hardware : others).push_back(std::move(display));
    }
  }
  hardware.insert(hardware.end(), others.begin(), others.end());
  if (hardware.empty() || has_word(client, "EGL_MESA_platform_surfaceless")) {
    hardware.push_back(
        {"surfaceless", EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY});
  }
  return hardware;
}

const char* egl_error_name(EGLint code) {
  static const char* const kNames[] = {
      "EGL_SUCCESS",       "EGL_NOT_INITIALIZED",     "EGL_BAD_ACCESS",
      "EGL_BAD_ALLOC",     "EGL_BAD_ATTRIBUTE",       "EGL_BAD_CONFIG",
      "EGL_BAD_CONTEXT",   "EGL_BAD_CURRENT_SURFACE", "EGL_BAD_DISPLAY",
      "EGL_BAD_MATCH",     "EGL_BAD_NATIVE_PIXMAP",   "EGL_BAD_NATIVE_WINDOW",
      "EGL_BAD_PARAMETER", "EGL_BAD_SURFACE",         "EGL_CONTEXT_LOST"};
  const EGLint index = code - EGL_SUCCESS;
  if (index >= 0 && index < static_cast<EGLint>(std::size(kNames))) {
    return kNames[index];
  }
  static char unknown[32];
  std::snprintf(unknown, sizeof unknown, "EGL error 0x%04X",
                static_cast<unsigned>(code));
  return unknown;
}

// One line on standard error: the step that failed, where, and EGL's error.
int fail(const char* step, const Display& display) {
  const EGLint code = eglGetError();
  std::fflush(stdout);
  std::fprintf(stderr, "quarn-egl: cannot %s on %s: %s\n", step,
               display.name.c_str(), egl_error_name(code));
  return 1;
}

// Makes a desktop OpenGL context current on the display, with no version
// or profile asked for, and without a surface where the driver allows
// (EGL_KHR_surfaceless_context), else on a 1x1 pbuffer. Returns 0, or 1
// after saying which step failed.
int make_context_current(const Display& display) {
  const auto getDisplay =
      egl_function<PFNEGLGETPLATFORMDISPLAYEXTPROC>("eglGetPlatformDisplayEXT");
  const EGLDisplay egl =
      getDisplay != nullptr
          ? getDisplay(display.platform, display.native, nullptr)
          : EGL_NO_DISPLAY;
  if (egl == EGL_NO_DISPLAY) return fail("get an EGL display", display);
  if (!eglInitialize(egl, nullptr, nullptr)) {
    return fail("initialize EGL", display);
  }
  if (!eglBindAPI(EGL_OPENGL_API)) return fail("bind OpenGL", display);
  const bool surfaceless = has_word(eglQueryString(egl, EGL_EXTENSIONS),
                                    "EGL_KHR_surfaceless_context");
  const EGLint configWanted[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                 EGL_SURFACE_TYPE,
                                 surfaceless ? 0 : EGL_PBUFFER_BIT, EGL_NONE};
  EGLConfig config = nullptr;
  EGLint configs = 0;
  if (!eglChooseConfig(egl, configWanted, &config, 1, &configs) ||
      configs < 1) {
    return fail("find an OpenGL config", display);
  }
  const EGLContext context =
      eglCreateContext(egl, config, EGL_NO_CONTEXT, nullptr);
  if (context == EGL_NO_CONTEXT) {
    return fail("create an OpenGL context", display);
  }
  EGLSurface surface = EGL_NO_SURFACE;
  if (!surfaceless) {
    const EGLint size[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
    surface = eglCreatePbufferSurface(egl, config, size);
    if (surface == EGL_NO_SURFACE) {
      return fail("create a 1x1 pbuffer", display);
    }
  }
  if (!eglMakeCurrent(egl, surface, surface, context)) {
    return fail("make the context current", display);
  }
  return 0;
}

int list_devices() {
  for (const Display& display : displays()) {
    std::printf("%s\n", display.name.c_str());
  }
  return quarn_program::finish_standard_output("quarn-egl");
}

int report(const std::string& deviceName) {
  std::printf("%s\n", quarn_program::kVersionBanner);
  const std::vector<Display> all = displays();
  const Display* chosen = &all.front();
  if (!deviceName.empty()) {
    chosen = nullptr;
    for (const Display& display : all) {
      if (display.name == deviceName) chosen = &display;
    }
    if (chosen == nullptr) {
      std::fflush(stdout);
      std::fprintf(stderr,
                   "quarn-egl: no device %s (quarn-egl --list-devices "
                   "names them)\n",
                   deviceName.c_str());
      return 1;
    }
  }
  if (make_context_current(*chosen) != 0) return 1;
  display_gl_env();
  return quarn_program::finish_standard_output("quarn-egl");
}

int usage_error(const char* argument) {
  std::fprintf(stderr, "quarn-egl: unknown argument '%s'\n%s", argument,
               kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (!quarn_program::keep_standard_descriptors_taken("quarn-egl")) return 1;
  std::string deviceName;
  bool listing = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help") {
      std::fputs(kUsage, stdout);
      return quarn_program::finish_standard_output("quarn-egl");
    }
    if (argument == "--list-devices") {
      listing = true;
    } else if (argument.starts_with("--device=") && argument.size() > 9) {
      deviceName = argument.substr(9);
    } else if (argument == "--device" && i + 1 < argc) {
      deviceName = argv[++i];
    } else {
      return usage_error(argv[i]);
    }
  }
  return listing ? list_devices() : report(deviceName);
}
