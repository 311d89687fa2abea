#pragma once

#include <optional>

#include "platform/cloud/cloud_record.h"
#include "platform/objectstore/managed_object.h"

namespace qlt {

// The cloud share of a folder or item: the system fields of its share
// record, kept in cloudShareData. nullopt when there is none or the data
// cannot be read.
[[nodiscard]] std::optional<RecordSystemFields> decodedCloudShare(const ManagedObject& object);
// Stores the share's record name and system fields; nullopt clears both.
void storeCloudShare(ManagedObject& object, const std::optional<RecordSystemFields>& share);
// Whether the share's record lies in this user's library zone.
bool isShareOwnedByCurrentUser(const RecordSystemFields& share);

// An item is this user's own when it has a share of its own in the library
// zone; without one it follows its folder; without a folder it is not.
bool isItemLocalRecord(const ManagedObject& item);

}  // namespace qlt
