// Item: refreshing the stored metadata from the item's file.
#include <cerrno>

#include "model/finder_tags.h"
#include "model/folder.h"
#include "model/item.h"
#include "platform/files/file_attributes.h"
#include "platform/files/file_error.h"
#include "platform/files/file_flags.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/foundation/log.h"
#include "util/file_manager.h"

namespace qlt {
namespace {

void setIfChanged(ManagedObject& object, const char* key, const Value& value) {
  if (!object.valueForKey(key).isIdenticalTo(value)) object.setValueForKey(key, value);
}

// A flag that cannot be read counts as clear.
void clearImmutableFlagIfSet(const std::string& path) {
  if (isImmutable(path).value_or(false)) {
    Error error;
    if (!setImmutable(path, false, &error)) log("Couldn't unset user immutable flag: %@", error);
  }
}

}  // namespace

bool Item::updateMetadataFromFile(Error* error) {
  std::optional<std::string> path = fileURL();
  if (!path) {
    setError(error, fileReadError(ENOENT, filename()));
    return false;
  }
  std::optional<FileAttributes> attributes = attributesOfItem(*path, error);
  if (!attributes) return false;

  if (dateForKey("dateAccessed") != attributes->accessDate())
    setValueForKey("dateAccessed", attributes->accessDate());
  if (dateCreated() != attributes->creationDate()) setDateCreated(attributes->creationDate());
  if (dateModified() != attributes->modificationDate()) setDateModified(attributes->modificationDate());

  clearImmutableFlagIfSet(*path);

  std::shared_ptr<Folder> owner = folder();
  ManagedObjectPtr library = owner ? owner->library() : nullptr;
  if (library) updateItemTagDataFromFile(shared_from_this(), *path, library, isLocalRecord());

  if (qlt::fileExists(*path)) {
    std::string displayName = lastPathComponent(*path);
    if (attributes->extensionHidden) displayName = deletingPathExtension(displayName);
    setIfChanged(*this, "name", displayName);
    setIfChanged(*this, "extensionHidden", attributes->extensionHidden);
  }

  if (std::optional<uint64_t> size = sizeOfFile(*path)) setIfChanged(*this, "size", static_cast<int64_t>(*size));
  return true;
}

}  // namespace qlt
