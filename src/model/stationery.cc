#include "model/stationery.h"

#include "model/item.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "formats/archive_file.h"
#include "formats/editable_text_file.h"
#include "platform/dispatch/notification_center.h"
#include "platform/files/file_coordinator.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/foundation/localized_strings.h"
#include "platform/foundation/log.h"
#include "platform/foundation/string_comparison.h"
#include "platform/foundation/uniform_type.h"
#include "platform/objectstore/managed_object_context.h"
#include "store/library.h"
#include "store/library_manager.h"
#include "store/library_model_constants.h"
#include "util/file_manager.h"
#include "util/filename_rules.h"

namespace qlt {
namespace {

std::string cachesDirectory() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache && *cache) return cache;
  const char* home = std::getenv("HOME");
  return appendingPathComponent(home && *home ? home : "/tmp", ".cache");
}

std::string newItemName(const std::string& what) { return localizedFormat("New %@", what); }

}  // namespace

std::shared_ptr<Stationery> Stationery::stationeryWithIdentifier(ManagedObjectContext& context,
                                                                 const std::string& identifier) {
  return std::dynamic_pointer_cast<Stationery>(LibraryObject::libraryObject(context, kStationeryEntityName, identifier));
}

std::vector<std::shared_ptr<Stationery>> Stationery::activeStationery(ManagedObjectContext& context) {
  std::vector<std::shared_ptr<Stationery>> active;
  for (const ManagedObjectPtr& object : context.fetch(FetchRequest(kStationeryEntityName)).value_or(std::vector<ManagedObjectPtr>{}))
    if (auto stationery = std::dynamic_pointer_cast<Stationery>(object); stationery && stationery->active())
      active.push_back(stationery);
  return active;
}

std::string Stationery::stringForKey(const char* key) const {
  Value stored = valueForKey(key);
  return stored.string() ? *stored.string() : std::string();
}

std::string Stationery::name() const { return stringForKey("name"); }
std::string Stationery::filename() const { return stringForKey("filename"); }
bool Stationery::active() const { return valueForKey("active").boolValue(); }
bool Stationery::builtIn() const { return valueForKey("builtIn").boolValue(); }
bool Stationery::extensionHidden() const { return valueForKey("extensionHidden").boolValue(); }

std::optional<std::string> Stationery::fileURLWithPathExtension(const std::string& extension) const {
  std::shared_ptr<LibraryManager> manager = LibraryManager::sharedManager();
  if (!manager || !isValidFilename(identifier())) return std::nullopt;
  std::string file = extension.empty() ? identifier() : appendingPathExtension(identifier(), extension);
  return appendingPathComponent(manager->libraryStationeryFolderPath(), file);
}

std::optional<std::string> Stationery::fileURL() const {
  if (filename().empty()) return std::nullopt;
  return fileURLWithPathExtension(pathExtension(filename()));
}

std::optional<std::string> Stationery::fileType() const {
  std::optional<std::string> path = fileURL();
  bool directory = false;
  if (!path || !fileExists(*path, &directory)) return std::nullopt;
  if (const UniformType* type = UniformType::withFilenameExtension(pathExtension(*path))) return type->identifier();
  return directory ? UniformType::folder().identifier() : UniformType::data().identifier();
}

std::string Stationery::kind() const {
  std::optional<std::string> type = fileType();
  return type ? Item::kindStringForFileType(*type) : localizedString("Document");
}

bool Stationery::isEditableText() const {
  std::optional<std::string> type = fileType();
  return type && EditableTextFile::canOpenFileOfType(*type);
}

bool Stationery::isDefault() const { return objectForKey("defaultItemLibrary") != nullptr; }

std::string Stationery::nameForNewItem() const { return newItemName(name()); }
std::string Stationery::nameForNewItemOfFileType() const { return newItemName(kind()); }
std::string Stationery::filenameForNewItem() const { return newItemName(filename()); }

bool Stationery::canChangeName(const std::string& name, Error* error) const {
  std::string candidate = name;
  std::string extension = pathExtension(filename());
  if (extensionHidden() && !extension.empty()) candidate += "." + extension;
  candidate = stringSanitizedForFileName(candidate);
  ManagedObjectContext* context = managedObjectContext();
  if (!context) return true;
  for (const ManagedObjectPtr& object : context->fetch(FetchRequest(kStationeryEntityName)).value_or(std::vector<ManagedObjectPtr>{})) {
    auto other = std::dynamic_pointer_cast<Stationery>(object);
    if (!other || other.get() == this || compareStrings(other->filename(), candidate, CaseInsensitive) != 0) continue;
    setError(error, Error(kStationeryErrorDomain, kStationeryItemWithNameExistsErrorCode,
                          localizedString("A stationery item with that name already exists.")));
    return false;
  }
  return true;
}

