#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace qlt {

// Identifies one registered observer. Tokens are unique within the process;
// 0 is never issued.
using ObserverToken = uint64_t;

inline ObserverToken nextObserverToken() {
  static std::atomic<ObserverToken> counter{0};
  return ++counter;
}

// Observers with a per-observer filter, called on the notifying thread.
// Removal is safe from inside a callback and from other threads: once
// remove() returns, the callback is neither running on another thread nor
// called again. (Two callbacks that remove each other from two threads at
// the same moment wait for each other; observers should not do that.)
template <typename Filter, typename Event>
class ObserverList {
 public:
  using Callback = std::function<void(const Event&)>;

  ObserverToken add(Filter filter, Callback callback) {
    auto entry = std::make_shared<Entry>();
    entry->token = nextObserverToken();
    entry->filter = std::move(filter);
    entry->callback = std::move(callback);
    std::lock_guard lock(mutex_);
    entries_.push_back(entry);
    return entry->token;
  }

  bool remove(ObserverToken token) {
    std::unique_lock lock(mutex_);
    auto found = std::find_if(entries_.begin(), entries_.end(), [&](auto& e) { return e->token == token; });
    if (found == entries_.end()) return false;
    std::shared_ptr<Entry> entry = *found;
    entries_.erase(found);
    entry->removed = true;
    auto self = std::this_thread::get_id();
    idle_.wait(lock, [&] {
      return std::all_of(entry->running.begin(), entry->running.end(), [&](auto id) { return id == self; });
    });
    return true;
  }

  // Calls every observer registered when the call starts whose filter
  // satisfies `matches` (evaluated under the list's lock, so it must not
  // call back into the list) and which is still registered when its turn
  // comes.
  template <typename Match>
  void notify(const Match& matches, const Event& event) {
    std::vector<std::shared_ptr<Entry>> targets;
    {
      std::lock_guard lock(mutex_);
      for (auto& entry : entries_) {
        if (matches(std::as_const(entry->filter))) targets.push_back(entry);
      }
    }
    for (auto& entry : targets) call(entry, event);
  }

  void notifyAll(const Event& event) {
    notify([](const Filter&) { return true; }, event);
  }

  // Calls one observer, if it is still registered.
  void notifyOne(ObserverToken token, const Event& event) {
    std::shared_ptr<Entry> target;
    {
      std::lock_guard lock(mutex_);
      for (auto& entry : entries_) {
        if (entry->token == token) target = entry;
      }
    }
    if (target) call(target, event);
  }

  std::vector<std::pair<ObserverToken, Filter>> snapshot() const {
    std::lock_guard lock(mutex_);
    std::vector<std::pair<ObserverToken, Filter>> result;
    result.reserve(entries_.size());
    for (auto& entry : entries_) result.emplace_back(entry->token, entry->filter);
    return result;
  }

  bool empty() const {
    std::lock_guard lock(mutex_);
    return entries_.empty();
  }

 private:
  struct Entry {
    ObserverToken token = 0;
    Filter filter;
    Callback callback;
    // Both guarded by mutex_.
    bool removed = false;
    std::vector<std::thread::id> running;
  };

  void call(const std::shared_ptr<Entry>& entry, const Event& event) {
    auto self = std::this_thread::get_id();
    {
      std::lock_guard lock(mutex_);
      if (entry->removed) return;
      entry->running.push_back(self);
    }
    struct Finish {
      ObserverList* list;
      Entry* entry;
      std::thread::id self;
      ~Finish() {
        {
          std::lock_guard lock(list->mutex_);
          auto& running = entry->running;
          running.erase(std::find(running.begin(), running.end(), self));
        }
        list->idle_.notify_all();
      }
    } finish{this, entry.get(), self};
    entry->callback(event);
  }

  mutable std::mutex mutex_;
  std::condition_variable idle_;
  std::vector<std::shared_ptr<Entry>> entries_;
};

}  // namespace qlt
