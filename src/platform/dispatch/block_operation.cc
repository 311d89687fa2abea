#include "platform/dispatch/block_operation.h"

namespace qlt {

BlockOperation::BlockOperation(std::function<void()> block) { blocks_.push_back(std::move(block)); }

std::shared_ptr<BlockOperation> BlockOperation::make(std::function<void()> block) {
  return std::make_shared<BlockOperation>(std::move(block));
}

void BlockOperation::addExecutionBlock(std::function<void()> block) {
  std::lock_guard lock(blocksMutex_);
  blocks_.push_back(std::move(block));
}

void BlockOperation::main() {
  std::vector<std::function<void()>> blocks;
  {
    std::lock_guard lock(blocksMutex_);
    blocks.swap(blocks_);
  }
  for (auto& block : blocks) {
    if (block) block();
  }
}

}  // namespace qlt
