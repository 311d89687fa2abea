#pragma once

#include <sys/inotify.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "platform/files/watch_source.h"

namespace qlt {

// The inotify source with two faults on demand: losing the queued events
// (reported as a queue overflow, as the kernel does) and a watch limit.
class FaultyWatchSource final : public WatchSource {
 public:
  struct Faults {
    std::atomic<bool> loseEvents{false};
    std::atomic<int> watchLimit{-1};  // -1: none
    std::atomic<int> watchesAdded{0};
  };

  explicit FaultyWatchSource(std::shared_ptr<Faults> faults)
      : inner_(makeInotifyWatchSource()), faults_(std::move(faults)) {}

  int addWatch(const std::string& path, Error* error) override {
    int limit = faults_->watchLimit;
    if (limit >= 0 && faults_->watchesAdded >= limit) {
      setError(error, posixError(ENOSPC, path));
      return -1;
    }
    int watch = inner_->addWatch(path, error);
    if (watch >= 0) ++faults_->watchesAdded;
    return watch;
  }
  void removeWatch(int watch) override { inner_->removeWatch(watch); }
  std::vector<WatchEvent> readEvents(std::chrono::milliseconds timeout) override {
    std::vector<WatchEvent> events = inner_->readEvents(timeout);
    if (!events.empty() && faults_->loseEvents.exchange(false)) return {WatchEvent{-1, IN_Q_OVERFLOW, 0, {}}};
    return events;
  }
  void wake() override { inner_->wake(); }

 private:
  std::unique_ptr<WatchSource> inner_;
  std::shared_ptr<Faults> faults_;
};

}  // namespace qlt
