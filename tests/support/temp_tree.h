// A folder of the test's own under TMPDIR, with the files it writes there,
// removed with everything in it when the object goes.
#ifndef QUARN_TEMP_TREE_H
#define QUARN_TEMP_TREE_H

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

class TempTree {
 public:
  TempTree() {
    std::string folder =
        std::filesystem::temp_directory_path() / "quarn-test-XXXXXX";
    root_ = mkdtemp(folder.data()) != nullptr ? folder : "";
  }
  ~TempTree() {
    if (!root_.empty()) std::filesystem::remove_all(root_);
  }
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  // The folder; "" where it could not be made.
  const std::string& root() const { return root_; }

  // Writes a file at the path, as seen under the root, with its folders.
  void file(const std::string& path, const std::string& text = "") const {
    folders_for(path);
    std::ofstream(root_ + path) << text;
  }
  void link(const std::string& path, const std::string& target) const {
    folders_for(path);
    std::filesystem::create_symlink(target, root_ + path);
  }

 private:
  void folders_for(const std::string& path) const {
    std::filesystem::create_directories(
        std::filesystem::path(root_ + path).parent_path());
  }

  std::string root_;
};

#endif  // QUARN_TEMP_TREE_H
