#include "scripted_gl.h"

#include <EGL/eglext.h>
#include <GL/glu.h>
#include <GL/glut.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace scripted {

Script& script() {
  static Script instance;
  return instance;
}

std::vector<std::string>& calls() {
  static std::vector<std::string> instance;
  return instance;
}

AtToolkitStart& atToolkitStart() {
  static AtToolkitStart instance;
  return instance;
}

// The device whose context EGL last made current, or null.
const EglScript::Device* current_device = nullptr;

void reset() {
  current_device = nullptr;
  script() = Script{};
  calls().clear();
  atToolkitStart() = AtToolkitStart{};
}

void reset_with_report_strings() {
  reset();
  script().strings = {{GL_VENDOR, "V"},
                      {GL_RENDERER, "R"},
                      {GL_VERSION, "1.0"},
                      {GL_EXTENSIONS, "GL_A GL_B "}};
}

namespace {

std::string hex(unsigned int value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

// Reads what has reached standard output's descriptor, when a test has
// pointed it at a file.
std::string stdout_file_contents() {
  struct stat info {};
  if (fstat(STDOUT_FILENO, &info) != 0 || !S_ISREG(info.st_mode)) return {};
  std::string text(static_cast<std::size_t>(info.st_size), '\0');
  const ssize_t got = pread(STDOUT_FILENO, text.data(), text.size(), 0);
  text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return text;
}

void note_stdout_at_toolkit_start() {
  AtToolkitStart& seen = atToolkitStart();
  seen.called = true;
  seen.stdoutPending = __fpending(stdout);
  seen.stdoutLineBuffered = __flbf(stdout) != 0;
  std::fflush(stdout);
  seen.stdoutWritten = stdout_file_contents();
}

// Removes the toolkit's options from the command line, as glutInit does.
void take_toolkit_options(int* argc, char** argv) {
  int kept = 1;
  for (int i = 1; i < *argc; ++i) {
    const auto option = script().toolkitOptions.find(argv[i]);
    if (option == script().toolkitOptions.end()) {
      argv[kept++] = argv[i];
    } else {
      i += option->second;
    }
  }
  argv[kept] = nullptr;
  *argc = kept;
}

std::string joined(int argc, char** argv) {
  std::string text = std::to_string(argc) + ":";
  for (int i = 0; i < argc; ++i) {
    text += " ";
    text += argv[i] != nullptr ? argv[i] : "(null)";
  }
  return text;
}

}  // namespace
}  // namespace scripted

using scripted::calls;
using scripted::script;

extern "C" {

const GLubyte* glGetString(GLenum name) {
  if (script().recordCalls) {
    calls().push_back("glGetString(" + scripted::hex(name) + ")");
  }
  if (name == GL_VERSION && scripted::current_device != nullptr &&
      scripted::current_device->noVersion) {
    return nullptr;
  }
  const auto found = script().strings.find(name);
  const char* text = found == script().strings.end() ? nullptr : found->second;
  return reinterpret_cast<const GLubyte*>(text);
}

void glGetIntegerv(GLenum name, GLint* value) {
  if (script().recordCalls) {
    calls().push_back("glGetIntegerv(" + scripted::hex(name) + ")");
  }
  const auto found = script().integers.find(name);
  if (found != script().integers.end()) {
    *value = found->second;
  } else {
    *value = name == GL_NUM_EXTENSIONS
                 ? static_cast<GLint>(script().indexed.size())
                 : 0;
  }
}

const GLubyte* glGetStringi(GLenum name, GLuint index) {
  if (script().recordCalls) {
    calls().push_back("glGetStringi(" + scripted::hex(name) + ", " +
                      std::to_string(index) + ")");
  }
  const std::vector<const char*>& entries = script().indexed;
  const char* text = name == GL_EXTENSIONS && index < entries.size()
                         ? entries[index]
                         : nullptr;
  return reinterpret_cast<const GLubyte*>(text);
}

GLenum glGetError() {
  calls().push_back("glGetError()");
  if (script().errors.empty()) return GL_NO_ERROR;
  const GLenum code = script().errors.front();
  script().errors.pop_front();
  return code;
}

const GLubyte* gluErrorString(GLenum code) {
  calls().push_back("gluErrorString(" + scripted::hex(code) + ")");
  const auto found = script().errorTexts.find(code);
  const char* text =
      found == script().errorTexts.end() ? nullptr : found->second;
  return reinterpret_cast<const GLubyte*>(text);
}

void glutInit(int* argc, char** argv) {
  scripted::note_stdout_at_toolkit_start();
  calls().push_back("glutInit(" + scripted::joined(*argc, argv) + ")");
  scripted::take_toolkit_options(argc, argv);
}

void glutInitDisplayMode(unsigned int mode) {
  calls().push_back("glutInitDisplayMode(" + std::to_string(mode) + ")");
}

void glutInitWindowSize(int width, int height) {
  calls().push_back("glutInitWindowSize(" + std::to_string(width) + ", " +
                    std::to_string(height) + ")");
}

void glutInitWindowPosition(int x, int y) {
  calls().push_back("glutInitWindowPosition(" + std::to_string(x) + ", " +
                    std::to_string(y) + ")");
}

int glutCreateWindow(const char* title) {
  calls().push_back(std::string("glutCreateWindow(") +
                    (title != nullptr ? title : "(null)") + ")");
  return 1;
}

}  // extern "C"

