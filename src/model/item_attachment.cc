#include "model/item_attachment.h"

#include <filesystem>

#include "model/item.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/foundation/log.h"
#include "platform/foundation/uniform_type.h"
#include "platform/objectstore/managed_object_context.h"
#include "util/filename_rules.h"

namespace qlt {
namespace {

std::string temporaryDirectory() {
  std::error_code error;
  std::filesystem::path path = std::filesystem::temp_directory_path(error);
  return error ? std::string("/tmp") : path.string();
}

}  // namespace

std::shared_ptr<Item> ItemAttachment::item() const { return std::dynamic_pointer_cast<Item>(objectForKey("item")); }

std::string ItemAttachment::filename() const {
  Value stored = valueForKey("filename");
  return stored.string() ? *stored.string() : std::string();
}

void ItemAttachment::setFileType(const std::string& type) {
  Value stored = valueForKey("fileType");
  if (stored.string() && *stored.string() == type) return;
  setValueForKey("fileType", type.empty() ? Value() : Value(type));
  std::string highLevel = Item::highLevelFileTypeForType(type);
  setValueForKey("highLevelFileType", highLevel.empty() ? Value() : Value(highLevel));
}

std::optional<Bytes> ItemAttachment::textRecognitionData() const {
  Value stored = valueForKey("textRecognitionData");
  if (!stored.data()) return std::nullopt;
  return *stored.data();
}

void ItemAttachment::setTextRecognitionData(const std::optional<Bytes>& data) {
  std::optional<Bytes> stored = textRecognitionData();
  bool newEmpty = !data || data->empty(), storedEmpty = !stored || stored->empty();
  if (newEmpty && storedEmpty) return;
  if (data == stored) return;
  setValueForKey("textRecognitionData", data ? Value(*data) : Value());
  setValueForKey("textRecognitionDataNeedsUpload", true);
  if (std::shared_ptr<Item> owner = item()) owner->setValueForKey("indexingState", 0);
}

RecordID ItemAttachment::cloudRecordID() const {
  std::shared_ptr<Item> owner = item();
  if (!owner) return LibraryObject::cloudRecordID();
  return RecordID(cloudRecordName(), owner->cloudRecordID().zoneID);
}

std::set<std::string> ItemAttachment::changedCloudRecordKeysForUpdatedProperties(
    const std::vector<const PropertyDescription*>& properties,
    const std::optional<std::map<std::string, Value>>& changedValues) const {
  std::set<std::string> keys = LibraryObject::changedCloudRecordKeysForUpdatedProperties(properties, changedValues);
  auto updated = [&](const char* name) {
    for (const PropertyDescription* property : properties)
      if (property && property->name() == name) return true;
    return false;
  };
  if (updated("textRecognitionDataNeedsUpload") && valueForKey("textRecognitionDataNeedsUpload").boolValue())
    keys.insert(kItemAttachmentCloudTextRecognitionNeedsUploadKey);
  else if (updated("textRecognitionData"))
    keys.insert("textRecognitionData");
  return keys;
}

void ItemAttachment::updateRecordWithCurrentValues(CloudRecord& record) const {
  LibraryObject::updateRecordWithCurrentValues(record);
  std::shared_ptr<Item> owner = item();
  if (valueForKey("textRecognitionDataNeedsUpload").boolValue()) {
    std::optional<Bytes> data = textRecognitionData();
    if (!data || data->empty()) {
      record.removeObjectForKey(kItemAttachmentCloudTextRecognitionFileAssetKey);
    } else {
      Error error;
      std::string directory = appendingPathComponent(
          temporaryDirectory(), "QLTATTACHMENTS " + (owner ? owner->identifier() : std::string()));
      if (!isDirectory(directory) && !createDirectory(directory, true, &error)) {
        log("Couldn't create temp directory for attachment text recognition data upload: %@", error);
        return;
      }
      std::string name = appendingPathExtension(deletingPathExtension(filename()), kItemTextRecognitionTemporaryFileExtension);
      std::string path = appendingPathComponent(directory, makeFilenameUniqueInDirectory(name, directory));
      if (writeFileAtomically(path, std::string_view(reinterpret_cast<const char*>(data->data()), data->size()), &error))
        record.setObjectForKey(kItemAttachmentCloudTextRecognitionFileAssetKey, CloudAsset{path});
      else
        log("Couldn't save attachment text recognition data in temporary file: %@", error);
    }
  }
  if (owner) record.setParent(CloudReference{owner->cloudRecordID(), CloudReferenceAction::None});
}

void ItemAttachment::updateTextRecognitionDataFromCloudRecord(const CloudRecord& record) {
  const CloudValue* value = record.objectForKey(kItemAttachmentCloudTextRecognitionFileAssetKey);
  const CloudAsset* asset = value ? value->asset() : nullptr;
  if (!asset) {
    setTextRecognitionData(std::nullopt);
    return;
  }
  Error error;
  std::optional<std::string> contents = readFile(asset->filePath, &error);
  if (!contents) {
    log("Couldn't extract text recognition data for item attachment %@: %@", identifier(), error);
    return;
  }
  setTextRecognitionData(Bytes(contents->begin(), contents->end()));
}

void ItemAttachment::updateFromCloudRecord(const CloudRecord& record) {
  updateTextRecognitionDataFromCloudRecord(record);
  LibraryObject::updateFromCloudRecord(record);
}

bool ItemTextInfo::fileTypeNeedsTextInfo(const std::string& type) {
  if (type.empty()) return false;
  const UniformType* uniform = UniformType::withIdentifier(type);
  if (!uniform) return false;
  std::vector<const UniformType*> needing = {&UniformType::rtf(), &UniformType::rtfd(), &UniformType::pdf(),
                                             &UniformType::markdown()};
  for (const char* identifier : {"com.quillet.note", "public.markdown"})
    if (const UniformType* known = UniformType::withIdentifier(identifier)) needing.push_back(known);
  for (const UniformType* candidate : needing)
    if (uniform->conformsTo(*candidate)) return true;
  return false;
}

std::shared_ptr<ItemTextInfo> ItemTextInfo::createTextInfoForItem(const std::shared_ptr<Item>& item) {
  ManagedObjectContext* context = item ? item->managedObjectContext() : nullptr;
  if (!context) return nullptr;
  auto info = std::dynamic_pointer_cast<ItemTextInfo>(context->insertNewObject("ItemTextInfo"));
  if (info) info->setValueForKey("identifier", item->identifier());
  return info;
}

RecordID ItemTextInfo::cloudRecordID() const {
  auto owner = std::dynamic_pointer_cast<Item>(objectForKey("item"));
  if (!owner) return LibraryObject::cloudRecordID();
  return RecordID(cloudRecordName(), owner->cloudRecordID().zoneID);
}

}  // namespace qlt
