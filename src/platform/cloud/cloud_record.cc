#include "platform/cloud/cloud_record.h"

#include <mutex>

#include "platform/cloud/cloud_server_change_token.h"
#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/keyed_unarchiver.h"

namespace qlt {
namespace {

// Codable form of the system fields; only travels inside archives.
class RecordSystemFieldsCoding final : public Codable {
 public:
  RecordSystemFields fields;
  std::string className() const override { return "CKRecord"; }
  void encode(KeyedArchiver& archiver) const override {
    archiver.encodeString("RecordType", fields.recordType);
    archiver.encodeObject("RecordID", ArchiveObject(std::make_shared<RecordID>(fields.recordID)));
    if (!fields.changeTag.empty()) archiver.encodeString("ChangeTag", fields.changeTag);
    if (fields.creationDate) archiver.encodeDate("CreationDate", *fields.creationDate);
    if (fields.modificationDate) archiver.encodeDate("ModificationDate", *fields.modificationDate);
  }
};

std::shared_ptr<Codable> decodeZoneID(KeyedUnarchiver& coder, Error* error) {
  auto zone = coder.decodeString("ZoneName", error);
  auto owner = coder.decodeString("OwnerName", error);
  if (!zone || !owner) return nullptr;
  return std::make_shared<RecordZoneID>(*zone, *owner);
}

std::shared_ptr<Codable> decodeRecordID(KeyedUnarchiver& coder, Error* error) {
  auto name = coder.decodeString("RecordName", error);
  auto zone = coder.decodeObjectOfClass<RecordZoneID>("ZoneID", "CKRecordZoneID", error);
  if (!name || !zone || !*zone) return nullptr;
  return std::make_shared<RecordID>(*name, **zone);
}

std::shared_ptr<Codable> decodeSystemFields(KeyedUnarchiver& coder, Error* error) {
  auto type = coder.decodeString("RecordType", error);
  auto id = coder.decodeObjectOfClass<RecordID>("RecordID", "CKRecordID", error);
  if (!type || !id || !*id) return nullptr;
  auto coding = std::make_shared<RecordSystemFieldsCoding>();
  coding->fields.recordType = *type;
  coding->fields.recordID = **id;
  if (coder.containsValue("ChangeTag")) {
    auto tag = coder.decodeString("ChangeTag", error);
    if (!tag) return nullptr;
    coding->fields.changeTag = *tag;
  }
  for (auto [key, date] : {std::pair{"CreationDate", &coding->fields.creationDate},
                           std::pair{"ModificationDate", &coding->fields.modificationDate}}) {
    if (!coder.containsValue(key)) continue;
    auto value = coder.decodeDate(key, error);
    if (!value) return nullptr;
    *date = *value;
  }
  return coding;
}

}  // namespace

void RecordZoneID::encode(KeyedArchiver& archiver) const {
  archiver.encodeString("ZoneName", zoneName);
  archiver.encodeString("OwnerName", ownerName);
}

void RecordID::encode(KeyedArchiver& archiver) const {
  archiver.encodeString("RecordName", recordName);
  archiver.encodeObject("ZoneID", ArchiveObject(std::make_shared<RecordZoneID>(zoneID)));
}

void registerCloudRecordClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    CodableRegistry& registry = CodableRegistry::global();
    registry.registerClass("CKRecordZoneID", decodeZoneID);
    registry.registerClass("CKRecordID", decodeRecordID);
    registry.registerClass("CKRecord", decodeSystemFields);
    registry.registerClass("CKServerChangeToken", decodeServerChangeToken);
  });
}

Bytes RecordID::archivedData() const {
  return KeyedArchiver::archivedData(ArchiveObject(std::make_shared<RecordID>(*this))).value_or(Bytes{});
}

std::optional<RecordID> RecordID::fromArchivedData(const Bytes& data, Error* error) {
  registerCloudRecordClasses();
  auto object = KeyedUnarchiver::unarchivedObject(data, {"CKRecordID"}, error);
  if (!object) return std::nullopt;
  auto id = object->object() ? std::dynamic_pointer_cast<RecordID>(*object->object()) : nullptr;
  if (!id) {
    setError(error, Error(kCocoaErrorDomain, 4864, "The data is not an archived record identifier."));
    return std::nullopt;
  }
  return *id;
}

Bytes RecordSystemFields::archivedData() const {
  auto coding = std::make_shared<RecordSystemFieldsCoding>();
  coding->fields = *this;
  return KeyedArchiver::archivedData(ArchiveObject(coding)).value_or(Bytes{});
}

std::optional<RecordSystemFields> RecordSystemFields::fromArchivedData(const Bytes& data, Error* error) {
  registerCloudRecordClasses();
  auto object = KeyedUnarchiver::unarchivedObject(data, {"CKRecord"}, error);
  if (!object) return std::nullopt;
  auto coding =
      object->object() ? std::dynamic_pointer_cast<RecordSystemFieldsCoding>(*object->object()) : nullptr;
  if (!coding) {
    setError(error, Error(kCocoaErrorDomain, 4864, "The data is not an archived record."));
    return std::nullopt;
  }
  return coding->fields;
}

}  // namespace qlt

namespace qlt {

CloudRecord::CloudRecord(std::string recordType, RecordID recordID) {
  systemFields_.recordType = std::move(recordType);
  systemFields_.recordID = std::move(recordID);
}

CloudRecord::CloudRecord(const RecordSystemFields& systemFields) : systemFields_(systemFields) {}

std::optional<CloudRecord> CloudRecord::fromSystemFieldsData(const Bytes& data, Error* error) {
  auto fields = RecordSystemFields::fromArchivedData(data, error);
  if (!fields) return std::nullopt;
  return CloudRecord(*fields);
}

const CloudValue* CloudRecord::objectForKey(const std::string& key) const {
  auto found = fields_.find(key);
  return found == fields_.end() ? nullptr : &found->second;
}

void CloudRecord::setObjectForKey(const std::string& key, CloudValue value) {
  fields_.insert_or_assign(key, std::move(value));
  changedKeys_.insert(key);
}

void CloudRecord::removeObjectForKey(const std::string& key) {
  fields_.erase(key);
  changedKeys_.insert(key);
}

std::vector<std::string> CloudRecord::allKeys() const {
  std::vector<std::string> keys;
  keys.reserve(fields_.size());
  for (const auto& [key, value] : fields_) keys.push_back(key);
  return keys;
}

void CloudRecord::setParent(std::optional<CloudReference> parent) {
  parent_ = std::move(parent);
  parentChanged_ = true;
}

void CloudRecord::clearChangedKeys() {
  changedKeys_.clear();
  parentChanged_ = false;
}

bool CloudRecord::hasSameContents(const CloudRecord& other) const {
  return recordType() == other.recordType() && recordID() == other.recordID() && fields_ == other.fields_ &&
         parent_ == other.parent_;
}

std::string CloudRecord::description() const {
  std::string text = "<CloudRecord " + recordType() + " " + recordID().recordName + " (" +
                     recordID().zoneID.zoneName + ") tag=" + recordChangeTag();
  for (const auto& [key, value] : fields_) text += " " + key + "=" + value.description();
  return text + ">";
}

}  // namespace qlt