// EGL, as quarn-egl meets it. A device's display is its entry in the
// script, the surfaceless platform's a token of its own, and every other
// handle the same token. The call named as failing, for every display or
// for one device's, gives EGL's value for a failure and records its error.
namespace {

EGLint pending_egl_error = EGL_SUCCESS;
EGLenum bound_api = EGL_OPENGL_ES_API;

using Device = scripted::EglScript::Device;

bool is_device(const void* handle) {
  const std::vector<Device>& all = script().egl.devices;
  return !all.empty() && handle >= all.data() &&
         handle < all.data() + all.size();
}

const Device& device_of(const void* device) {
  return *static_cast<const Device*>(device);
}

bool egl_call(const std::string& name, const std::string& arguments = "",
              const void* display = nullptr) {
  calls().push_back(name + "(" + arguments + ")");
  if (script().egl.failing == name) {
    pending_egl_error = script().egl.error;
    return false;
  }
  if (is_device(display) && device_of(display).failing == name) {
    pending_egl_error = device_of(display).error;
    return false;
  }
  return true;
}

void* egl_handle() {
  static int token;
  return &token;
}

void* surfaceless_display() {
  static int token;
  return &token;
}

EGLBoolean query_devices(EGLint max, EGLDeviceEXT* devices, EGLint* count) {
  const auto all = static_cast<EGLint>(script().egl.devices.size());
  const EGLint counted = script().egl.countedDevices;
  *count =
      devices == nullptr ? (counted >= 0 ? counted : all) : std::min(max, all);
  for (EGLint i = 0; devices != nullptr && i < *count; ++i) {
    devices[i] = &script().egl.devices[static_cast<std::size_t>(i)];
  }
  return EGL_TRUE;
}

const char* query_device_string(EGLDeviceEXT device, EGLint name) {
  switch (name) {
    case EGL_EXTENSIONS:
      return device_of(device).extensions;
    case EGL_DRM_RENDER_NODE_FILE_EXT:
      return device_of(device).renderNode;
    case EGL_VENDOR:
      return device_of(device).vendor;
    case EGL_RENDERER_EXT:
      return device_of(device).renderer;
    default:
      return nullptr;
  }
}

EGLBoolean query_device_attrib(EGLDeviceEXT device, EGLint name,
                               EGLAttrib* value) {
  if (name != EGL_CUDA_DEVICE_NV) return EGL_FALSE;
  *value = device_of(device).cudaIndex;
  return EGL_TRUE;
}

EGLBoolean query_device_binary(EGLDeviceEXT device, EGLint name, EGLint max,
                               void* value, EGLint* size) {
  const char* uuid = device_of(device).uuid;
  if (name != EGL_DEVICE_UUID_EXT || uuid == nullptr || max < 16) {
    pending_egl_error = EGL_BAD_ATTRIBUTE;
    return EGL_FALSE;
  }
  std::memcpy(value, uuid, 16);
  *size = 16;
  return EGL_TRUE;
}

EGLDisplay get_platform_display(EGLenum platform, void* native,
                                const EGLint* /*attributes*/) {
  const bool device = platform == EGL_PLATFORM_DEVICE_EXT;
  const std::string on =
      device ? "device " + std::to_string(static_cast<const Device*>(native) -
                                          script().egl.devices.data() + 1)
             : scripted::hex(platform);
  if (!egl_call("eglGetPlatformDisplayEXT", on, native)) return EGL_NO_DISPLAY;
  return device ? native : surfaceless_display();
}

}  // namespace

