// Whether the programs in a Ninja build folder are current, from the list
// of files they were built from that the run command keeps there: every
// source, header, library and CMake file that Ninja's records name, those
// of packages by their folders. Checked on every run, it costs a stat of
// each (about 70) instead of Ninja's own dry run, which costs more than
// quarn-run itself.
#ifndef QUARN_BUILD_CHECK_H
#define QUARN_BUILD_CHECK_H

#include <string>
#include <string_view>
#include <vector>

namespace quarn_run {

// The list, in the build folder.
inline constexpr const char* kInputsList = "quarn-inputs";

// The files named by `ninja -t inputs` and `ninja -t deps`, run in the build
// folder `folder`, each once, as absolute paths: the checkout's (at
// `checkout`, with no link in its path) each, the rest under /usr by their
// folders.
std::vector<std::string> inputs_named(std::string_view inputs,
                                      std::string_view deps,
                                      const std::string& folder,
                                      const std::string& checkout);

// Writes the list: those of the files that exist now. False where it could
// not be written whole.
bool write_inputs(const std::string& list,
                  const std::vector<std::string>& files);

// Whether the list is there, names something, and every file or folder it
// names is there and unchanged since it was written: no change of its inode
// (its ctime), which a package upgrade also makes where it keeps the
// packaged modification time.
bool inputs_unchanged(const std::string& list);

}  // namespace quarn_run

#endif  // QUARN_BUILD_CHECK_H
