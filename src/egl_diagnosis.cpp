#include "egl_diagnosis.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "egl_devices.h"
#include "egl_software.h"
#include "program.h"

namespace quarn_egl {

namespace {

// The fields of each line of a colon-separated file under the root.
std::vector<std::vector<std::string>> entries_of(const char* file) {
  std::vector<std::vector<std::string>> entries;
  std::ifstream in(under_root(file));
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::istringstream split(line);
    for (std::string field; std::getline(split, field, ':');) {
      fields.push_back(field);
    }
    entries.push_back(std::move(fields));
  }
  return entries;
}

// This user's name, from /etc/passwd under the root, else the system's.
std::string user_name() {
  for (const auto& fields : entries_of("/etc/passwd")) {
    if (fields.size() > 2 && fields[2] == std::to_string(getuid())) {
      return fields[0];
    }
  }
  const passwd* entry =
      file_system_root().empty() ? getpwuid(getuid()) : nullptr;
  return entry != nullptr ? entry->pw_name : "";
}

void read_group(gid_t gid, NodeFacts& facts) {
  const std::string user = user_name();
  for (const auto& fields : entries_of("/etc/group")) {
    if (fields.size() < 3 || fields[2] != std::to_string(gid)) continue;
    facts.group = fields[0];
    std::istringstream members(fields.size() > 3 ? fields[3] : "");
    for (std::string member; std::getline(members, member, ',');) {
      facts.inGroupFile = facts.inGroupFile || member == user;
    }
    return;
  }
  const group* entry = file_system_root().empty() ? getgrgid(gid) : nullptr;
  facts.group = entry != nullptr ? entry->gr_name : std::to_string(gid);
}

bool in_login(gid_t gid) {
  gid_t groups[NGROUPS_MAX];
  const int count = getgroups(NGROUPS_MAX, groups);
  return getegid() == gid || std::find(groups, groups + std::max(count, 0),
                                       gid) != groups + std::max(count, 0);
}

// In a user namespace, a group that its map leaves out shows as the
// overflow group (nogroup).
bool unmapped(gid_t gid) {
  std::ifstream map(under_root("/proc/self/gid_map"));
  std::string whole((std::istreambuf_iterator<char>(map)), {});
  std::istringstream fields(whole);
  unsigned long inside = 0, outside = 0, count = 0;
  fields >> inside >> outside >> count;
  if (!fields || (inside == 0 && outside == 0 && count == 4294967295UL)) {
    return false;
  }
  std::ifstream overflow(under_root("/proc/sys/kernel/overflowgid"));
  unsigned long overflowGid = 65534;
  overflow >> overflowGid;
  return gid == overflowGid;
}

}  // namespace

NodeFacts node_facts(const std::string& node, const std::string& driver) {
  NodeFacts facts{.node = node, .kernelDriver = driver};
  // The name is the driver's: whatever file it names, opening it neither
  // waits nor takes a terminal.
  const std::string path = under_root(node);
  const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd != -1) {
    close(fd);
    return facts;
  }
  facts.openError = errno;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return facts;
  facts.mode = info.st_mode & 07777;
  read_group(info.st_gid, facts);
  facts.inLogin = in_login(info.st_gid);
  facts.unmappedGroup = unmapped(info.st_gid);
  return facts;
}

std::string node_cause(const NodeFacts& facts) {
  std::string cause;
  if (facts.openError != 0) {
    cause = "cannot open " + one_line(facts.node) + ": " +
            std::strerror(facts.openError);
  }
  if (facts.openError == EACCES && !facts.group.empty()) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", facts.mode);
    if ((facts.mode & 060) != 060) {
      cause += "; its mode, " + std::string(mode) +
               ", lets its group in no more than others";
    } else if (facts.unmappedGroup) {
      cause += "; its group is not mapped into this user namespace";
    } else if (facts.inGroupFile && !facts.inLogin) {
      cause += "; this user joined group " + facts.group +
               " after logging in: log in again, or run newgrp " + facts.group;
    } else if (!facts.inLogin) {
      cause += "; add this user to group " + facts.group;
    }
  }
  if (!facts.kernelDriver.empty()) {
    cause += (cause.empty() ? "its" : "; its") +
             std::string(" kernel driver is ") + facts.kernelDriver;
  }
  return cause;
}

std::string failure_line(const Failure& failure, const Display& display) {
  std::string line = "cannot " + std::string(failure.step) + " on " +
                     display.name + ": " + failure.why;
  std::string cause;
  if (!display.renderNode.empty()) {
    cause = node_cause(node_facts(display.renderNode, display.kernelDriver));
  } else if (display.platform == EGL_PLATFORM_SURFACELESS_MESA) {
    std::string loadError;
    if (void* mesa = dlopen("libEGL_mesa.so.0", RTLD_LAZY | RTLD_LOCAL)) {
      dlclose(mesa);
    } else {
      loadError = dlerror();
    }
    cause = surfaceless_cause(eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS),
                              software_variables(), loadError);
  }
  if (!cause.empty()) line += " (" + cause + ")";
  return line;
}

NvidiaFacts nvidia_facts() {
  NvidiaFacts facts;
  std::vector<std::string> files;
  for (const std::string& name :
       quarn_program::numbered_files(under_root("/dev"), "nvidia")) {
    files.push_back("/dev/" + name);
  }
  facts.present = !files.empty();
  struct stat control {};
  if (lstat(under_root("/dev/nvidiactl").c_str(), &control) == 0) {
    files.emplace_back("/dev/nvidiactl");
  }
  for (const std::string& file : files) {
    const NodeFacts node = node_facts(file, "");
    if (node.openError != 0 && facts.unopenable.node.empty()) {
      facts.unopenable = node;
    }
  }
  return facts;
}

std::string unseen_nvidia_note(const Display* served,
                               const std::vector<Display>& all,
                               const NvidiaFacts& nvidia) {
  if (served != nullptr && served->kind == Kind::Gpu) return "";
  if (!nvidia.present ||
      std::any_of(all.begin(), all.end(),
                  [](const Display& display) { return display.nvidia; })) {
    return "";
  }
  if (!nvidia.unopenable.node.empty()) {
    return "an NVIDIA GPU is here, but this user " +
           node_cause(nvidia.unopenable);
  }
  return "an NVIDIA GPU is here, but no EGL device is NVIDIA's: missing are "
         "NVIDIA's EGL library (libEGL_nvidia.so.0) or its glvnd vendor file "
         "(10_nvidia.json), or, in a container, the graphics driver "
         "capability (NVIDIA_DRIVER_CAPABILITIES)";
}

}  // namespace quarn_egl
