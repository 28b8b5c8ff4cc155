// The run command's word on a report from software: where quarn's renderer
// is Mesa's software one on a machine with a GPU, the likely causes.
#ifndef QUARN_RUN_SOFTWARE_H
#define QUARN_RUN_SOFTWARE_H

#include <string>
#include <string_view>
#include <vector>

namespace quarn_run {

// After a report from software on a machine with a GPU: why, likely, on
// standard error. `report` is quarn's standard output.
void say_why_software(const std::string& report,
                      const std::vector<std::string_view>& arguments);

}  // namespace quarn_run

#endif  // QUARN_RUN_SOFTWARE_H
