#include "egl_software.h"

#include <algorithm>

#include "egl_devices.h"
#include "program.h"

namespace quarn_egl {

std::vector<std::string> software_variables() {
  std::vector<std::string> set = quarn_program::software_variables_set(
      {"__EGL_VENDOR_LIBRARY_FILENAMES", "__EGL_VENDOR_LIBRARY_DIRS"});
  for (std::string& variable : set) variable = one_line(variable);
  return set;
}

std::string surfaceless_cause(const char* clientExtensions,
                              const std::vector<std::string>& variables,
                              const std::string& mesaLoadError) {
  if (has_word(clientExtensions, "EGL_MESA_platform_surfaceless")) return "";
  if (clientExtensions != nullptr && *clientExtensions != '\0') {
    return "no EGL driver here offers it: Mesa's, libEGL_mesa.so.0, does";
  }
  std::vector<std::string> vendors;
  for (const std::string& variable : variables) {
    if (variable.starts_with("__EGL_VENDOR")) vendors.push_back(variable);
  }
  const std::string none = "libEGL finds no EGL driver: ";
  if (!vendors.empty())
    return none + "it loads those that " + joined(vendors, " and ") + " names";
  if (mesaLoadError.empty()) {
    return none +
           "Mesa's, libEGL_mesa.so.0, loads, but no glvnd vendor file names it "
           "(50_mesa.json)";
  }
  if (mesaLoadError.find("No such file") != std::string::npos) {
    return none + "Mesa's is libEGL_mesa.so.0, in Debian's libegl-mesa0";
  }
  return none + "Mesa's does not load: " + one_line(mesaLoadError);
}

std::vector<std::string> unlisted_render_nodes(
    const std::vector<Display>& all) {
  std::vector<std::string> nodes;
  for (const std::string& name :
       quarn_program::numbered_files(under_root("/dev/dri"), "renderD")) {
    const std::string node = "/dev/dri/" + name;
    const bool listed =
        std::any_of(all.begin(), all.end(), [&](const Display& display) {
          return display.kind == Kind::Gpu && display.renderNode == node;
        });
    if (listed) continue;
    std::string named = node;
    const std::string driver = kernel_driver(node);
    if (!driver.empty()) named.append(" (kernel driver ").append(driver) += ')';
    nodes.push_back(named);
  }
  return nodes;
}

std::string software_note(const std::vector<std::string>& variables,
                          const std::vector<std::string>& unlistedNodes) {
  std::vector<std::string> reasons;
  reasons.reserve(variables.size() + unlistedNodes.size());
  for (const std::string& variable : variables) {
    reasons.push_back(variable + " is set");
  }
  for (const std::string& node : unlistedNodes) {
    reasons.push_back("EGL lists no GPU for " + node);
  }
  if (reasons.empty()) return "";
  return "the report comes from software: " + joined(reasons, "; ");
}

}  // namespace quarn_egl
