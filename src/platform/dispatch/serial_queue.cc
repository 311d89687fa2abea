#include "platform/dispatch/serial_queue.h"

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
  bool runningHere;
  {
    std::lock_guard lock(state_->mutex);
    runningHere = state_->busy && state_->active == std::this_thread::get_id();
  }
  if (runningHere)
    thread_.detach();
  else
    thread_.join();
}

void SerialQueue::async(std::function<void()> block) {
  // Once the lock is released the block may run and destroy this queue
  // (its owner can be one of the block's captures): only the state, held
  // here, may be touched after that.
  std::shared_ptr<State> state = state_;
  {
    std::lock_guard lock(state->mutex);
    state->blocks.push_back(std::move(block));
    if (!thread_.joinable()) thread_ = std::thread(run, state);
  }
  state->wake.notify_all();
}

void SerialQueue::sync(const std::function<void()>& block) {
  if (isCurrent()) {
    block();
    return;
  }
  {
    std::unique_lock lock(state_->mutex);
    if (!state_->busy && state_->blocks.empty()) {
      state_->busy = true;
      state_->active = std::this_thread::get_id();
      lock.unlock();
      struct Release {
        State& state;
        ~Release() {
          {
            std::lock_guard lock(state.mutex);
            state.busy = false;
            state.active = {};
          }
          state.wake.notify_all();
        }
      } release{*state_};
      block();
      return;
    }
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
  return state_->busy && state_->active == std::this_thread::get_id();
}

void SerialQueue::run(std::shared_ptr<State> state) {
  std::unique_lock lock(state->mutex);
  for (;;) {
    state->wake.wait(lock, [&] { return (state->stopping && !state->busy) || (!state->blocks.empty() && !state->busy); });
    if (state->blocks.empty()) return;
    auto block = std::move(state->blocks.front());
    state->blocks.pop_front();
    state->busy = true;
    state->active = std::this_thread::get_id();
    lock.unlock();
    block();
    block = nullptr;
    lock.lock();
    state->busy = false;
    state->active = {};
    state->wake.notify_all();
  }
}

}  // namespace qlt
