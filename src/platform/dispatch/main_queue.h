#pragma once

#include <functional>

namespace qlt {

// The main queue: blocks run one at a time, in the order they were
// dispatched, on the thread running RunLoop::main() (a dedicated thread
// started on first use, unless a program runs that loop itself).

void dispatchMainAsync(std::function<void()> block);
// Runs `block` on the main queue and waits for it; inline on the main thread.
void dispatchMainSync(std::function<void()> block);
bool isMainThread();

}  // namespace qlt
