#include "model/folder.h"
#include "platform/files/file_attributes.h"
#include "platform/files/file_system.h"
#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/localized_strings.h"
#include "platform/foundation/uniform_type.h"
#include "store/library_model_constants.h"
#include "platform/objectstore/managed_object_context.h"
#include "platform/objectstore/predicate.h"
#include "util/file_manager.h"

namespace qlt {
namespace {

int64_t countOf(ManagedObjectContext* context, const std::string& entityName, const char* format,
                const ObjectID& folder) {
  if (!context) return 0;
  FetchRequest request(entityName);
  request.includesSubentities = true;
  request.predicate = Predicate::withFormat(format, {Value(folder)});
  return context->count(request).value_or(0);
}

std::optional<FileAttributes> directoryAttributes(const Folder& folder) {
  std::optional<std::string> path = folder.folderPath();
  if (!path) return std::nullopt;
  return attributesOfItem(*path);
}

}  // namespace

std::optional<Bytes> Folder::tagData() const {
  Value stored = valueForKey("fileProviderTagData");
  if (!stored.data()) return std::nullopt;
  return *stored.data();
}

FileProviderItemVersion Folder::itemVersion() const {
  std::optional<Date> changed = dateRecordChanged();
  Bytes version = archivedNumber(changed ? changed->timeIntervalSinceReferenceDate() : 0.0).value_or(Bytes{});
  return {version, version};
}

uint64_t Folder::capabilities() const {
  constexpr uint64_t kReadWrite = kFileProviderItemAllowsReading | kFileProviderItemAllowsWriting;
  if (!isShared())
    return kReadWrite | kFileProviderItemAllowsReparenting | kFileProviderItemAllowsRenaming |
           kFileProviderItemAllowsTrashing | kFileProviderItemAllowsDeleting;
  Ptr top = const_cast<Folder*>(this)->topLevelFolder();
  if (!top || top.get() == this) return kReadWrite;
  if (isLocalRecord()) return kReadWrite | kFileProviderItemAllowsReparenting | kFileProviderItemAllowsRenaming;
  return kReadWrite | kFileProviderItemAllowsRenaming;
}

std::string Folder::parentItemIdentifier() const {
  Ptr parent = parentFolder();
  return parent ? parent->fileProviderItemIdentifier() : std::string();
}

std::string Folder::contentType() const { return UniformType::folder().identifier(); }

std::string Folder::filename() const {
  if (isRootFolder()) return "Quillet";
  if (isTrashFolderItself()) return localizedString("Deleted Items");
  return name();
}

std::optional<uint64_t> Folder::childItemCount() const {
  ManagedObjectContext* context = managedObjectContext();
  int64_t folders = countOf(context, kFolderEntityName, "parent == %@", objectID());
  int64_t items = countOf(context, kItemEntityName, "folder == %@", objectID());
  return static_cast<uint64_t>(folders + items);
}

bool Folder::isUploaded() const {
  ManagedObjectPtr owner = library();
  if (!owner || !owner->valueForKey("storeInCloudDatabase").boolValue()) return true;
  return !cloudRecord().recordChangeTag().empty();
}

std::optional<Date> Folder::creationDate() const {
  std::optional<FileAttributes> attributes = directoryAttributes(*this);
  if (!attributes) return std::nullopt;
  return attributes->creationDate();
}

std::optional<Date> Folder::contentModificationDate() const {
  std::optional<FileAttributes> attributes = directoryAttributes(*this);
  if (!attributes) return std::nullopt;
  return attributes->modificationDate();
}

std::optional<Date> Folder::lastUsedDate() const {
  std::optional<FileAttributes> attributes = directoryAttributes(*this);
  if (!attributes) return std::nullopt;
  return attributes->accessDate();
}

std::map<std::string, Bytes> Folder::extendedAttributes() const {
  std::map<std::string, Bytes> attributes;
  std::string ownIdentifier = identifier();
  attributes[kLibraryObjectIdentifierXAttrName] = Bytes(ownIdentifier.begin(), ownIdentifier.end());
  if (std::optional<std::string> path = folderPath(); path && fileExists(*path)) {
    for (auto& [name, value] : qlt::extendedAttributes(*path))
      if (!name.empty()) attributes[name] = value;
  }
  if (!isLocalRecord()) attributes[kLibraryObjectIsRemoteShareXAttrName] = Bytes{'1'};
  return attributes;
}

}  // namespace qlt
