#pragma once

#include <vector>

#include "platform/objectstore/object_id.h"

namespace qlt {

// Fault objects of one fetch batch: the first of them to fire reads the
// rows of all that are still faults.
struct FaultBatch {
  std::vector<ObjectID> ids;
};

}  // namespace qlt
