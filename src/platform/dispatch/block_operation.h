#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/dispatch/operation.h"

namespace qlt {

// Runs its blocks one after another, in the order they were added.
class BlockOperation : public Operation {
 public:
  BlockOperation() = default;
  explicit BlockOperation(std::function<void()> block);
  static std::shared_ptr<BlockOperation> make(std::function<void()> block);

  // REQUIRES: the operation has not started.
  void addExecutionBlock(std::function<void()> block);

  void main() override;

 private:
  std::mutex blocksMutex_;
  std::vector<std::function<void()>> blocks_;
};

}  // namespace qlt
