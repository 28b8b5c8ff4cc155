#include "egl_common.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>

namespace quarn_egl {

bool has_word(const char* list, std::string_view word) {
  if (list == nullptr) return false;
  for (std::string_view rest = list; !rest.empty();) {
    const std::size_t blank = rest.find(' ');
    if (rest.substr(0, blank) == word) return true;
    if (blank == std::string_view::npos) break;
    rest.remove_prefix(blank + 1);
  }
  return false;
}

std::string one_line(std::string text) {
  std::replace_if(
      text.begin(), text.end(),
      [](unsigned char c) { return c < 0x20 || c == 0x7f; }, ' ');
  return text;
}

std::string joined(const std::vector<std::string>& items, const char* by) {
  std::string text;
  for (const std::string& item : items) {
    if (!text.empty()) text += by;
    text += item;
  }
  return text;
}

std::string& file_system_root() {
  static std::string root;
  return root;
}

std::string under_root(std::string_view path) {
  return file_system_root() + std::string(path);
}

std::string sysfs_link_name(const std::string& deviceFile, const char* below) {
  struct stat info {};
  if (deviceFile.empty() || stat(under_root(deviceFile).c_str(), &info) != 0 ||
      !S_ISCHR(info.st_mode)) {
    return "";
  }
  const std::string link =
      under_root("/sys/dev/char/" + std::to_string(major(info.st_rdev)) + ":" +
                 std::to_string(minor(info.st_rdev)) + "/" + below);
  char target[4096];
  const ssize_t length = readlink(link.c_str(), target, sizeof target);
  if (length <= 0 || length == sizeof target) return "";
  const std::string_view path(target, static_cast<std::size_t>(length));
  return std::string(path.substr(path.rfind('/') + 1));
}

}  // namespace quarn_egl
