#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace qlt {

// Progress of a task in units of work, safe to use from any thread. A child
// progress stands for `pendingUnitCount` units of its parent; when the child
// completes, those units are added to the parent's completed count.
class Progress : public std::enable_shared_from_this<Progress> {
 public:
  explicit Progress(int64_t totalUnitCount = 0) : total_(totalUnitCount) {}
  static std::shared_ptr<Progress> make(int64_t totalUnitCount) { return std::make_shared<Progress>(totalUnitCount); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  int64_t totalUnitCount() const;
  void setTotalUnitCount(int64_t count);
  int64_t completedUnitCount() const;
  void setCompletedUnitCount(int64_t count);
  // Completed units, children's partial progress included, over the total;
  // 0 while indeterminate.
  double fractionCompleted() const;
  // A count is negative, or both are 0.
  bool isIndeterminate() const;
  // The total is positive and the completed count has reached it.
  bool isFinished() const;

  // What the task is doing, for people ("Saving to iCloud…").
  std::string localizedDescription() const;
  void setLocalizedDescription(std::string text);

  bool isCancellable() const;
  void setCancellable(bool cancellable);
  bool isCancelled() const;
  // Marks this progress and its children cancelled and calls the
  // cancellation handler once, on the calling thread.
  void cancel();
  // Called by cancel(); set on an already cancelled progress, it runs at
  // once on the calling thread.
  void setCancellationHandler(std::function<void()> handler);

  // A child added to a cancelled progress is cancelled.
  // REQUIRES: this progress is owned by std::shared_ptr; `child` has no
  // parent yet.
  void addChild(std::shared_ptr<Progress> child, int64_t pendingUnitCount);

 private:
  struct Child {
    std::shared_ptr<Progress> progress;
    int64_t pendingUnitCount;
  };

  // Hands a finished child's pending units to the parent.
  void completeIfFinished();
  void childFinished(const Progress* child);

  mutable std::mutex mutex_;
  int64_t total_;
  int64_t completed_ = 0;
  std::string localizedDescription_;
  bool cancellable_ = true;
  bool cancelled_ = false;
  std::function<void()> cancellationHandler_;
  std::vector<Child> children_;
  std::weak_ptr<Progress> parent_;
};

}  // namespace qlt
