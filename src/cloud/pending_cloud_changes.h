#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/cloud/cloud_record_id.h"
#include "platform/foundation/error.h"
#include "platform/objectstore/managed_object.h"

namespace qlt {

class ManagedObjectContext;

// What the pending change sets of the changes database (status 0: not
// handed to an upload, or their upload failed) ask to send: the records
// inserted or updated, with the field names changed, and those deleted. A
// record deleted by any set counts as deleted only.
struct PendingCloudChanges {
  std::set<RecordID> insertedRecordIDs;
  std::set<RecordID> updatedRecordIDs;
  std::map<RecordID, std::set<std::string>> changedKeysByRecordID;
  std::set<RecordID> deletedRecordIDs;
  // The sets read, to be removed once their records are sent.
  std::vector<ManagedObjectPtr> changeSets;

  bool empty() const { return insertedRecordIDs.empty() && updatedRecordIDs.empty() && deletedRecordIDs.empty(); }
  bool isPendingSave(const RecordID& recordID) const {
    return insertedRecordIDs.count(recordID) || updatedRecordIDs.count(recordID);
  }

  // Reads every pending set. REQUIRES: inside `changes`.
  [[nodiscard]] static std::optional<PendingCloudChanges> read(ManagedObjectContext& changes, Error* error = nullptr);
  // Deletes the sets read, with their records, and saves. REQUIRES: inside
  // `changes`.
  [[nodiscard]] bool removeChangeSets(ManagedObjectContext& changes, Error* error = nullptr);
};

}  // namespace qlt
