#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "platform/cloud/cloud_record.h"
#include "platform/objectstore/managed_object.h"

namespace qlt {

class ManagedObjectContext;

enum class LibraryChangeType : int64_t { Insert = 0, Update = 1, Delete = 2 };

// One cloud record touched by a change set (entity "ChangeRecord"). The
// record identifier is kept archived in recordIDData, with its record name
// in plain text beside it in recordName.
class LibraryChangeRecord : public ManagedObject {
 public:
  using Ptr = std::shared_ptr<LibraryChangeRecord>;

  // A new record in `context`; null when the changes model is not the
  // context's. Empty `changedKeys` leave changedKeyNames unset.
  static Ptr changeRecord(LibraryChangeType type, const RecordID& recordID, const std::set<std::string>& changedKeys,
                          ManagedObjectContext& context);
  static Ptr changeRecordForDeletedRecord(const RecordID& recordID, ManagedObjectContext& context);

  LibraryChangeType changeType() const;
  void setChangeType(LibraryChangeType type);

  // Decoded from recordIDData (secure coding) and kept until that data
  // changes; nullopt when there is no data or it cannot be decoded.
  [[nodiscard]] std::optional<RecordID> recordID() const;
  // Archives the identifier into recordIDData and copies its record name;
  // nullopt clears both.
  void setRecordID(const std::optional<RecordID>& recordID);
  std::string recordName() const;

  // changedKeyNames split at ","; nullopt when it is empty or unset.
  [[nodiscard]] std::optional<std::set<std::string>> changedKeys() const;
  // Joined by "," with no spaces; an empty set clears changedKeyNames.
  void setChangedKeys(const std::set<std::string>& keys);

 private:
  mutable std::optional<std::pair<Bytes, RecordID>> cachedRecordID_;
};

}  // namespace qlt
