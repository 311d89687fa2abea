#include "changes/library_change_record.h"

#include "changes/library_changes_model.h"
#include "platform/objectstore/managed_object_context.h"

namespace qlt {

LibraryChangeRecord::Ptr LibraryChangeRecord::changeRecord(LibraryChangeType type, const RecordID& recordID,
                                                           const std::set<std::string>& changedKeys,
                                                           ManagedObjectContext& context) {
  auto record = std::dynamic_pointer_cast<LibraryChangeRecord>(context.insertNewObject(kChangeRecordEntityName));
  if (!record) return nullptr;
  record->setChangeType(type);
  record->setRecordID(recordID);
  if (!changedKeys.empty()) record->setChangedKeys(changedKeys);
  return record;
}

LibraryChangeRecord::Ptr LibraryChangeRecord::changeRecordForDeletedRecord(const RecordID& recordID,
                                                                           ManagedObjectContext& context) {
  return changeRecord(LibraryChangeType::Delete, recordID, {}, context);
}

LibraryChangeType LibraryChangeRecord::changeType() const {
  Value value = valueForKey("changeType");
  return static_cast<LibraryChangeType>(value.integer() ? *value.integer() : 0);
}

void LibraryChangeRecord::setChangeType(LibraryChangeType type) {
  setValueForKey("changeType", static_cast<int64_t>(type));
}

std::optional<RecordID> LibraryChangeRecord::recordID() const {
  Value value = valueForKey("recordIDData");
  const Bytes* data = value.data();
  if (!data || data->empty()) return std::nullopt;
  if (cachedRecordID_ && cachedRecordID_->first == *data) return cachedRecordID_->second;
  std::optional<RecordID> decoded = RecordID::fromArchivedData(*data);
  if (decoded) cachedRecordID_.emplace(*data, *decoded);
  return decoded;
}

void LibraryChangeRecord::setRecordID(const std::optional<RecordID>& recordID) {
  Bytes data;
  if (recordID) data = recordID->archivedData();
  if (!recordID || data.empty()) {
    cachedRecordID_.reset();
    setValueForKey("recordIDData", nullptr);
    setValueForKey("recordName", nullptr);
    return;
  }
  cachedRecordID_.emplace(data, *recordID);
  setValueForKey("recordIDData", std::move(data));
  setValueForKey("recordName", recordID->recordName);
}

std::string LibraryChangeRecord::recordName() const {
  Value value = valueForKey("recordName");
  return value.string() ? *value.string() : std::string();
}

std::optional<std::set<std::string>> LibraryChangeRecord::changedKeys() const {
  Value value = valueForKey("changedKeyNames");
  const std::string* names = value.string();
  if (!names || names->empty()) return std::nullopt;
  std::set<std::string> keys;
  size_t start = 0;
  while (true) {
    size_t comma = names->find(',', start);
    keys.insert(names->substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return keys;
}

void LibraryChangeRecord::setChangedKeys(const std::set<std::string>& keys) {
  if (keys.empty()) {
    setValueForKey("changedKeyNames", nullptr);
    return;
  }
  std::string joined;
  for (const std::string& key : keys) {
    if (&key != &*keys.begin()) joined += ',';
    joined += key;
  }
  setValueForKey("changedKeyNames", joined);
}

}  // namespace qlt
