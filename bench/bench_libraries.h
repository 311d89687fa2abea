#pragma once

#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "bench_home.h"
#include "extension/file_provider_extension.h"

namespace qlt {

// The libraries of one benchmark process, one per size, each in a group
// container of its own: built once by `build` (with the extension loaded on
// it), loaded in a fresh extension whenever another size was open.
template <class Built>
class BenchLibraries {
 public:
  using Build = std::function<Built(FileProviderExtension& extension, const std::string& container, int items)>;

  BenchLibraries(const char* prefix, Build build) : prefix_(prefix), build_(std::move(build)) {}
  ~BenchLibraries() { close(); }
  BenchLibraries(const BenchLibraries&) = delete;
  BenchLibraries& operator=(const BenchLibraries&) = delete;

  // The library with `items` items, loaded in the current extension.
  const Built& open(int items) {
    if (!home_) home_ = std::make_unique<BenchHome>(prefix_);
    auto found = built_.find(items);
    if (found != built_.end() && openItems_ == items) return found->second;
    close();
    std::string container = home_->root() + "/library-" + std::to_string(items);
    std::filesystem::create_directories(container);
    ::setenv("QLT_GROUP_CONTAINER", container.c_str(), 1);
    extension_ = std::make_shared<FileProviderExtension>(FileProviderDomain{"Default", "Default"});
    Error error;
    if (!extension_->waitUntilLoaded(std::chrono::minutes(5), &error)) {
      std::fprintf(stderr, "Cannot load library: %s\n", error.description().c_str());
      std::abort();
    }
    openItems_ = items;
    if (found == built_.end()) found = built_.emplace(items, build_(*extension_, container, items)).first;
    return found->second;
  }

  FileProviderExtension& extension() { return *extension_; }

 private:
  void close() {
    if (!extension_) return;
    extension_->invalidate();
    extension_.reset();
    openItems_ = -1;
  }

  const char* prefix_;
  Build build_;
  std::unique_ptr<BenchHome> home_;
  std::map<int, Built> built_;
  std::shared_ptr<FileProviderExtension> extension_;
  int openItems_ = -1;
};

}  // namespace qlt
