#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/files/watch_source.h"
#include "platform/foundation/error.h"

namespace qlt {

// What changed below the watched directories since the last report.
struct DirectoryChanges {
  // Files and directories that appeared, changed or went away, sorted.
  std::vector<std::string> paths;
  // Events were lost: anything below the roots may have changed.
  bool rescan = false;
};

// How long a burst may stay quiet, and may last, before it is reported;
// how often unwatched directories are listed.
struct DirectoryWatchTiming {
  std::chrono::milliseconds quiet{100};
  std::chrono::milliseconds longest{1000};
  std::chrono::milliseconds pollInterval{1000};
};

// Watches directory trees on one thread of its own and reports what changed
// in batches: a burst of changes is gathered until it has been quiet for a
// moment (or has lasted too long) and then handed over once. Directories
// made or moved in are watched as they appear, renamed ones keep their
// watches, and directories the user's watch limit leaves unwatched are
// polled instead. A lost event queue is reported as a rescan.
class DirectoryWatcher {
 public:
  using Handler = std::function<void(const DirectoryChanges& changes)>;
  using Timing = DirectoryWatchTiming;

  // `handler` runs on the watcher's thread, one batch at a time. A null
  // source means inotify.
  DirectoryWatcher(std::vector<std::string> roots, Handler handler, std::unique_ptr<WatchSource> source = nullptr,
                   Timing timing = {});
  ~DirectoryWatcher();
  DirectoryWatcher(const DirectoryWatcher&) = delete;
  DirectoryWatcher& operator=(const DirectoryWatcher&) = delete;

  // Watches every directory below the roots, then starts the thread; what
  // changes after it returns is reported.
  [[nodiscard]] bool start(Error* error = nullptr);
  // Waits for a batch being handled to finish. Must not be called from the
  // handler.
  void stop();

  size_t watchedDirectoryCount() const;
  size_t polledDirectoryCount() const;

 private:
  struct Stamp {
    int64_t modified = 0;
    int64_t changed = 0;
    int64_t size = 0;
    bool directory = false;
    bool operator==(const Stamp&) const = default;
  };
  using Snapshot = std::map<std::string, Stamp>;
  struct Pending {
    std::set<std::string> paths;
    bool rescan = false;
  };

  void run();
  void handle(const WatchEvent& event, Pending& pending);
  // Watches `path` and every directory below it; with `report`, every entry
  // found is added to the pending paths.
  void addTree(const std::string& path, Pending* report);
  void watchDirectory(const std::string& path);
  void renameTree(const std::string& from, const std::string& to);
  void forgetTree(const std::string& path);
  void resynchronize();
  void poll(Pending& pending);

  std::vector<std::string> roots_;
  Handler handler_;
  std::unique_ptr<WatchSource> source_;
  Timing timing_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};

  mutable std::mutex mutex_;
  std::map<int, std::string> watches_;
  std::map<std::string, Snapshot> polled_;
  std::map<uint32_t, std::string> movedAway_;
  bool limitLogged_ = false;
};

}  // namespace qlt
