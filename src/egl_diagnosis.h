// quarn-egl's diagnosis: what it says of a display that failed, and of a
// GPU that EGL did not list. The facts come from the file system under
// file_system_root(); what is made of them is decided apart, from the facts
// alone.
#ifndef QUARN_EGL_DIAGNOSIS_H
#define QUARN_EGL_DIAGNOSIS_H

#include <string>
#include <vector>

#include "egl_common.h"

namespace quarn_egl {

// What a render node that failed says of itself.
struct NodeFacts {
  std::string node{};
  int openError = 0;    // errno of opening it for reading and writing
  std::string group{};  // its group's name, or number; "" where unknown
  std::string kernelDriver{};
};

NodeFacts node_facts(const Display& display);

// Why the render node failed: the reason this user cannot open it, with the
// group to join where that is the reason, or else its kernel driver.
std::string render_node_cause(const NodeFacts& facts);

// Why Mesa's surfaceless platform, named where nothing else is, could not
// be had, from EGL's client extensions: libEGL loaded no EGL driver at all
// (a container that lacks Mesa's), or none of those it loaded offers it.
std::string surfaceless_cause(const char* clientExtensions);

// The line said of a display that failed: the step, where, EGL's error, and
// the cause where one can be found.
std::string failure_line(const Failure& failure, const Display& display);

// Whether NVIDIA's kernel driver is here: its device nodes, or the GPUs it
// lists under /proc.
bool nvidia_driver_present();

// Where the report came from software, or from nothing (`served` null),
// while NVIDIA's driver is here and EGL lists no device of NVIDIA's: the
// line that says what is missing; else "".
std::string unseen_nvidia_note(const Display* served,
                               const std::vector<Display>& all,
                               bool driverPresent);

}  // namespace quarn_egl

#endif  // QUARN_EGL_DIAGNOSIS_H