extern "C" {

__eglMustCastToProperFunctionPointerType eglGetProcAddress(const char* name) {
  using Any = __eglMustCastToProperFunctionPointerType;
  if (std::strcmp(name, "eglQueryDevicesEXT") == 0) {
    return reinterpret_cast<Any>(&query_devices);
  }
  if (std::strcmp(name, "eglQueryDeviceStringEXT") == 0) {
    return reinterpret_cast<Any>(&query_device_string);
  }
  if (std::strcmp(name, "eglQueryDeviceAttribEXT") == 0) {
    return reinterpret_cast<Any>(&query_device_attrib);
  }
  if (std::strcmp(name, "eglQueryDeviceBinaryEXT") == 0) {
    return reinterpret_cast<Any>(&query_device_binary);
  }
  if (std::strcmp(name, "eglGetPlatformDisplayEXT") == 0) {
    return reinterpret_cast<Any>(&get_platform_display);
  }
  return nullptr;
}

const char* eglQueryString(EGLDisplay display, EGLint /*name*/) {
  return display == EGL_NO_DISPLAY ? script().egl.clientExtensions
                                   : script().egl.displayExtensions;
}

EGLint eglGetError() {
  const EGLint error = pending_egl_error;
  pending_egl_error = EGL_SUCCESS;
  return error;
}

EGLBoolean eglInitialize(EGLDisplay display, EGLint*, EGLint*) {
  return egl_call("eglInitialize", "", display) ? EGL_TRUE : EGL_FALSE;
}

EGLBoolean eglTerminate(EGLDisplay display) {
  return egl_call("eglTerminate", "", display) ? EGL_TRUE : EGL_FALSE;
}

EGLBoolean eglBindAPI(EGLenum api) {
  if (!egl_call("eglBindAPI", scripted::hex(api))) return EGL_FALSE;
  bound_api = api;
  return EGL_TRUE;
}

EGLBoolean eglChooseConfig(EGLDisplay display, const EGLint* wanted,
                           EGLConfig* configs, EGLint size, EGLint* count) {
  std::string listed;
  for (const EGLint* each = wanted; *each != EGL_NONE; each += 2) {
    listed += (listed.empty() ? "" : ", ") + scripted::hex(each[0]) + "=" +
              scripted::hex(each[1]);
  }
  const bool chosen = egl_call("eglChooseConfig", listed, display);
  const bool none = is_device(display) && device_of(display).esOnly &&
                    bound_api == EGL_OPENGL_API;
  *count = chosen && !none && size > 0 ? 1 : 0;
  if (*count > 0) configs[0] = egl_handle();
  return chosen ? EGL_TRUE : EGL_FALSE;
}

EGLContext eglCreateContext(EGLDisplay display, EGLConfig, EGLContext,
                            const EGLint* attributes) {
  std::string listed;
  for (const EGLint* each = attributes; each != nullptr && *each != EGL_NONE;
       each += 2) {
    listed += (listed.empty() ? "" : ", ") + scripted::hex(each[0]) + "=" +
              std::to_string(each[1]);
  }
  return egl_call("eglCreateContext", listed, display) ? egl_handle()
                                                       : EGL_NO_CONTEXT;
}

EGLSurface eglCreatePbufferSurface(EGLDisplay display, EGLConfig,
                                   const EGLint* size) {
  return egl_call("eglCreatePbufferSurface",
                  std::to_string(size[1]) + "x" + std::to_string(size[3]),
                  display)
             ? egl_handle()
             : EGL_NO_SURFACE;
}

EGLBoolean eglMakeCurrent(EGLDisplay display, EGLSurface draw, EGLSurface,
                          EGLContext context) {
  if (!egl_call("eglMakeCurrent",
                context == EGL_NO_CONTEXT ? "none"
                : draw == EGL_NO_SURFACE  ? "no surface"
                                          : "pbuffer",
                display)) {
    return EGL_FALSE;
  }
  scripted::current_device = context != EGL_NO_CONTEXT && is_device(display)
                                 ? &device_of(display)
                                 : nullptr;
  return EGL_TRUE;
}

}  // extern "C"
