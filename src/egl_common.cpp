#include "egl_common.h"

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

}  // namespace quarn_egl
