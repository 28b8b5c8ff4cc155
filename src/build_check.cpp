#include "build_check.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace quarn_run {

namespace {

bool is_after(const timespec& a, const timespec& b) {
  return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

// What stands for a file in the list: the file itself, or the folder of one
// that a package installed (under /usr, outside the checkout). A package
// upgrade renames its new files into place, which changes their folder, so
// some 30 folders stand for 350 files and a millisecond of every run. An
// editor may write a file of the checkout in place: each is listed.
std::string watched(std::string file, const std::string& checkout) {
  const bool packaged = file.starts_with("/usr/") &&
                        !file.starts_with(checkout + "/") &&
                        file.find("/../") == std::string::npos;
  if (packaged) file.erase(file.rfind('/'));
  return file;
}

}  // namespace

std::vector<std::string> inputs_named(std::string_view inputs,
                                      std::string_view deps,
                                      const std::string& folder,
                                      const std::string& checkout) {
  std::vector<std::string> files;
  const auto add = [&](std::string_view path) {
    if (path.empty()) return;
    files.push_back(watched(path.front() == '/'
                                ? std::string(path)
                                : folder + "/" + std::string(path),
                            checkout));
  };
  // One input a line; in the deps, each object's line, then its
  // dependencies, each indented by four blanks.
  const auto each_line = [](std::string_view text, auto take) {
    for (std::size_t at = 0; at < text.size();) {
      std::size_t end = text.find('\n', at);
      if (end == std::string_view::npos) end = text.size();
      take(text.substr(at, end - at));
      at = end + 1;
    }
  };
  each_line(inputs, add);
  each_line(deps, [&](std::string_view line) {
    if (line.starts_with("    ")) add(line.substr(4));
  });
  std::sort(files.begin(), files.end());
  files.erase(std::unique(files.begin(), files.end()), files.end());
  return files;
}

bool write_inputs(const std::string& list,
                  const std::vector<std::string>& files) {
  const std::string partial = list + ".new" + std::to_string(getpid());
  {
    std::ofstream out(partial, std::ios::trunc);
    // What the build made of its own, named as inputs to others, and the
    // names of phony targets, are no files that exist before it.
    for (const std::string& file : files) {
      if (access(file.c_str(), F_OK) == 0) out << file << '\n';
    }
    if (!out.flush()) {
      std::remove(partial.c_str());
      return false;
    }
  }
  return std::rename(partial.c_str(), list.c_str()) == 0;
}

bool inputs_unchanged(const std::string& list) {
  struct stat written {};
  std::ifstream in(list);
  if (!in || stat(list.c_str(), &written) != 0) return false;
  bool any = false;
  for (std::string file; std::getline(in, file);) {
    struct stat now {};
    if (stat(file.c_str(), &now) != 0 ||
        is_after(now.st_ctim, written.st_mtim)) {
      return false;
    }
    any = true;
  }
  return any;
}

}  // namespace quarn_run
