#pragma once

#include <functional>
#include <string>

#include "platform/foundation/error.h"
#include "platform/objectstore/managed_object.h"

namespace qlt {

class Group;

// Item work that group listing and directory watching call but that lives
// with the items, installed by the code that implements it.
struct ListingItemHooks {
  // Whether the item may be added to the group. Without it a group accepts
  // the items when it accepts existing items at all.
  std::function<bool(const ManagedObjectPtr& item, const Group& group, Error* error)> canAddToGroup;
  // Refreshes the item's metadata from its file at `url`. Without it a
  // changed file is found but nothing is refreshed.
  std::function<bool(const ManagedObjectPtr& item, const std::string& url, Error* error)> updateMetadataFromFile;

  static ListingItemHooks& installed();
};

}  // namespace qlt
