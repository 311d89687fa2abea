#include "platform/serial_queue.h"

#include <future>

namespace qlt {

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)), state_(std::make_shared<State>()) {}

SerialQueue::~SerialQueue() {
  {
    std::lock_guard lock(state_->mutex);
    state_->stopping = true;
  }
  state_->wake.notify_all();
  if (!thread_.joinable()) return;
  if (thread_.get_id() == std::this_thread::get_id())
    thread_.detach();
  else
    thread_.join();
}

void SerialQueue::async(std::function<void()> block) {
  {
    std::lock_guard lock(state_->mutex);
    state_->blocks.push_back(std::move(block));
    if (!thread_.joinable()) {
      thread_ = std::thread(run, state_);
      state_->worker = thread_.get_id();
    }
  }
  state_->wake.notify_one();
}

void SerialQueue::sync(const std::function<void()>& block) {
  if (isCurrent()) {
    block();
    return;
  }
  std::promise<void> done;
  async([&] {
    block();
    done.set_value();
  });
  done.get_future().wait();
}

bool SerialQueue::isCurrent() const {
  std::lock_guard lock(state_->mutex);
  return state_->worker == std::this_thread::get_id();
}

void SerialQueue::run(std::shared_ptr<State> state) {
  std::unique_lock lock(state->mutex);
  for (;;) {
    state->wake.wait(lock, [&] { return state->stopping || !state->blocks.empty(); });
    if (state->blocks.empty()) return;
    auto block = std::move(state->blocks.front());
    state->blocks.pop_front();
    lock.unlock();
    block();
    block = nullptr;
    lock.lock();
  }
}

}  // namespace qlt
