#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "store/cloud_record_fields.h"
#include "store/library_object.h"

namespace qlt {

class Item;

// A file attached to a note (entity "ItemAttachment") with the text
// recognized in it. Its record lives in the zone of its item's record, with
// that record as parent; the recognized text travels as an asset while it
// waits for upload.
class ItemAttachment : public LibraryObject {
 public:
  std::shared_ptr<Item> item() const;
  std::string filename() const;

  // A new type also sets highLevelFileType.
  void setFileType(const std::string& type);
  // New, different data is stored, marked for upload and makes the item
  // be indexed again; empty over empty changes nothing.
  void setTextRecognitionData(const std::optional<Bytes>& data);
  [[nodiscard]] std::optional<Bytes> textRecognitionData() const;

  RecordID cloudRecordID() const override;
  std::set<std::string> changedCloudRecordKeysForUpdatedProperties(
      const std::vector<const PropertyDescription*>& properties,
      const std::optional<std::map<std::string, Value>>& changedValues) const override;
  void updateRecordWithCurrentValues(CloudRecord& record) const override;
  // The asset's bytes, or nothing without the asset.
  void updateTextRecognitionDataFromCloudRecord(const CloudRecord& record);
  void updateFromCloudRecord(const CloudRecord& record) override;
};

// The summary of an item's text used in searches (entity "ItemTextInfo"),
// sharing the item's identifier and living in its item's zone.
class ItemTextInfo : public LibraryObject {
 public:
  // Notes, RTF, RTFD, PDF and Markdown need one; unknown types do not.
  static bool fileTypeNeedsTextInfo(const std::string& type);
  static std::shared_ptr<ItemTextInfo> createTextInfoForItem(const std::shared_ptr<Item>& item);

  RecordID cloudRecordID() const override;
};

}  // namespace qlt
