#pragma once

#include <functional>
#include <string>

#include "platform/objectstore/managed_object.h"

namespace qlt {

// Posts `name` on the main queue with the object `id` names as the library
// manager's view context (the main-thread context) sees it. Nothing is
// posted when the object is not found there or `accept` refuses it.
void postWithMainThreadObject(std::string name, ObjectID id,
                              std::function<bool(const ManagedObject&)> accept = nullptr);

}  // namespace qlt
