#pragma once

#include <functional>
#include <string>

#include "platform/objectstore/managed_object.h"

namespace qlt {

// Posts `name` on the main queue with the object `id` names as the library
// manager's view context (the main-thread context) sees it, and returns
// once that is done. Nothing is posted when the object is not found there
// or `accept` refuses it. REQUIRES: the main queue is not waiting for the
// caller (a caller on the main queue itself is fine).
void postWithMainThreadObject(std::string name, ObjectID id,
                              std::function<bool(const ManagedObject&)> accept = nullptr);

}  // namespace qlt
