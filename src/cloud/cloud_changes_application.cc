#include "cloud/cloud_changes_application.h"

#include <cmath>

#include "model/folder.h"
#include "model/item.h"
#include "model/item_file_versions.h"
#include "platform/cloud/cloud_error.h"
#include "platform/files/file_system.h"
#include "platform/foundation/log.h"
#include "platform/objectstore/managed_object_context.h"
#include "store/library_object.h"
#include "store/model_annotations.h"

namespace qlt {
namespace {

constexpr int64_t kNotDownloaded = 0;
constexpr int64_t kDownloaded = 1;
constexpr int64_t kRecordHasNoFile = 5;

// Whether the object already holds every value the record carries for the
// object's own properties (fields for transfers, such as assets, do not
// count).
bool holdsRecordValues(const LibraryObject& object, const CloudRecord& record) {
  CloudRecord local = object.cloudRecord();
  auto differs = [&](const std::string& key) {
    const PropertyDescription* property = object.entity().property(key);
    if (!property || isExcludedFromCloudDatabase(*property)) return false;
    const CloudValue* mine = local.objectForKey(key);
    const CloudValue* theirs = record.objectForKey(key);
    if (!mine || !theirs) return mine != theirs;
    return !(*mine == *theirs);
  };
  for (const auto& [key, value] : local.fields())
    if (differs(key)) return false;
  for (const auto& [key, value] : record.fields())
    if (differs(key)) return false;
  return true;
}

bool sameDate(const std::optional<Date>& a, const std::optional<Date>& b) {
  if (!a || !b) return a.has_value() == b.has_value();
  return std::fabs(a->timeIntervalSinceReferenceDate() - b->timeIntervalSinceReferenceDate()) < 1e-6;
}

bool carriesFile(const CloudRecord& record) {
  const CloudValue* value = record.objectForKey(kItemCloudFileAssetKey);
  return value && value->asset();
}

void markDownloadState(Item& item, const CloudRecord& record) {
  if (!carriesFile(record)) {
    item.setValueForKey("cloudFileDownloadStatus", kRecordHasNoFile);
  } else {
    item.setValueForKey("cloudFileDownloadStatus", item.fileExists() ? kDownloaded : kNotDownloaded);
  }
}

// After the item took the record's values: its file follows its new name
// and folder, or, when the content changed on the server, is kept as a
// version and leaves the place to the download.
void keepItemFileInStep(Item& item, const std::optional<std::string>& oldPath, bool contentChanged,
                        const CloudRecord& record) {
  if (!oldPath || !fileExists(*oldPath)) {
    markDownloadState(item, record);
    return;
  }
  Error error;
  if (contentChanged) {
    if (!ItemFileVersions::ofSharedLibrary().addVersionOfItem(item.identifier(), *oldPath, &error)) {
      log("Cannot keep the replaced file of %@ as a version: %@", item.identifier(), error);
      markDownloadState(item, record);
      return;
    }
    if (!removeItem(*oldPath, &error)) log("Cannot remove the replaced file of %@: %@", item.identifier(), error);
    markDownloadState(item, record);
    return;
  }
  std::optional<std::string> newPath = item.fileURL();
  if (newPath && *newPath != *oldPath) {
    auto folder = item.folder();
    if (folder && !folder->createFolder(&error)) {
      log("Could not create folder: %@", error);
    } else if (fileExists(*newPath)) {
      log("Cannot move the file of %@: another file is at %@", item.identifier(), *newPath);
    } else if (!moveItem(*oldPath, *newPath, &error)) {
      log("Cannot move the file of %@: %@", item.identifier(), error);
    }
  }
  markDownloadState(item, record);
}

}  // namespace

std::vector<CloudRecord> CloudChangesApplication::sortedForApplication(std::vector<CloudRecord> records) {
  std::stable_sort(records.begin(), records.end(), [](const CloudRecord& a, const CloudRecord& b) {
    return LibraryObject::cloudOrderingForEntityWithName(a.recordType()) <
           LibraryObject::cloudOrderingForEntityWithName(b.recordType());
  });
  return records;
}

void CloudChangesApplication::applyRecords(const std::vector<CloudRecord>& records) {
  std::vector<CloudRecord> sorted = sortedForApplication(records);
  size_t firstNew = newObjects_.size();
  for (const CloudRecord& record : sorted) {
    if (pending_.deletedRecordIDs.count(record.recordID())) continue;
    applyRecord(record);
  }
  // References between new objects of one rank (linked items) resolve once
  // all of them exist.
  for (size_t index = firstNew; index < newObjects_.size(); ++index) {
    auto& [object, record] = newObjects_[index];
    if (!std::dynamic_pointer_cast<Folder>(object)) object->updateFromCloudRecord(record);
  }
}

void CloudChangesApplication::applyRecord(const CloudRecord& record) {
  LibraryObject::Ptr object = LibraryObject::libraryObjectForCloudRecordID(context_, record.recordID());
  if (!object) {
    if (!LibraryObject::cloudRecordHasCorrespondingEntity(context_, record.recordID())) {
      log("Ignoring cloud record of an unknown entity: %@", record.recordID().recordName);
      return;
    }
    object = LibraryObject::libraryObjectFromCloudRecord(record, context_);
    if (!object) return;
    if (auto item = std::dynamic_pointer_cast<Item>(object)) markDownloadState(*item, record);
    newObjects_.emplace_back(object, record);
    ++applied_;
    return;
  }
  CloudRecord incoming = record;
  if (pending_.isPendingSave(record.recordID())) {
    std::set<std::string> keys;
    if (auto found = pending_.changedKeysByRecordID.find(record.recordID());
        found != pending_.changedKeysByRecordID.end())
      keys = found->second;
    CloudRecord local = object->cloudRecord();
    if (keys.empty() || pending_.insertedRecordIDs.count(record.recordID())) {
      for (const auto& [key, value] : local.fields()) keys.insert(key);
    }
    auto merged = object->mergeChangesForServerRecordChange(cloudServerRecordChangedError(local, record), keys);
    if (merged) incoming = *merged;
  }
  if (holdsRecordValues(*object, incoming)) {
    ++unchanged_;
    return;
  }
  auto item = std::dynamic_pointer_cast<Item>(object);
  std::optional<std::string> oldPath;
  std::optional<Date> oldDate;
  if (item) {
    oldPath = item->fileURL();
    oldDate = item->dateModified();
  }
  object->updateFromCloudRecord(incoming);
  if (item) keepItemFileInStep(*item, oldPath, !sameDate(oldDate, item->dateModified()), record);
  ++applied_;
}

void CloudChangesApplication::applyDeletions(const std::vector<RecordID>& recordIDs) {
  for (const RecordID& recordID : recordIDs) {
    // Changed here meanwhile: the next upload brings the object back.
    if (pending_.isPendingSave(recordID)) continue;
    LibraryObject::Ptr object = LibraryObject::libraryObjectForCloudRecordID(context_, recordID);
    if (!object || LibraryObject::isSystemObjectEntityName(context_, object->entity().name())) continue;
    std::vector<std::string> gone;
    if (auto folder = std::dynamic_pointer_cast<Folder>(object)) {
      if (!folder->isPlainFolder()) continue;
      gone.push_back(folder->fileProviderItemIdentifier());
      for (const Folder::Ptr& subfolder : folder->allSubfolders()) gone.push_back(subfolder->fileProviderItemIdentifier());
      for (const ManagedObjectPtr& child : folder->allItems())
        if (auto item = std::dynamic_pointer_cast<Item>(child)) gone.push_back(item->fileProviderItemIdentifier());
    } else if (std::dynamic_pointer_cast<Item>(object)) {
      gone.push_back(object->fileProviderItemIdentifier());
    }
    deletedItemIdentifiers_.insert(deletedItemIdentifiers_.end(), gone.begin(), gone.end());
    context_.deleteObject(object);
    ++deleted_;
  }
}

}  // namespace qlt
