// quarn-egl: quarn's report without a window system. It prints the same
// banner and the same four lines as quarn, from a desktop OpenGL context
// that EGL makes current with no surface: on a GPU through the device
// platform, or on Mesa's surfaceless platform where there is none. Each
// device is tried in turn, the GPUs first; one that fails is named, with
// the step, EGL's error and the likely cause, and the next is tried.
//   quarn-egl [--device=NAME] [--say-device] [--no-banner] | --list-devices
//           | --version | --help
#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "program.h"
#include "quarn.h"

namespace {

const char* const kUsage =
    "usage: quarn-egl [--device=NAME] [--say-device] [--no-banner]\n"
    "                                   report the OpenGL implementation\n"
    "       quarn-egl --list-devices    the devices, in the order tried\n"
    "       quarn-egl --version | --help\n";

enum class Kind { Gpu, Software, Surfaceless };

// A display that EGL gives without a window system, named as
// --list-devices prints it and --device takes it.
struct Display {
  std::string name;
  std::string description;
  EGLenum platform;
  void* native;
  Kind kind = Kind::Surfaceless;
  const char* renderNode = nullptr;  // the device's DRM render node
  std::string kernelDriver{};        // the render node's, where sysfs names it
  bool nvidia = false;               // NVIDIA's own device (EGL_NV_device_cuda)
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
  // A vendor that answers with more than it was given room for has filled
  // no more than that room.
  found.resize(std::min(found.size(), static_cast<std::size_t>(count)));
  return found;
}

const char* device_string(EGLDeviceEXT device, EGLint name) {
  const auto query =
      egl_function<PFNEGLQUERYDEVICESTRINGEXTPROC>("eglQueryDeviceStringEXT");
  return query != nullptr ? query(device, name) : nullptr;
}

// What a driver gives goes on one line, a device's in --list-devices or a
// message's: a tab or line break of its own would split it.
std::string one_line(std::string text) {
  std::replace_if(
      text.begin(), text.end(),
      [](unsigned char c) { return c < 0x20 || c == 0x7f; }, ' ');
  return text;
}

// The kernel driver of a render node, as sysfs names it without opening
// the node: i915 beside nvidia, or vgem, which no EGL driver serves. Empty
// where sysfs names none.
std::string kernel_driver(const char* node) {
  struct stat info {};
  if (stat(node, &info) != 0 || !S_ISCHR(info.st_mode)) return "";
  const std::string link =
      "/sys/dev/char/" + std::to_string(major(info.st_rdev)) + ":" +
      std::to_string(minor(info.st_rdev)) + "/device/driver";
  char target[4096];
  const ssize_t length = readlink(link.c_str(), target, sizeof target);
  if (length <= 0 || length == sizeof target) return "";
  const std::string_view path(target, static_cast<std::size_t>(length));
  return one_line(std::string(path.substr(path.rfind('/') + 1)));
}

// By its DRM render node; else by its CUDA index (NVIDIA's device in a
// container without /dev/dri); else as Mesa's software device; else by its
// place in EGL's list.
std::string device_name(const Display& display, std::size_t index) {
  const auto attribute =
      egl_function<PFNEGLQUERYDEVICEATTRIBEXTPROC>("eglQueryDeviceAttribEXT");
  EGLAttrib cuda = -1;
  if (display.renderNode != nullptr) return one_line(display.renderNode);
  if (display.nvidia && attribute != nullptr &&
      attribute(static_cast<EGLDeviceEXT>(display.native), EGL_CUDA_DEVICE_NV,
                &cuda)) {
    return "cuda:" + std::to_string(cuda);
  }
  if (display.kind == Kind::Software) return "software";
  return "device " + std::to_string(index);
}

// What EGL and sysfs say of a device without initializing anything: its
// vendor and renderer, and its render node's kernel driver.
void describe(Display& display, const char* extensions) {
  const auto device = static_cast<EGLDeviceEXT>(display.native);
  if (has_word(extensions, "EGL_EXT_device_query_name")) {
    const char* vendor = device_string(device, EGL_VENDOR);
    const char* renderer = device_string(device, EGL_RENDERER_EXT);
    if (vendor != nullptr && renderer != nullptr) {
      display.description +=
          ": " + one_line(std::string(vendor) + ", " + renderer);
    }
  }
  if (!display.kernelDriver.empty()) {
    display.description += "; kernel driver " + display.kernelDriver;
  }
}

// The device as a display. Every device but Mesa's software one is a GPU.
Display device_display(EGLDeviceEXT device, std::size_t index) {
  const char* extensions = device_string(device, EGL_EXTENSIONS);
  Display display{"", "GPU", EGL_PLATFORM_DEVICE_EXT, device, Kind::Gpu};
  if (has_word(extensions, "EGL_EXT_device_drm_render_node")) {
    const char* node = device_string(device, EGL_DRM_RENDER_NODE_FILE_EXT);
    // No node is NULL; an empty name is no node either.
    if (node != nullptr && *node != '\0') {
      display.renderNode = node;
      display.kernelDriver = kernel_driver(node);
    }
  }
  display.nvidia = has_word(extensions, "EGL_NV_device_cuda");
  if (has_word(extensions, "EGL_MESA_device_software")) {
    display.kind = Kind::Software;
    display.description = "Mesa's software renderer";
  }
  display.name = device_name(display, index);
  describe(display, extensions);
  return display;
}

// A later display whose name an earlier one has gets NAME#2, NAME#3 and so
// on, in EGL's order: glvnd lists NVIDIA's device and Mesa's entry for the
// same render node, and --device must tell them apart.
void make_names_unique(std::vector<Display>& all) {
  std::vector<std::string> seen;
  for (Display& display : all) {
    const auto times = std::count(seen.begin(), seen.end(), display.name);
    seen.push_back(display.name);
    // Appended piece by piece: GCC 12 at -O3 takes "#" + a string for an
    // overlapping copy (-Wrestrict), though it is none.
    if (times > 0) display.name.append("#").append(std::to_string(times + 1));
  }
}

// Every display that can serve the report, in the order they are tried:
// the GPUs in EGL's order, then the software devices, then Mesa's
// surfaceless platform. Surfaceless is named even where EGL does not offer
// it, when nothing else is there, so that the failure to get it says why.
std::vector<Display> displays() {
  const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  std::vector<Display> all;
  if (has_word(client, "EGL_EXT_platform_device")) {
    const std::vector<EGLDeviceEXT> found = devices();
    for (std::size_t i = 0; i < found.size(); ++i) {
      all.push_back(device_display(found[i], i));
    }
  }
  make_names_unique(all);
  std::vector<Display> ordered;
  for (const Kind kind : {Kind::Gpu, Kind::Software}) {
    for (Display& display : all) {
      if (display.kind == kind) ordered.push_back(std::move(display));
    }
  }
  if (ordered.empty() || has_word(client, "EGL_MESA_platform_surfaceless")) {
    ordered.push_back({"surfaceless", "Mesa's surfaceless platform",
                       EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY});
  }
  return ordered;
}

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

// A step that failed, and why: EGL's error, or a reason of quarn-egl's
// where EGL gives none. An empty step means success.
struct Failure {
  const char* step = nullptr;
  std::string why;
  explicit operator bool() const { return step != nullptr; }
};

// A vendor may fail a call and set no error (glvnd, where no vendor takes
// a platform): the line must not read as success.
Failure failed(const char* step) {
  const EGLint code = eglGetError();
  return {step,
          code == EGL_SUCCESS ? "EGL gives no error" : egl_error_name(code)};
}

// What a render node that failed says of itself: the reason this user
// cannot open it, with the group to join where that is the reason, or
// else its kernel driver. The name is the driver's: whatever file it
// names, opening it neither waits nor takes a terminal.
std::string render_node_cause(const Display& display) {
  const char* node = display.renderNode;
  const int fd = open(node, O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd != -1) {
    close(fd);
    return display.kernelDriver.empty()
               ? ""
               : "its kernel driver is " + display.kernelDriver;
  }
  const int reason = errno;
  std::string cause =
      "cannot open " + one_line(node) + ": " + std::strerror(reason);
  struct stat info {};
  if (reason == EACCES && stat(node, &info) == 0) {
    const group* owner = getgrgid(info.st_gid);
    cause += "; add this user to group " + (owner != nullptr
                                                ? std::string(owner->gr_name)
                                                : std::to_string(info.st_gid));
  }
  return cause;
}

// Why Mesa's surfaceless platform, named where nothing else is, could not
// be had: libEGL loaded no EGL driver at all (a container that lacks
// Mesa's), or none of those it loaded offers the platform.
std::string surfaceless_cause() {
  const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  if (has_word(client, "EGL_MESA_platform_surfaceless")) return "";
  return client == nullptr || *client == '\0'
             ? "libEGL finds no EGL driver: Mesa's is libEGL_mesa.so.0, in "
               "Debian's libegl-mesa0"
             : "no EGL driver here offers it: Mesa's, libEGL_mesa.so.0, does";
}

// One line on standard error: the step that failed, where, EGL's error,
// and the cause where one can be found.
void say_failure(const Failure& failure, const Display& display) {
  std::string line = "quarn-egl: cannot " + std::string(failure.step) + " on " +
                     display.name + ": " + failure.why;
  const std::string cause =
      display.renderNode != nullptr ? render_node_cause(display)
      : display.platform == EGL_PLATFORM_SURFACELESS_MESA ? surfaceless_cause()
                                                          : "";
  if (!cause.empty()) line += " (" + cause + ")";
  std::fflush(stdout);
  std::fprintf(stderr, "%s\n", line.c_str());
}

// How to ask for a context of one client API.
struct Api {
  EGLenum api;
  EGLint renderableBit;
  const EGLint* contextAttributes;
  const char* bindStep;
  const char* configStep;
  const char* contextStep;
};

// No version or profile asked for: the driver's default desktop context,
// as quarn's toolkit makes.
const Api kDesktopGl = {.api = EGL_OPENGL_API,
                        .renderableBit = EGL_OPENGL_BIT,
                        .contextAttributes = nullptr,
                        .bindStep = "bind OpenGL",
                        .configStep = "find an OpenGL config",
                        .contextStep = "create an OpenGL context"};
// EGL's default is ES 1, which many drivers lack; a driver asked for 2
// answers with its highest compatible version.
const EGLint kEs2[] = {EGL_CONTEXT_MAJOR_VERSION, 2, EGL_NONE};
const Api kOpenGlEs = {.api = EGL_OPENGL_ES_API,
                       .renderableBit = EGL_OPENGL_ES2_BIT,
                       .contextAttributes = kEs2,
                       .bindStep = "bind OpenGL ES",
                       .configStep = "find an OpenGL ES config",
                       .contextStep = "create an OpenGL ES context"};

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

// Makes a context current on the display: desktop OpenGL, else OpenGL ES
// on a device that offers that alone. Without a surface where the driver
// allows (EGL_KHR_surfaceless_context), else on a 1x1 pbuffer. A display
// that fails is terminated, for the next one to be tried.
Failure make_context_current(const Display& display) {
  const auto getDisplay =
      egl_function<PFNEGLGETPLATFORMDISPLAYEXTPROC>("eglGetPlatformDisplayEXT");
  const EGLDisplay egl =
      getDisplay != nullptr
          ? getDisplay(display.platform, display.native, nullptr)
          : EGL_NO_DISPLAY;
  if (egl == EGL_NO_DISPLAY) return failed("get an EGL display");
  if (!eglInitialize(egl, nullptr, nullptr)) {
    Failure failure = failed("initialize EGL");
    eglTerminate(egl);
    return failure;
  }
  const bool surfaceless = has_word(eglQueryString(egl, EGL_EXTENSIONS),
                                    "EGL_KHR_surfaceless_context");
  EGLConfig config = nullptr;
  EGLContext context = EGL_NO_CONTEXT;
  // Where desktop OpenGL fails and OpenGL ES fails too, desktop's failure
  // is the one to name.
  const Failure desktop =
      create_context(egl, surfaceless, kDesktopGl, config, context);
  Failure failure =
      desktop && create_context(egl, surfaceless, kOpenGlEs, config, context)
          ? desktop
          : Failure{};
  EGLSurface surface = EGL_NO_SURFACE;
  if (!failure && !surfaceless) {
    const EGLint size[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
    surface = eglCreatePbufferSurface(egl, config, size);
    if (surface == EGL_NO_SURFACE) failure = failed("create a 1x1 pbuffer");
  }
  if (!failure && !eglMakeCurrent(egl, surface, surface, context)) {
    failure = failed("make the context current");
  }
  if (failure) {
    eglTerminate(egl);
  } else if (desktop) {
    std::fflush(stdout);
    std::fprintf(stderr,
                 "quarn-egl: %s offers no desktop OpenGL (cannot %s: %s); "
                 "reporting OpenGL ES\n",
                 display.name.c_str(), desktop.step, desktop.why.c_str());
  }
  return failure;
}

// Whether NVIDIA's kernel driver is here: its device nodes, or the GPUs it
// lists under /proc.
bool nvidia_driver_present() {
  if (access("/dev/nvidia0", F_OK) == 0) return true;
  DIR* gpus = opendir("/proc/driver/nvidia/gpus");
  if (gpus == nullptr) return false;
  bool any = false;
  for (const dirent* entry; !any && (entry = readdir(gpus)) != nullptr;) {
    any = entry->d_name[0] != '.';
  }
  closedir(gpus);
  return any;
}

// Where the report came from software, or from nothing, while an NVIDIA
// GPU is here, EGL could not see it: says what is missing. `served` is
// null where every display failed.
void say_if_an_nvidia_gpu_went_unseen(const Display* served,
                                      const std::vector<Display>& all) {
  if (served != nullptr && served->kind == Kind::Gpu) return;
  for (const Display& display : all) {
    if (display.nvidia) return;
  }
  if (!nvidia_driver_present()) return;
  std::fprintf(stderr,
               "quarn-egl: an NVIDIA GPU is here, but no EGL device is "
               "NVIDIA's: missing are NVIDIA's EGL library "
               "(libEGL_nvidia.so.0) or its glvnd vendor file "
               "(10_nvidia.json), or, in a container, the graphics driver "
               "capability (NVIDIA_DRIVER_CAPABILITIES)\n");
}

int list_devices() {
  for (const Display& display : displays()) {
    std::printf("%s\t%s\n", display.name.c_str(), display.description.c_str());
  }
  return quarn_program::finish_standard_output("quarn-egl");
}

struct Options {
  std::string device;  // only this one, if given
  bool sayDevice = false;
  bool banner = true;
};

int report(const Options& options) {
  if (options.banner) std::printf("%s\n", quarn_program::kVersionBanner);
  const std::vector<Display> all = displays();
  std::vector<const Display*> tried;
  for (const Display& display : all) {
    if (!options.device.empty() && display.name != options.device) continue;
    tried.push_back(&display);
    if (!options.device.empty()) break;
  }
  if (tried.empty()) {
    std::fflush(stdout);
    std::fprintf(stderr,
                 "quarn-egl: no device %s (quarn-egl --list-devices "
                 "names them)\n",
                 options.device.c_str());
    return 1;
  }
  for (const Display* display : tried) {
    const Failure failure = make_context_current(*display);
    if (failure) {
      say_failure(failure, *display);
      continue;
    }
    display_gl_env();
    const int status = quarn_program::finish_standard_output("quarn-egl");
    // A report that went nowhere was served by nothing the reader can see.
    if (options.sayDevice && status == 0) {
      std::fprintf(stderr, "quarn-egl: served by %s (%s)\n",
                   display->name.c_str(), display->description.c_str());
    }
    say_if_an_nvidia_gpu_went_unseen(display, all);
    return status;
  }
  say_if_an_nvidia_gpu_went_unseen(nullptr, all);
  return 1;
}

int usage_error(const char* argument) {
  std::fprintf(stderr, "quarn-egl: unknown argument '%s'\n%s", argument,
               kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (!quarn_program::keep_standard_descriptors_taken("quarn-egl")) return 1;
  Options options;
  bool listing = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help") {
      std::fputs(kUsage, stdout);
      return quarn_program::finish_standard_output("quarn-egl");
    }
    if (argument == "--version") {
      std::printf("%s\n", quarn_program::kVersionBanner);
      return quarn_program::finish_standard_output("quarn-egl");
    }
    if (argument == "--list-devices") {
      listing = true;
    } else if (argument == "--say-device") {
      options.sayDevice = true;
    } else if (argument == "--no-banner") {
      options.banner = false;
    } else if (argument.starts_with("--device=") && argument.size() > 9) {
      options.device = argument.substr(9);
    } else if (argument == "--device" && i + 1 < argc && *argv[i + 1]) {
      options.device = argv[++i];  // never empty: that would try them all
    } else {
      return usage_error(argv[i]);
    }
  }
  return listing ? list_devices() : report(options);
}