bool Stationery::changeName(const std::string& name, Error*) {
  if (name.empty() || name == this->name()) return true;
  bool hidden = extensionHidden();
  std::string candidate = name;
  std::string current = pathExtension(filename());
  std::string typed = pathExtension(name);
  if (!hidden) {
    if (typed.empty() && !current.empty()) {
      candidate = name + "." + current;
      hidden = true;
    }
  } else if (!current.empty() && typed != current) {
    candidate = name + "." + current;
  }
  std::string sanitized = stringSanitizedForFileName(candidate);
  setValueForKey("name", hidden ? deletingPathExtension(sanitized) : sanitized);
  setValueForKey("filename", sanitized);
  setValueForKey("extensionHidden", hidden);
  return true;
}

void Stationery::setExtensionHidden(bool hidden) {
  if (extensionHidden() == hidden) return;
  setValueForKey("extensionHidden", hidden);
  setValueForKey("name", hidden ? deletingPathExtension(filename()) : filename());
}

void Stationery::setActive(bool value) {
  if (active() == value) return;
  if (!value) {
    auto library = std::dynamic_pointer_cast<Library>(objectForKey("library"));
    if (library && library->objectForKey("defaultStationery").get() == this) library->setDefaultStationery(nullptr);
  }
  setValueForKey("active", value);
  ManagedObjectContext* context = managedObjectContext();
  if (context && context->concurrencyType() == ManagedObjectContext::ConcurrencyType::MainQueue)
    NotificationCenter::defaultCenter().post(kStationeryActiveStateDidChangeNotification, this);
}

void Stationery::prepareForDeletion() {
  LibraryObject::prepareForDeletion();
  std::optional<std::string> path = fileURL();
  if (!path || !fileExists(*path)) return;
  std::string visible = appendingPathComponent(deletingLastPathComponent(*path), filename());
  std::string toTrash = *path;
  if (isValidFilename(filename()) && !fileExists(visible) && moveItem(*path, visible)) toTrash = visible;
  Error ignored;
  (void)trashItem(toTrash, &ignored);
}

void Stationery::updateRecordWithCurrentValues(CloudRecord& record) const {
  LibraryObject::updateRecordWithCurrentValues(record);
  addFileToCloudRecord(record);
}

void Stationery::addFileToCloudRecord(CloudRecord& record) const {
  std::optional<std::string> path = fileURL();
  bool directory = false;
  if (!path || !fileExists(*path, &directory)) return;
  if (!directory) {
    record.setObjectForKey(kStationeryCloudFileAssetKey, CloudAsset{*path});
    record.setObjectForKey(kStationeryCloudFileAssetIsArchiveKey, false);
    return;
  }
  std::string folder = appendingPathComponent(appendingPathComponent(cachesDirectory(), "Stationery Assets"), identifier());
  std::string archivePath = appendingPathComponent(folder, lastPathComponent(*path));
  Error error;
  std::shared_ptr<ArchiveFile> archive = ArchiveFile::withURL(*path, &error);
  bool written = archive && createDirectory(folder, true, &error) &&
                 (!fileExists(archivePath) || removeItem(archivePath, &error)) &&
                 archive->writeArchiveToURL(archivePath, &error);
  if (written) {
    record.setObjectForKey(kStationeryCloudFileAssetKey, CloudAsset{archivePath});
  } else {
    log("Error creating archive for stationery: %@", error);
    record.removeObjectForKey(kStationeryCloudFileAssetKey);
  }
  record.setObjectForKey(kStationeryCloudFileAssetIsArchiveKey, true);
}

void Stationery::updateFromCloudRecord(const CloudRecord& record) {
  LibraryObject::updateFromCloudRecord(record);
  const CloudValue* value = record.objectForKey(kStationeryCloudFileAssetKey);
  const CloudAsset* asset = value ? value->asset() : nullptr;
  std::optional<std::string> destination = fileURL();
  if (!asset || !destination) return;
  const CloudValue* flag = record.objectForKey(kStationeryCloudFileAssetIsArchiveKey);
  bool isArchive = flag && flag->boolean() && *flag->boolean();
  FileCoordinator coordinator;
  bool ran = false, copied = false;
  Error accessorError, coordinatorError;
  bool coordinated = coordinator.coordinateReadingAndWriting(
      asset->filePath, FileCoordinator::kNoOptions, *destination, FileCoordinator::kNoOptions,
      [&](const std::string& source, const std::string& target) {
        ran = true;
        if (isArchive) {
          std::shared_ptr<ArchiveFile> archive = ArchiveFile::archiveFromFileAtURL(source, &accessorError);
          copied = archive && (!fileExists(target) || removeItem(target, &accessorError)) &&
                   archive->writeToURL(target, &accessorError);
        } else {
          copied = (!fileExists(target) || removeItem(target, &accessorError)) && copyItem(source, target, &accessorError);
        }
      },
      &coordinatorError);
  if (!coordinated || !copied) log("Error copying stationery asset: %@", ran ? accessorError : coordinatorError);
}

}  // namespace qlt
