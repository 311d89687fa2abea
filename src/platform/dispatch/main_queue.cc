#include "platform/dispatch/main_queue.h"

#include "platform/dispatch/run_loop.h"

namespace qlt {

void dispatchMainAsync(std::function<void()> block) { RunLoop::main().perform(std::move(block)); }

void dispatchMainSync(std::function<void()> block) { RunLoop::main().performAndWait(std::move(block)); }

bool isMainThread() { return RunLoop::main().isCurrent(); }

}  // namespace qlt
