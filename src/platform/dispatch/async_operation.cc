#include "platform/dispatch/async_operation.h"

namespace qlt {

void AsyncOperation::start() {
  if (isCancelled()) {
    finish();
    return;
  }
  if (beginExecuting()) main();
}

}  // namespace qlt
