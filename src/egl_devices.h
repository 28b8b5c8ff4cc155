// quarn-egl's devices: what EGL and sysfs say of each without initializing
// anything, then, from those facts alone, the displays in the order tried,
// each with a name of its own.
#ifndef QUARN_EGL_DEVICES_H
#define QUARN_EGL_DEVICES_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "egl_common.h"

namespace quarn_egl {

// What is known of one device in EGL's list.
struct DeviceFacts {
  void* handle = nullptr;      // the EGLDeviceEXT
  std::size_t egl = 0;         // its place in EGL's list
  bool software = false;       // EGL_MESA_device_software
  std::string renderNode{};    // EGL_DRM_RENDER_NODE_FILE_EXT; "" for none
  std::string kernelDriver{};  // the render node's, from sysfs
  bool nvidia = false;         // EGL_NV_device_cuda
  long long cuda = -1;         // EGL_CUDA_DEVICE_NV; -1 where not given
  bool named = false;          // EGL_EXT_device_query_name gave both:
  std::string vendor{};        // EGL_VENDOR
  std::string renderer{};      // EGL_RENDERER_EXT
  std::string pci{};           // of its render node, else its DRM device file
  std::string uuid{};          // EGL_EXT_device_persistent_id's device UUID
};

// A vendor may count any number of devices: no more are asked for.
constexpr std::size_t kMaxDevices = 256;

// The devices EGL lists, at most kMaxDevices of them; `counted` is how
// many EGL said it has.
std::vector<DeviceFacts> egl_devices(long long& counted);

// Every display that can serve the report, in the order they are tried: the
// GPUs in EGL's order, then the software devices, then Mesa's surfaceless
// platform. Surfaceless is named even where EGL does not offer it, when
// nothing else is there, so that the failure to get it says why.
std::vector<Display> ranked_displays(const std::vector<DeviceFacts>& devices,
                                     bool surfacelessOffered);

// The display that --device names, by its name, else by an identity (egl:N,
// pci:ADDR, cuda:N, uuid:UUID): the first in the order tried; or null.
const Display* display_named(const std::vector<Display>& displays,
                             std::string_view name);

// The kernel driver of a render node, as sysfs names it without opening
// the node; "" where it names none.
std::string kernel_driver(const std::string& node);

}  // namespace quarn_egl

#endif  // QUARN_EGL_DEVICES_H
