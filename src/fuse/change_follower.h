#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "fuse/library_file_system.h"

namespace qlt::fuse {

// Follows the working set's changes from the anchor it started at and
// brings the mount up to date: what changed, moved or went is told to the
// kernel, so that the next look sees it. Runs on a thread of its own.
class ChangeFollower {
 public:
  ChangeFollower(LibraryFileSystem& system, std::chrono::milliseconds interval);
  ~ChangeFollower();
  ChangeFollower(const ChangeFollower&) = delete;
  ChangeFollower& operator=(const ChangeFollower&) = delete;

  // Takes the current anchor, then looks for changes every interval and
  // whenever woken.
  void start();
  void wake();
  void stop();
  // Looks for changes now; false when the enumeration failed.
  bool followOnce();

 private:
  void run();
  void apply(const ServiceClient::Changes& changes);
  void update(const FileProviderItemPtr& item);
  void remove(const std::string& identifier);

  // What the batch being applied made stale, told to the kernel once the
  // tree is unlocked; each changed directory once.
  std::vector<std::pair<fuse_ino_t, std::string>> staleEntries_;
  std::vector<std::pair<fuse_ino_t, bool>> staleNodes_;
  std::set<fuse_ino_t> changedDirectories_;

  LibraryFileSystem& system_;
  std::chrono::milliseconds interval_;
  std::mutex mutex_;
  std::condition_variable wakeUp_;
  bool woken_ = false;
  bool stopping_ = false;
  std::optional<Bytes> anchor_;
  std::thread thread_;
};

}  // namespace qlt::fuse
