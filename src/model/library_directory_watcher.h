#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/files/directory_watcher.h"
#include "platform/foundation/error.h"

namespace qlt {

class LibraryManager;
class ManagedObjectContext;

// Keeps items in step with their files when other programs change them.
// Watches the library's files, deleted-files and shared directories; each
// batch of changed files is one refresh pass in a background context of its
// own: every item whose file changed refreshes its metadata from the file
// (after lost events, every item does), and the context is saved once when
// anything changed, with the changed items' record-change dates set so
// that change enumeration reports them.
class LibraryDirectoryWatcher {
 public:
  // Null with the error when the library is not loaded or its directories
  // cannot be watched. A null source means inotify.
  static std::unique_ptr<LibraryDirectoryWatcher> start(const std::shared_ptr<LibraryManager>& manager,
                                                        Error* error = nullptr,
                                                        std::unique_ptr<WatchSource> source = nullptr,
                                                        DirectoryWatchTiming timing = {});
  ~LibraryDirectoryWatcher();
  LibraryDirectoryWatcher(const LibraryDirectoryWatcher&) = delete;
  LibraryDirectoryWatcher& operator=(const LibraryDirectoryWatcher&) = delete;

  const std::vector<std::string>& directories() const { return directories_; }
  uint64_t refreshPasses() const { return passes_.load(); }
  uint64_t savedPasses() const { return saves_.load(); }

 private:
  LibraryDirectoryWatcher(std::shared_ptr<LibraryManager> manager, std::vector<std::string> directories);
  void refresh(const DirectoryChanges& changes);
  void refresh(ManagedObjectContext& context, const DirectoryChanges& changes);

  std::shared_ptr<LibraryManager> manager_;
  std::vector<std::string> directories_;
  std::unique_ptr<DirectoryWatcher> watcher_;
  std::atomic<uint64_t> passes_{0};
  std::atomic<uint64_t> saves_{0};
};

}  // namespace qlt
