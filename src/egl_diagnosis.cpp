#include "egl_diagnosis.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "egl_devices.h"

namespace quarn_egl {

namespace {

// The group's name: from /etc/group under the root, else the system's
// database (where groups come from elsewhere), else its number.
std::string group_name(gid_t gid) {
  std::ifstream groups(under_root("/etc/group"));
  for (std::string line; std::getline(groups, line);) {
    const std::size_t first = line.find(':');
    const std::size_t second = line.find(':', first + 1);
    const std::size_t third = line.find(':', second + 1);
    if (third != std::string::npos &&
        line.substr(second + 1, third - second - 1) == std::to_string(gid)) {
      return line.substr(0, first);
    }
  }
  const group* entry = file_system_root().empty() ? getgrgid(gid) : nullptr;
  return entry != nullptr ? entry->gr_name : std::to_string(gid);
}

}  // namespace

NodeFacts node_facts(const Display& display) {
  NodeFacts facts{.node = display.renderNode,
                  .kernelDriver = display.kernelDriver};
  // The name is the driver's: whatever file it names, opening it neither
  // waits nor takes a terminal.
  const std::string path = under_root(display.renderNode);
  const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd != -1) {
    close(fd);
    return facts;
  }
  facts.openError = errno;
  struct stat info {};
  if (stat(path.c_str(), &info) == 0) facts.group = group_name(info.st_gid);
  return facts;
}

std::string render_node_cause(const NodeFacts& facts) {
  if (facts.openError == 0) {
    return facts.kernelDriver.empty()
               ? ""
               : "its kernel driver is " + facts.kernelDriver;
  }
  std::string cause = "cannot open " + one_line(facts.node) + ": " +
                      std::strerror(facts.openError);
  if (facts.openError == EACCES && !facts.group.empty()) {
    cause += "; add this user to group " + facts.group;
  }
  return cause;
}

std::string surfaceless_cause(const char* clientExtensions) {
  if (has_word(clientExtensions, "EGL_MESA_platform_surfaceless")) return "";
  return clientExtensions == nullptr || *clientExtensions == '\0'
             ? "libEGL finds no EGL driver: Mesa's is libEGL_mesa.so.0, in "
               "Debian's libegl-mesa0"
             : "no EGL driver here offers it: Mesa's, libEGL_mesa.so.0, does";
}

std::string failure_line(const Failure& failure, const Display& display) {
  std::string line = "cannot " + std::string(failure.step) + " on " +
                     display.name + ": " + failure.why;
  const std::string cause =
      !display.renderNode.empty() ? render_node_cause(node_facts(display))
      : display.platform == EGL_PLATFORM_SURFACELESS_MESA
          ? surfaceless_cause(eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS))
          : "";
  if (!cause.empty()) line += " (" + cause + ")";
  return line;
}

bool nvidia_driver_present() {
  if (access(under_root("/dev/nvidia0").c_str(), F_OK) == 0) return true;
  DIR* gpus = opendir(under_root("/proc/driver/nvidia/gpus").c_str());
  if (gpus == nullptr) return false;
  bool any = false;
  for (const dirent* entry; !any && (entry = readdir(gpus)) != nullptr;) {
    any = entry->d_name[0] != '.';
  }
  closedir(gpus);
  return any;
}

std::string unseen_nvidia_note(const Display* served,
                               const std::vector<Display>& all,
                               bool driverPresent) {
  if (served != nullptr && served->kind == Kind::Gpu) return "";
  if (std::any_of(all.begin(), all.end(),
                  [](const Display& display) { return display.nvidia; })) {
    return "";
  }
  if (!driverPresent) return "";
  return "an NVIDIA GPU is here, but no EGL device is NVIDIA's: missing are "
         "NVIDIA's EGL library (libEGL_nvidia.so.0) or its glvnd vendor file "
         "(10_nvidia.json), or, in a container, the graphics driver "
         "capability (NVIDIA_DRIVER_CAPABILITIES)";
}

}  // namespace quarn_egl
