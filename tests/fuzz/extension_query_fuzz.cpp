// Differential fuzz target: the extension query against a plain reference
// tokenizer written from the list's rules. The input's bytes up to its first
// NUL are the extension list, the bytes after it the name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "quarn.h"
#include "scripted_gl.h"

namespace {

// Tokens are the runs between blanks; the first starts the list, each next
// one starts after a blank, as long as that is not the list's end.
bool reference_has(const std::string& list, const std::string& name) {
  for (std::size_t start = 0; start < list.size();) {
    const std::size_t blank = list.find(' ', start);
    const std::size_t end = blank == std::string::npos ? list.size() : blank;
    if (list.compare(start, end - start, name) == 0) return true;
    if (blank == std::string::npos) return false;
    start = blank + 1;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\0');
  const std::string list = input.substr(0, split);
  const std::string name =
      split == std::string::npos ? std::string() : input.substr(split + 1);
  const std::string nameText = name.substr(0, name.find('\0'));

  scripted::reset();
  scripted::script().strings[GL_EXTENSIONS] = list.c_str();
  const bool found = query_gl_extension(nameText.c_str()) == GL_TRUE;
  if (found != reference_has(list, nameText)) std::abort();
  return 0;
}
