// quarn-egl's diagnosis: what it says of a display that failed, and of a
// GPU that EGL did not list. The facts come from the file system under
// file_system_root() and from the loader; what is made of them is decided
// apart, from the facts alone, and names what was found, or nothing.
#ifndef QUARN_EGL_DIAGNOSIS_H
#define QUARN_EGL_DIAGNOSIS_H

#include <string>
#include <vector>

#include "egl_common.h"

namespace quarn_egl {

// What a device file that could not be opened says of itself, and of this
// user's place in its group.
struct NodeFacts {
  std::string node{};
  int openError = 0;           // errno of opening it for reading and writing
  std::string group{};         // its group's name, or number; "" unknown
  unsigned mode = 0;           // its permission bits
  bool inLogin = false;        // its group is among this login's
  bool inGroupFile = false;    // /etc/group lists this user in it
  bool unmappedGroup = false;  // its group is not mapped into this namespace
  std::string kernelDriver{};
};

NodeFacts node_facts(const std::string& node, const std::string& driver);

// Why the device file failed: the reason this user cannot open it and what
// would let them in, and the kernel driver where sysfs names one.
std::string node_cause(const NodeFacts& facts);

// The line said of a display that failed: the step, where, EGL's error, and
// the cause where one can be found.
std::string failure_line(const Failure& failure, const Display& display);

// NVIDIA's device files in this file system: none means no NVIDIA GPU
// here, whatever the host's /proc/driver/nvidia lists. `unopenable` is the
// first that this user cannot open, with its facts.
struct NvidiaFacts {
  bool present = false;
  NodeFacts unopenable{};
};

NvidiaFacts nvidia_facts();

// Where the report came from software, or from nothing (`served` null),
// while NVIDIA's device files are here and EGL lists no device of NVIDIA's:
// the line that says what is missing; else "".
std::string unseen_nvidia_note(const Display* served,
                               const std::vector<Display>& all,
                               const NvidiaFacts& nvidia);

}  // namespace quarn_egl

#endif  // QUARN_EGL_DIAGNOSIS_H
