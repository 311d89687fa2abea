#pragma once

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace qlt {

// A temporary home for one benchmark process: preferences, data, caches and
// the runtime folder all below one folder, removed with everything in it
// when the process is done with it.
class BenchHome {
 public:
  explicit BenchHome(const char* prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).native();
    if (!::mkdtemp(pattern.data())) {
      std::perror("mkdtemp");
      std::abort();
    }
    root_ = pattern;
    for (const char* name : {"config", "data", "cache", "runtime"}) {
      std::string path = root_ + "/" + name;
      std::filesystem::create_directories(path);
      std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    }
    ::setenv("XDG_CONFIG_HOME", (root_ + "/config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root_ + "/data").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (root_ + "/cache").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (root_ + "/runtime").c_str(), 1);
  }
  ~BenchHome() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  BenchHome(const BenchHome&) = delete;
  BenchHome& operator=(const BenchHome&) = delete;

  const std::string& root() const { return root_; }

 private:
  std::string root_;
};

}  // namespace qlt
