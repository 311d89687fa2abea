#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "changes/library_change_record.h"
#include "platform/cloud/cloud_record.h"
#include "platform/foundation/date.h"
#include "platform/objectstore/managed_object.h"

namespace qlt {

class ManagedObjectContext;

enum class LibraryChangeSetStatus : int64_t { Pending = 0, HandedToCloudUpload = 1 };

using RecordIDSet = std::set<RecordID>;
using ChangedKeysByRecordID = std::map<RecordID, std::set<std::string>>;

// The records one committed request changed (entity "ChangeSet"). A new set
// is dated now, gets a fresh upper-case UUID as identifier and is pending.
// Nothing here saves.
class LibraryChangeSet : public ManagedObject {
 public:
  using Ptr = std::shared_ptr<LibraryChangeSet>;

  // Inserted records carry no changed keys; updated ones carry theirs from
  // `changedKeysByRecordID`; deleted ones are type Delete. Null when the
  // changes model is not the context's.
  static Ptr changeRecordSet(const RecordIDSet& insertedRecordIDs, const RecordIDSet& updatedRecordIDs,
                             const ChangedKeysByRecordID& changedKeysByRecordID,
                             const RecordIDSet& deletedRecordIDs, ManagedObjectContext& context);
  static std::vector<LibraryChangeRecord::Ptr> changeRecords(LibraryChangeType type, const RecordIDSet& recordIDs,
                                                             const ChangedKeysByRecordID& changedKeysByRecordID,
                                                             ManagedObjectContext& context);
  static std::vector<LibraryChangeRecord::Ptr> changeRecordsForDeletedRecordIDs(const RecordIDSet& recordIDs,
                                                                                ManagedObjectContext& context);

  [[nodiscard]] std::optional<Date> date() const;
  std::string identifier() const;
  LibraryChangeSetStatus status() const;
  void setStatus(LibraryChangeSetStatus status);
  std::vector<LibraryChangeRecord::Ptr> changeRecords() const;
  void addChangeRecords(const std::vector<LibraryChangeRecord::Ptr>& records);

 protected:
  void awakeFromInsert() override;
};

}  // namespace qlt
