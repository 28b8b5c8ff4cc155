// Why quarn-egl's report came from software, or from nothing at all: the
// variables that force or steer it, the render nodes that EGL listed no GPU
// for, and why no EGL driver offers Mesa's surfaceless platform. Facts
// from the environment and the file system under file_system_root(); what
// is made of them is decided apart, from the facts alone.
#ifndef QUARN_EGL_SOFTWARE_H
#define QUARN_EGL_SOFTWARE_H

#include <string>
#include <vector>

#include "egl_common.h"

namespace quarn_egl {

// The environment's variables that force or steer software, or the EGL
// vendors loaded, each as NAME=VALUE, where set.
std::vector<std::string> software_variables();

// Why libEGL offers no surfaceless platform: no EGL driver at all, or none
// of those it loaded offers it. `variables` as software_variables() gives
// them; `mesaLoadError` what the loader says of libEGL_mesa.so.0 ("" where
// it loads).
std::string surfaceless_cause(const char* clientExtensions,
                              const std::vector<std::string>& variables,
                              const std::string& mesaLoadError);

// The render nodes here (/dev/dri/renderD*) that no GPU in `all` has, each
// with its kernel driver where sysfs names it.
std::vector<std::string> unlisted_render_nodes(const std::vector<Display>& all);

// Why the report came from software: each variable, and each render node
// that EGL listed no GPU for; "" where nothing says why.
std::string software_note(const std::vector<std::string>& variables,
                          const std::vector<std::string>& unlistedNodes);

}  // namespace quarn_egl

#endif  // QUARN_EGL_SOFTWARE_H
