// What quarn-egl's parts share: the displays it may report from, a step
// that failed, and the file system that its facts are read from.
#ifndef QUARN_EGL_COMMON_H
#define QUARN_EGL_COMMON_H

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <string>
#include <string_view>
#include <vector>

namespace quarn_egl {

enum class Kind { Gpu, Software, Surfaceless };

// A display that EGL gives without a window system, named as
// --list-devices prints it and --device takes it.
struct Display {
  std::string name{};
  std::string description{};  // as --list-devices prints it
  std::string brief{};        // as the line that names the one that served
  Kind kind = Kind::Surfaceless;
  EGLenum platform = EGL_PLATFORM_SURFACELESS_MESA;
  void* native = EGL_DEFAULT_DISPLAY;
  std::string renderNode{};    // the device's DRM render node; "" for none
  std::string kernelDriver{};  // the render node's, where sysfs names it
  bool nvidia = false;         // NVIDIA's own device (EGL_NV_device_cuda)
  long long egl = -1;          // its place in eglQueryDevicesEXT's list
  std::string pci{};           // its PCI address, DDDD:BB:DD.F
  long long cuda = -1;         // EGL_CUDA_DEVICE_NV
  std::string uuid{};          // EGL_DEVICE_UUID_EXT, in lower case
};

// A step that failed, and why: EGL's error, or a reason of quarn-egl's
// where EGL gives none. No step means success.
struct Failure {
  const char* step = nullptr;
  std::string why{};
  explicit operator bool() const { return step != nullptr; }
};

// Whether the blank-separated list (EGL's extensions) holds the word.
bool has_word(const char* list, std::string_view word);

// What a driver gives goes on one line, a device's in --list-devices or a
// message's: a tab or line break of its own would split it.
std::string one_line(std::string text);

// The items, `by` between two.
std::string joined(const std::vector<std::string>& items, const char* by);

// The folder that the file system's facts (/dev, /sys, /proc, /etc) are
// read under: "" for the machine's own; the tests point it at a tree.
std::string& file_system_root();

// The path as read under that folder.
std::string under_root(std::string_view path);

// The last name of where a character device's sysfs entry links `below` it
// ("device", "device/driver"), read under the root; "" where the file is no
// character device or the link is not there.
std::string sysfs_link_name(const std::string& deviceFile, const char* below);

template <typename Function>
Function egl_function(const char* name) {
  return reinterpret_cast<Function>(eglGetProcAddress(name));
}

}  // namespace quarn_egl

#endif  // QUARN_EGL_COMMON_H
