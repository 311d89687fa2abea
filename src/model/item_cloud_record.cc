#include <filesystem>

#include "model/folder.h"
#include "model/item.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/foundation/log.h"
#include "store/cloud_record_fields.h"
#include "store/path_component.h"
#include "platform/objectstore/property_description.h"

namespace qlt {
namespace {

std::string temporaryDirectory() {
  std::error_code error;
  std::filesystem::path path = std::filesystem::temp_directory_path(error);
  return error ? std::string("/tmp") : path.string();
}

}  // namespace

void Item::updateRecordWithCurrentValues(CloudRecord& record) const {
  LibraryObject::updateRecordWithCurrentValues(record);
  std::shared_ptr<Folder> parent = folder();
  if (parent && parent->isPlainFolder()) {
    record.setParent(CloudReference{parent->cloudRecordID(), CloudReferenceAction::None});
  } else {
    record.setParent(std::nullopt);
  }

  Value thumbnail = valueForKey("thumbnailData");
  if (thumbnail.data() && thumbnail.data()->size() > kItemCloudMaxThumbnailLength) {
    record.removeObjectForKey("thumbnailData");
    log("Removed too large thumbnail from cloud record: %@ (%@) (%lu bytes)", record.recordID().recordName,
        fileType(), thumbnail.data()->size());
  }

  if (!valueForKey("textRecognitionDataNeedsUpload").boolValue()) return;
  Value recognized = valueForKey("textRecognitionData");
  if (!recognized.data() || recognized.data()->empty()) {
    record.removeObjectForKey(kItemCloudTextRecognitionFileAssetKey);
    return;
  }
  Error error;
  std::optional<std::string> path;
  if (checkPathComponent(identifier(), &error))
    path = appendingCheckedPathComponent(
        temporaryDirectory(), appendingPathExtension(identifier(), kItemTextRecognitionTemporaryFileExtension), &error);
  const Bytes& data = *recognized.data();
  if (!path ||
      !writeFileAtomically(*path, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), &error)) {
    log("Couldn't save text recognition data in temporary file: %@", error);
    return;
  }
  record.setObjectForKey(kItemCloudTextRecognitionFileAssetKey, CloudValue(CloudAsset{*path}));
}

std::set<std::string> Item::changedCloudRecordKeysForUpdatedProperties(
    const std::vector<const PropertyDescription*>& properties,
    const std::optional<std::map<std::string, Value>>& changedValues) const {
  std::set<std::string> keys = LibraryObject::changedCloudRecordKeysForUpdatedProperties(properties, changedValues);
  if (!valueForKey("textRecognitionDataNeedsUpload").boolValue()) return keys;
  for (const PropertyDescription* property : properties) {
    if (property && (property->name() == "textRecognitionData" || property->name() == "textRecognitionDataNeedsUpload"))
      keys.insert(kItemCloudTextRecognitionDataNeedsUploadKey);
  }
  return keys;
}

}  // namespace qlt
