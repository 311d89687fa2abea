#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <set>
#include <vector>

#include "platform/cloud/cloud_record_id.h"
#include "platform/cloud/cloud_value.h"
#include "platform/foundation/codable.h"
#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "platform/foundation/property_list.h"

namespace qlt {

// The system fields of a cloud record: what a client keeps of the last
// server copy to make its next save count as a change of that copy.
struct RecordSystemFields {
  std::string recordType;
  RecordID recordID;
  std::string changeTag;  // empty: never saved to the server
  std::optional<Date> creationDate;
  std::optional<Date> modificationDate;

  // "CKRecord" keyed archive holding the system fields only.
  Bytes archivedData() const;
  [[nodiscard]] static std::optional<RecordSystemFields> fromArchivedData(const Bytes& data, Error* error = nullptr);
};

// The record type of share records, whose system fields folders and items
// keep for the shares they carry.
inline constexpr const char* kCloudShareRecordType = "cloudkit.share";

// A record of a cloud database ("CKRecord"): system fields assigned by the
// server, typed fields, and the optional parent used by sharing. A value
// type: copying gives an independent record.
//
// Setting or removing a field marks its key as changed; saves with the
// changed-keys policy send only those. Records a database hands back have
// no changed keys.
class CloudRecord {
 public:
  CloudRecord(std::string recordType, RecordID recordID);
  // The server copy's identity, type, change tag and dates, without fields.
  explicit CloudRecord(const RecordSystemFields& systemFields);
  [[nodiscard]] static std::optional<CloudRecord> fromSystemFieldsData(const Bytes& data, Error* error = nullptr);

  const std::string& recordType() const { return systemFields_.recordType; }
  const RecordID& recordID() const { return systemFields_.recordID; }
  // Empty for a record the server has never seen.
  const std::string& recordChangeTag() const { return systemFields_.changeTag; }
  const std::optional<Date>& creationDate() const { return systemFields_.creationDate; }
  const std::optional<Date>& modificationDate() const { return systemFields_.modificationDate; }
  bool isShare() const { return recordType() == kCloudShareRecordType; }

  const CloudValue* objectForKey(const std::string& key) const;
  void setObjectForKey(const std::string& key, CloudValue value);
  void removeObjectForKey(const std::string& key);
  // Sorted ascending.
  std::vector<std::string> allKeys() const;
  const std::map<std::string, CloudValue>& fields() const { return fields_; }

  const std::optional<CloudReference>& parent() const { return parent_; }
  void setParent(std::optional<CloudReference> parent);

  const std::set<std::string>& changedKeys() const { return changedKeys_; }
  bool parentChanged() const { return parentChanged_; }

  const RecordSystemFields& systemFields() const { return systemFields_; }
  // The secure keyed archive of the system fields only.
  Bytes encodeSystemFields() const { return systemFields_.archivedData(); }

  // For databases: the system fields of the stored copy, and forgetting
  // which keys the client changed.
  void setSystemFields(const RecordSystemFields& systemFields) { systemFields_ = systemFields; }
  void clearChangedKeys();

  // Same type, identifier, fields and parent (system fields and changed
  // keys are not compared).
  bool hasSameContents(const CloudRecord& other) const;
  std::string description() const;

 private:
  RecordSystemFields systemFields_;
  std::map<std::string, CloudValue> fields_;
  std::optional<CloudReference> parent_;
  std::set<std::string> changedKeys_;
  bool parentChanged_ = false;
};

// Registers the decoders of the classes above and of ServerChangeToken
// with the global registry; safe to call more than once.
void registerCloudRecordClasses();

}  // namespace qlt
