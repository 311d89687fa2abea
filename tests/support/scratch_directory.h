#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace qlt {

// A fresh directory for one test, removed with everything in it afterwards.
class ScratchDirectory {
 public:
  ScratchDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qlt-test-XXXXXX").native();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~ScratchDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  std::string path(std::string_view relative = {}) const {
    return relative.empty() ? path_ : path_ + "/" + std::string(relative);
  }

 private:
  std::string path_;
};

}  // namespace qlt
