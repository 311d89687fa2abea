#include <cmath>

#include "model/cloud_share.h"
#include "model/finder_tags.h"
#include "model/folder.h"
#include "model/item.h"
#include "platform/files/file_attributes.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/log.h"
#include "platform/foundation/uniform_type.h"
#include "store/path_component.h"
#include "util/file_manager.h"
#include "util/file_snapshot.h"

namespace qlt {
namespace {

constexpr int64_t kUploading = 1;
constexpr int64_t kUploaded = 2;
constexpr int64_t kDownloaded = 1;

int64_t integerValue(const ManagedObject& object, const char* key) {
  return static_cast<int64_t>(object.valueForKey(key).numberValue().value_or(0));
}

Bytes versionBytes(const std::optional<Date>& date) {
  return archivedNumber(date ? date->timeIntervalSinceReferenceDate() : 0.0).value_or(Bytes{});
}

}  // namespace

std::shared_ptr<Folder> Item::folder() const {
  ManagedObjectPtr folder = objectForKey("folder");
  return folder ? folder->as<Folder>() : nullptr;
}

std::optional<RecordSystemFields> Item::cloudShare() const { return decodedCloudShare(*this); }

bool Item::isLocalRecord() const { return isItemLocalRecord(*this); }

bool Item::isShared() const {
  if (cloudShare()) return true;
  std::shared_ptr<Folder> owner = folder();
  return owner && owner->isShared();
}

bool Item::libraryStoresInCloudDatabase() const {
  std::shared_ptr<Folder> owner = folder();
  ManagedObjectPtr library = owner ? owner->library() : nullptr;
  return library && library->valueForKey("storeInCloudDatabase").boolValue();
}

std::optional<std::string> Item::fileURL(Error* error) const {
  std::string file = filename();
  if (!checkPathComponent(file, error)) return std::nullopt;
  std::shared_ptr<Folder> owner = folder();
  if (!owner) return std::nullopt;
  if (cloudShare() && !isLocalRecord()) {
    ManagedObjectPtr library = owner->library();
    ManagedObjectPtr sharedFolder = library ? library->objectForKey("sharedFolder") : nullptr;
    std::optional<std::string> sharedPath = sharedFolder ? sharedFolder->as<Folder>()->folderPath() : std::nullopt;
    if (!sharedPath) return std::nullopt;
    std::optional<std::string> directory = appendingCheckedPathComponent(*sharedPath, identifier(), error);
    if (!directory) return std::nullopt;
    Error failure;
    if (!qlt::fileExists(*directory) && !createDirectory(*directory, true, &failure))
      log("Cannot create shared folder: %@", failure);
    return appendingPathComponent(*directory, file);
  }
  std::optional<std::string> directory = owner->folderPath(error);
  if (!directory) return std::nullopt;
  return appendingPathComponent(*directory, file);
}

bool Item::fileExists() const {
  std::optional<std::string> path = fileURL();
  return path && qlt::fileExists(*path);
}

Item::FileState Item::fileState() const {
  FileState file;
  file.path = fileURL();
  if (file.path) file.snapshot = snapshotOfFile(*file.path);
  return file;
}

std::string Item::fileProviderItemIdentifier() const {
  return fileProviderIdentifierForEntity(entity().name(), identifier(), fileProviderIdentifierVersion());
}

std::string Item::parentItemIdentifier() const {
  std::shared_ptr<Folder> owner = folder();
  return owner ? owner->fileProviderItemIdentifier() : std::string();
}

uint64_t Item::capabilities() const {
  constexpr uint64_t kAll = kFileProviderItemAllowsReading | kFileProviderItemAllowsWriting |
                            kFileProviderItemAllowsReparenting | kFileProviderItemAllowsRenaming |
                            kFileProviderItemAllowsTrashing | kFileProviderItemAllowsDeleting;
  if (!libraryStoresInCloudDatabase()) return kAll;
  if (!isLocalRecord()) {
    std::shared_ptr<Folder> owner = folder();
    Folder::Ptr top = owner ? owner->topLevelFolder() : nullptr;
    if (top && top->isShared())
      return kFileProviderItemAllowsReading | kFileProviderItemAllowsWriting | kFileProviderItemAllowsRenaming |
             kFileProviderItemAllowsDeleting | kFileProviderItemAllowsEvicting;
  }
  if (isFavorite()) return kAll;
  return kAll | kFileProviderItemAllowsEvicting;
}

std::string Item::contentType() const {
  // A missing fileType is worked out here but not stored: descriptors are
  // made in read-only contexts, where a change would only weigh on every
  // later fetch.
  if (const UniformType* known = UniformType::withIdentifier(fileType())) return known->identifier();
  if (const UniformType* byExtension = UniformType::withFilenameExtension(pathExtension(filename())))
    return byExtension->identifier();
  return UniformType::data().identifier();
}

std::optional<uint64_t> Item::documentSize() const {
  std::optional<double> size = valueForKey("size").numberValue();
  if (!size || *size < 0) return std::nullopt;
  return static_cast<uint64_t>(*size);
}

std::optional<Bytes> Item::tagData(const FileState& file) const {
  if (std::optional<Bytes> fromFile = file.snapshot.extendedAttribute(kMetadataUserTagsXAttrKey)) return fromFile;
  Value stored = valueForKey("fileProviderTagData");
  if (!stored.data()) return std::nullopt;
  return *stored.data();
}

FileProviderItemVersion Item::itemVersion() const {
  return {versionBytes(dateModified()), versionBytes(dateRecordChanged())};
}

std::map<std::string, Bytes> Item::extendedAttributes(const FileState& file) const {
  std::map<std::string, Bytes> attributes = file.snapshot.extendedAttributes;
  std::string ownIdentifier = identifier();
  attributes.emplace(kLibraryObjectIdentifierXAttrName, Bytes(ownIdentifier.begin(), ownIdentifier.end()));
  if (!isLocalRecord()) attributes[kLibraryObjectIsRemoteShareXAttrName] = Bytes{'1'};
  return attributes;
}

bool Item::isUploaded() const {
  return !libraryStoresInCloudDatabase() || integerValue(*this, "cloudFileUploadStatus") == kUploaded;
}

bool Item::isUploading() const {
  return libraryStoresInCloudDatabase() && integerValue(*this, "cloudFileUploadStatus") == kUploading;
}

bool Item::isDownloaded(const FileState& file) const {
  if (!libraryStoresInCloudDatabase()) return file.snapshot.exists;
  return integerValue(*this, "cloudFileDownloadStatus") == kDownloaded;
}

bool Item::isDownloading() const {
  if (!libraryStoresInCloudDatabase()) return false;
  int64_t status = integerValue(*this, "cloudFileDownloadStatus");
  return status == 3 || status == 4;
}

bool Item::isMostRecentVersionDownloaded(const FileState& file) const {
  std::optional<Date> modified = dateModified();
  if (!file.snapshot.exists || !modified) return false;
  return std::fabs(Date::fromTimespec(file.snapshot.modificationTime).timeIntervalSinceReferenceDate() -
                   modified->timeIntervalSinceReferenceDate()) < 1e-6;
}

}  // namespace qlt
