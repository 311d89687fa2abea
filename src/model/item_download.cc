#include <cmath>

#include "formats/archive_file.h"
#include "model/finder_tags.h"
#include "model/folder.h"
#include "model/item.h"
#include "model/item_file_versions.h"
#include "platform/cloud/cloud_record.h"
#include "platform/files/file_attributes.h"
#include "platform/files/file_coordinator.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/foundation/log.h"
#include "platform/defaults/user_defaults.h"

namespace qlt {
namespace {

constexpr int64_t kDownloaded = 1;
constexpr int64_t kDownloadFailedNoDestination = 2;
constexpr int64_t kRecordHasNoFile = 5;
constexpr int64_t kUploaded = 2;
constexpr int64_t kMetadataStateFailed = 4;

bool matchesDateToSecond(const Date& a, const Date& b) {
  return std::fabs(a.timeIntervalSinceReferenceDate() - b.timeIntervalSinceReferenceDate()) < 1.0;
}

std::string recordString(const CloudRecord& record, const char* key) {
  const CloudValue* value = record.objectForKey(key);
  return value && value->string() ? *value->string() : std::string();
}

timespec timespecOf(const Date& date) {
  double seconds = date.timeIntervalSince1970();
  timespec time{};
  time.tv_sec = static_cast<time_t>(std::floor(seconds));
  time.tv_nsec = static_cast<long>((seconds - std::floor(seconds)) * 1e9);
  return time;
}

struct FileAttributesToApply {
  Date modificationDate;
  std::optional<Date> creationDate;
  bool extensionHidden = false;
  std::optional<std::vector<std::string>> tagNames;
};

// Applies every attribute it can; each failure is logged on its own.
void applyAttributes(const std::string& path, const FileAttributesToApply& attributes) {
  auto logged = [](bool applied, const Error& error) {
    if (!applied) log("Error changing metadata on updated file: %@", error);
  };
  Error error;
  logged(setModificationTime(path, timespecOf(attributes.modificationDate), &error), error);
  if (attributes.creationDate)
    logged(setCreationTime(path, timespecOf(*attributes.creationDate), &error), error);
  logged(setExtensionHidden(path, attributes.extensionHidden, &error), error);
  if (attributes.tagNames) logged(setFinderTagNames(path, *attributes.tagNames, &error), error);
}

// Puts a copy of `source` in place of `destination` in one step, staged as
// ".<name>" beside it.
bool replaceWithCopy(const std::string& destination, const std::string& source, Error* error) {
  std::string staged =
      appendingPathComponent(deletingLastPathComponent(destination), "." + lastPathComponent(destination));
  if (fileExists(staged) && !removeItem(staged, error)) return false;
  if (!copyItem(source, staged, error)) return false;
  if (replaceItem(destination, staged, error)) return true;
  (void)removeItem(staged);  // best effort: the reported error is the replacement's
  return false;
}

}  // namespace

std::vector<std::string> Item::desiredKeysForAssetDownloads() {
  return {"identifier", "filename", "name", "fileType", "dateModified", kItemCloudFileAssetKey,
          kItemCloudFileIsArchiveKey};
}

bool Item::updateFileFromRecord(const CloudRecord& record, Error* error) {
  const CloudValue* assetValue = record.objectForKey(kItemCloudFileAssetKey);
  const CloudAsset* asset = assetValue ? assetValue->asset() : nullptr;
  if (!asset) {
    log("Record %@ (%@) has no asset, setting file as missing.", record.recordID().recordName,
        recordString(record, "filename"));
    setValueForKey("cloudFileDownloadStatus", kRecordHasNoFile);
    setError(error, Error(kItemCloudErrorDomain, kItemCloudNoFileErrorCode, "No file for " + name()));
    return false;
  }
  std::optional<std::string> destination = fileURL();
  if (!destination) {
    log("Cannot process asset for %@ (%@), because no destination file.", name(), identifier());
    setValueForKey("cloudFileDownloadStatus", kDownloadFailedNoDestination);
    setError(error, Error(kItemCloudErrorDomain, kItemCloudNoDestinationErrorCode, "No destination URL for " + name()));
    return false;
  }

  const CloudValue* dateValue = record.objectForKey("dateModified");
  Date serverDate = dateValue && dateValue->date() ? *dateValue->date() : Date::distantPast();
  setValueForKey("cloudLastUploadedModificationDate", serverDate);

  auto markDone = [&] {
    setValueForKey("cloudFileDownloadStatus", kDownloaded);
    setValueForKey("initialCloudDownloadCompleted", true);
    setValueForKey("cloudUploadCompleted", true);
    setValueForKey("cloudFileUploadStatus", kUploaded);
  };

  bool existed = qlt::fileExists(*destination);
  if (existed) {
    if (std::optional<FileAttributes> local = attributesOfItem(*destination)) {
      Date localDate = local->modificationDate();
      if (!matchesDateToSecond(localDate, serverDate) &&
          localDate.timeIntervalSinceReferenceDate() > serverDate.timeIntervalSinceReferenceDate()) {
        log("Not saving asset because local file is newer: %@ (Local: %@ Server: %@)", identifier(),
            localDate.formattedLocal(Date::Style::Short, Date::Style::Medium),
            serverDate.formattedLocal(Date::Style::Short, Date::Style::Medium));
        markDone();
        (void)qlt::setExtensionHidden(*destination, extensionHidden());  // a display flag
        return true;
      }
    }
  }

  FileAttributesToApply attributes{serverDate, dateCreated(), extensionHidden(), std::nullopt};
  if (UserDefaults::standard().boolForKey(kItemUpdateFinderTagsKey)) {
    std::vector<std::string> names;
    for (const ManagedObjectPtr& tag : objectsForKey("tags")) {
      Value tagName = tag->valueForKey("name");
      if (tagName.string()) names.push_back(*tagName.string());
    }
    if (!names.empty()) attributes.tagNames = std::move(names);
  }

  const CloudValue* archiveFlag = record.objectForKey(kItemCloudFileIsArchiveKey);
  bool isArchive = archiveFlag && ((archiveFlag->boolean() && *archiveFlag->boolean()) ||
                                   (archiveFlag->integer() && *archiveFlag->integer() != 0));
  FileCoordinator coordinator;
  Error writeError;
  bool written = false;
  bool coordinated = coordinator.coordinateReadingAndWriting(
      asset->filePath, FileCoordinator::kNoOptions, *destination,
      isArchive ? FileCoordinator::kNoOptions : FileCoordinator::kForReplacing,
      [&](const std::string& source, const std::string& target) {
        if (qlt::fileExists(target)) {
          Error versionError;
          if (!ItemFileVersions::ofSharedLibrary().addVersionOfItem(identifier(), target, &versionError))
            log(isArchive ? "Couldn't add version for file package updated via iCloud: %@"
                          : "Couldn't add version for file updated via iCloud: %@",
                versionError);
        }
        if (isArchive) {
          std::shared_ptr<ArchiveFile> archive = ArchiveFile::archiveFromFileAtURL(source, &writeError);
          written = archive && archive->writeToURL(target, &writeError);
        } else if (qlt::fileExists(target)) {
          written = replaceWithCopy(target, source, &writeError);
        } else {
          written = copyItem(source, target, &writeError);
        }
        if (written) applyAttributes(target, attributes);
      },
      &writeError);
  if (!coordinated || !written) {
    setError(error, writeError);
    return false;
  }

  markDone();
  Value metadataState = valueForKey("metadataState");
  if (metadataState.numberValue().value_or(0) == kMetadataStateFailed) setValueForKey("metadataState", 0);
  setValueForKey("indexingState", 0);
  auto code = [&](const char* key) { return static_cast<uint32_t>(valueForKey(key).numberValue().value_or(0)); };
  if (code("fileTypeCode") || code("fileCreatorCode")) {
    (void)setTypeCode(*destination, code("fileTypeCode"));  // legacy codes, kept where the file system allows
    (void)setCreatorCode(*destination, code("fileCreatorCode"));
  }
  (void)removeItem(asset->filePath);  // the downloaded copy, already applied
  return true;
}

}  // namespace qlt
