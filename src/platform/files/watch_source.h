#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/foundation/error.h"

namespace qlt {

// One event of the kernel's directory notifications, in inotify's terms:
// `watch` is the descriptor of the watched directory (-1 for a queue
// overflow), `name` the entry inside it (empty for the directory itself).
struct WatchEvent {
  int watch = -1;
  uint32_t mask = 0;
  uint32_t cookie = 0;
  std::string name;
};

// Where directory notifications come from. The inotify source is the real
// one; tests wrap it to lose events or to run out of watches.
class WatchSource {
 public:
  virtual ~WatchSource() = default;
  // The descriptor of a watch on the directory `path` (the same one again
  // for a directory already watched), or -1 with the error; ENOSPC
  // underneath means the user's watch limit is reached.
  virtual int addWatch(const std::string& path, Error* error) = 0;
  virtual void removeWatch(int watch) = 0;
  // The events that arrive within `timeout`; empty when none did or when
  // wake() was called.
  virtual std::vector<WatchEvent> readEvents(std::chrono::milliseconds timeout) = 0;
  // Makes a waiting readEvents() return. Safe from any thread.
  virtual void wake() = 0;
};

// An inotify instance; null with the error when none can be made.
std::unique_ptr<WatchSource> makeInotifyWatchSource(Error* error = nullptr);

}  // namespace qlt
