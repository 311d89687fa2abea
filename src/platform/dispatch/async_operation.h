#pragma once

#include "platform/dispatch/operation.h"

namespace qlt {

// An operation whose work outlives start(): main() (or an overriding
// start() that calls beginExecuting()) kicks the work off and returns, and
// the operation stays executing, counted as running by its queue, until
// finish() is called, from any thread.
class AsyncOperation : public Operation {
 public:
  bool isAsynchronous() const override { return true; }
  // A cancelled operation finishes at once; otherwise it becomes executing
  // and main() runs.
  void start() override;
};

}  // namespace qlt
