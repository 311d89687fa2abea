#include "cloud/item_cloud_assets.h"

#include <cstdlib>

#include "formats/archive_file.h"
#include "platform/cloud/cloud_error.h"
#include "platform/files/file_coordinator.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/foundation/log.h"
#include "store/path_component.h"

namespace qlt {
namespace {

std::string userCachesDirectory() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache && *cache) return cache;
  const char* home = std::getenv("HOME");
  return appendingPathComponent(home && *home ? home : "/tmp", ".cache");
}

std::optional<std::string> archiveOfItemAt(const Item& item, const std::string& path) {
  std::optional<std::string> folder = itemAssetsCacheFolder();
  if (!folder) return std::nullopt;
  std::shared_ptr<ArchiveFile> archive;
  Error error;
  FileCoordinator coordinator;
  // A failed coordination leaves `archive` empty, which the caller reports.
  (void)coordinator.coordinateReading(path, FileCoordinator::kWithoutChanges,
                                [&](const std::string& readPath) { archive = ArchiveFile::withURL(readPath, &error); },
                                &error);
  if (!archive) {
    log("Cannot create archive of file at path %@: %@", path, error);
    return std::nullopt;
  }
  if (!checkPathComponent(item.identifier(), &error)) {
    log("Cannot save archive %@: %@", item.identifier(), error);
    return std::nullopt;
  }
  std::string archivePath =
      appendingPathComponent(*folder, appendingPathExtension(item.identifier(), kArchiveFileExtension));
  if (!archive->writeArchiveToURL(archivePath, &error)) {
    log("Cannot save archive %@: %@", archivePath, error);
    return std::nullopt;
  }
  return archivePath;
}

}  // namespace

std::optional<std::string> itemAssetsCacheFolder() {
  std::string folder = appendingPathComponent(userCachesDirectory(), "Cloud File Assets");
  if (isDirectory(folder)) return folder;
  Error error;
  if (!createDirectory(folder, true, &error)) {
    log("Couldn't create item assets cache folder: %@", error);
    return std::nullopt;
  }
  return folder;
}

CloudRecord cloudRecordWithFileAsset(Item& item) {
  CloudRecord record = item.cloudRecord();
  addFileToCloudRecord(item, record);
  return record;
}

bool addFileToCloudRecord(Item& item, CloudRecord& record) {
  std::optional<std::string> path = item.fileURL();
  return addFileAtURL(item, path.value_or(std::string()), record);
}

bool addFileAtURL(Item& item, const std::string& path, CloudRecord& record) {
  if (path.empty() || !fileExists(path)) {
    log("Missing file asset for item cloud record: %@", item.cloudRecordID().recordName);
    return false;
  }
  std::string assetPath = path;
  bool isArchive = isDirectory(path);
  if (isArchive) {
    std::optional<std::string> archive = archiveOfItemAt(item, path);
    if (!archive) {
      log("Error adding file to cloud record: %@", item.cloudRecordID().recordName);
      return false;
    }
    assetPath = *archive;
  }
  record.setObjectForKey(kItemCloudFileAssetKey, CloudValue(CloudAsset{assetPath}));
  record.setObjectForKey(kItemCloudFileIsArchiveKey, CloudValue(isArchive));
  item.setValueForKey("cloudFileUploadStatus", 1);
  return true;
}

std::optional<CloudRecord> mergeChangesForServerRecordChange(LibraryObject& object, const Error& error,
                                                             const std::set<std::string>& changedKeys) {
  std::optional<CloudRecord> merged = object.mergeChangesForServerRecordChange(error, changedKeys);
  auto* item = dynamic_cast<Item*>(&object);
  const CloudRecord* client = cloudClientRecord(error);
  const CloudRecord* server = cloudServerRecord(error);
  if (!merged || !item || !client || !server || !client->objectForKey(kItemCloudFileAssetKey)) return merged;
  const CloudValue* clientDate = client->objectForKey("dateModified");
  const CloudValue* serverDate = server->objectForKey("dateModified");
  bool clientIsCurrent = clientDate && clientDate->date() &&
                         (!serverDate || !serverDate->date() ||
                          clientDate->date()->timeIntervalSinceReferenceDate() >=
                              serverDate->date()->timeIntervalSinceReferenceDate());
  if (clientIsCurrent) addFileToCloudRecord(*item, *merged);
  return merged;
}

}  // namespace qlt
