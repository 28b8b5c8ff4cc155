#include "egl_devices.h"

#include <algorithm>

#include "egl_identity.h"

namespace quarn_egl {

namespace {

const char* device_string(EGLDeviceEXT device, EGLint name) {
  const auto query =
      egl_function<PFNEGLQUERYDEVICESTRINGEXTPROC>("eglQueryDeviceStringEXT");
  return query != nullptr ? query(device, name) : nullptr;
}

// EGL_EXT_device_persistent_id's device UUID, where the device gives it.
std::string device_uuid(EGLDeviceEXT device) {
  using QueryBinary =
      EGLBoolean (*)(EGLDeviceEXT, EGLint, EGLint, void*, EGLint*);
  const auto query = egl_function<QueryBinary>("eglQueryDeviceBinaryEXT");
  unsigned char bytes[16] = {};
  EGLint size = 0;
  if (query == nullptr ||
      !query(device, EGL_DEVICE_UUID_EXT, sizeof bytes, bytes, &size) ||
      size != sizeof bytes) {
    return "";
  }
  return uuid_text(bytes);
}

DeviceFacts facts_of(EGLDeviceEXT device, std::size_t index) {
  DeviceFacts facts{.handle = device, .egl = index};
  const char* extensions = device_string(device, EGL_EXTENSIONS);
  facts.software = has_word(extensions, "EGL_MESA_device_software");
  if (has_word(extensions, "EGL_EXT_device_drm_render_node")) {
    const char* node = device_string(device, EGL_DRM_RENDER_NODE_FILE_EXT);
    if (node != nullptr) facts.renderNode = node;  // "" is no node either
    if (!facts.renderNode.empty()) {
      facts.kernelDriver = kernel_driver(facts.renderNode);
    }
  }
  std::string drmFile;
  if (has_word(extensions, "EGL_EXT_device_drm")) {
    const char* file = device_string(device, EGL_DRM_DEVICE_FILE_EXT);
    if (file != nullptr) drmFile = file;
  }
  facts.pci =
      pci_address(!facts.renderNode.empty() ? facts.renderNode : drmFile);
  if (has_word(extensions, "EGL_EXT_device_persistent_id")) {
    facts.uuid = device_uuid(device);
  }
  facts.nvidia = has_word(extensions, "EGL_NV_device_cuda");
  const auto attribute =
      egl_function<PFNEGLQUERYDEVICEATTRIBEXTPROC>("eglQueryDeviceAttribEXT");
  EGLAttrib cuda = -1;
  if (facts.nvidia && attribute != nullptr &&
      attribute(device, EGL_CUDA_DEVICE_NV, &cuda)) {
    facts.cuda = cuda;
  }
  if (has_word(extensions, "EGL_EXT_device_query_name")) {
    const char* vendor = device_string(device, EGL_VENDOR);
    const char* renderer = device_string(device, EGL_RENDERER_EXT);
    if (vendor != nullptr && renderer != nullptr) {
      facts.named = true;
      facts.vendor = vendor;
      facts.renderer = renderer;
    }
  }
  return facts;
}

// By its DRM render node; else by its CUDA index (NVIDIA's device in a
// container without /dev/dri); else as Mesa's software device; else by its
// place in EGL's list.
std::string name_of(const DeviceFacts& facts, std::size_t index) {
  if (!facts.renderNode.empty()) return one_line(facts.renderNode);
  if (facts.cuda >= 0) return "cuda:" + std::to_string(facts.cuda);
  if (facts.software) return "software";
  return "device " + std::to_string(index);
}

// What a device is: its kind first, then its identities, where it has them,
// as `key value` items. The line that names the one that served leaves out
// the UUID, and Mesa's software device's kind, which its name says.
std::string description_of(const DeviceFacts& facts, bool listing) {
  std::string what;
  if (facts.named) {
    what = one_line(facts.vendor + ", " + facts.renderer);
  } else if (facts.software) {
    what = "Mesa's software renderer";
  }
  std::string description = facts.software ? "software" : "GPU";
  if (facts.software && !listing) {
    description = what;
  } else if (!what.empty()) {
    description += ": " + what;
  }
  description += "; egl " + std::to_string(facts.egl);
  if (!facts.pci.empty()) description += "; pci " + facts.pci;
  if (facts.cuda >= 0) description += "; cuda " + std::to_string(facts.cuda);
  if (listing && !facts.uuid.empty()) description += "; uuid " + facts.uuid;
  if (!facts.kernelDriver.empty()) {
    description += "; kernel driver " + facts.kernelDriver;
  }
  return description;
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

}  // namespace

std::string kernel_driver(const std::string& node) {
  return one_line(sysfs_link_name(node, "device/driver"));
}

std::vector<DeviceFacts> egl_devices(long long& counted) {
  counted = 0;
  const auto query =
      egl_function<PFNEGLQUERYDEVICESEXTPROC>("eglQueryDevicesEXT");
  EGLint count = 0;
  if (query == nullptr || !query(0, nullptr, &count) || count <= 0) return {};
  counted = count;
  std::vector<EGLDeviceEXT> found(
      std::min(static_cast<std::size_t>(count), kMaxDevices));
  count = static_cast<EGLint>(found.size());
  if (!query(count, found.data(), &count)) return {};
  // A vendor that answers with more than it was given room for has filled
  // no more than that room.
  found.resize(std::clamp<std::size_t>(count, 0, found.size()));
  std::vector<DeviceFacts> devices;
  devices.reserve(found.size());
  for (std::size_t i = 0; i < found.size(); ++i) {
    devices.push_back(facts_of(found[i], i));
  }
  return devices;
}

std::vector<Display> ranked_displays(const std::vector<DeviceFacts>& devices,
                                     bool surfacelessOffered) {
  std::vector<Display> all;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const DeviceFacts& facts = devices[i];
    all.push_back({.name = name_of(facts, i),
                   .description = description_of(facts, true),
                   .brief = description_of(facts, false),
                   .kind = facts.software ? Kind::Software : Kind::Gpu,
                   .platform = EGL_PLATFORM_DEVICE_EXT,
                   .native = facts.handle,
                   .renderNode = facts.renderNode,
                   .kernelDriver = facts.kernelDriver,
                   .nvidia = facts.nvidia,
                   .egl = static_cast<long long>(facts.egl),
                   .pci = facts.pci,
                   .cuda = facts.cuda,
                   .uuid = facts.uuid});
  }
  make_names_unique(all);
  std::stable_partition(all.begin(), all.end(), [](const Display& display) {
    return display.kind == Kind::Gpu;
  });
  if (all.empty() || surfacelessOffered) {
    all.push_back({.name = "surfaceless",
                   .description = "Mesa's surfaceless platform",
                   .brief = "Mesa's surfaceless platform"});
  }
  return all;
}

const Display* display_named(const std::vector<Display>& displays,
                             std::string_view name) {
  auto named = std::find_if(
      displays.begin(), displays.end(),
      [name](const Display& display) { return display.name == name; });
  if (named == displays.end()) {
    named = std::find_if(displays.begin(), displays.end(),
                         [name](const Display& display) {
                           return identity_names(name, display);
                         });
  }
  return named != displays.end() ? &*named : nullptr;
}

}  // namespace quarn_egl
