#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace qlt {

// A private serial dispatch queue: blocks run one at a time, in order, on a
// thread of the queue's own that starts with the first block. Destroying the
// queue runs what is still queued, then joins the thread; a queue destroyed
// by one of its own blocks lets its thread finish on its own.
class SerialQueue {
 public:
  explicit SerialQueue(std::string label = {});
  ~SerialQueue();
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  const std::string& label() const { return label_; }
  void async(std::function<void()> block);
  // Runs `block` as a block of the queue and waits. When the queue is idle
  // (or the caller is the queue itself) the block runs on the calling
  // thread, with the queue held back until it returns.
  void sync(const std::function<void()>& block);
  bool isCurrent() const;

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> blocks;
    bool stopping = false;
    bool busy = false;           // a block is running
    std::thread::id active;      // the thread running it
  };
  static void run(std::shared_ptr<State> state);

  std::string label_;
  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace qlt
