// Item: the common frame of the factories, and items made from files.
#include "model/item_creation_steps.h"

#include "formats/note_file.h"
#include "formats/web_link_file.h"
#include "model/folder.h"
#include "model/item.h"
#include "platform/files/content_type.h"
#include "platform/files/file_attributes.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/foundation/localized_strings.h"
#include "platform/foundation/log.h"
#include "platform/foundation/uniform_type.h"
#include "platform/objectstore/managed_object_context.h"
#include "store/library_model_constants.h"
#include "store/library.h"
#include "util/file_manager.h"
#include "util/filename_rules.h"

namespace qlt {
namespace {

constexpr const char* kCopyFailureText = "An unknown error occurred copying the file.";
constexpr const char* kCopyFailureLogFormat = "Error creating item by copying %@ to %@: %@";

// The extension a file imported as `type` gets when its own does not fit:
// "eml" for mail, else the type's own (none: nothing is added).
std::string addedExtensionForType(const std::string& source, const UniformType& type) {
  const UniformType* actual = UniformType::withIdentifier(contentTypeOfItem(source));
  if (!actual || actual->conformsTo(type)) return {};
  if (&type == &UniformType::emailMessage()) return "eml";
  return type.preferredFilenameExtension();
}

}  // namespace

namespace creation {

Error unknownCreationError(const char* text) {
  return Error(kItemErrorDomain, kItemUnknownCreationErrorCode, localizedString(text));
}

std::optional<Error> refusalOfSource(const std::string& path) {
  std::optional<FileAttributes> attributes = attributesOfItem(path);
  // A missing source is for the copy to report.
  if (!attributes) return std::nullopt;
  if (attributes->type == FileAttributes::Type::SymbolicLink)
    return Error(kItemErrorDomain, kItemCannotBeSymbolicLinkErrorCode,
                 localizedString("Symbolic links are not supported."));
  if (lastPathComponent(path).starts_with('.'))
    return Error(kItemErrorDomain, kItemCannotBeHiddenErrorCode, localizedString("Hidden files are not supported."));
  if (attributes->type == FileAttributes::Type::Other)
    return Error(kCocoaErrorDomain, kCocoaFileReadUnknownError,
                 localizedFormat("“%@” is neither a file nor a folder.", lastPathComponent(path)));
  return std::nullopt;
}

Item::Ptr insertItem(const std::shared_ptr<Library>& library, Error* error) {
  ManagedObjectContext* context = library ? library->managedObjectContext() : nullptr;
  if (!context) {
    setError(error, unknownCreationError("The library is not open."));
    return nullptr;
  }
  return std::dynamic_pointer_cast<Item>(context->insertNewObject(kItemEntityName, error));
}

std::shared_ptr<Folder> itemsFolder(const std::shared_ptr<Library>& library, const ManagedObjectPtr& group) {
  return std::dynamic_pointer_cast<Folder>(library->itemsFolderForGroup(group));
}

void discard(const Item::Ptr& item) {
  if (!item) return;
  // Cut loose first, so that the deletion cannot take a file at the place
  // the item would have had: whatever is there is not the item's.
  item->setObjectForKey("folder", nullptr);
  item->setValueForKey("filename", Value());
  if (ManagedObjectContext* context = item->managedObjectContext()) context->deleteObject(item);
}

void place(const Item::Ptr& item, const Folder& folder, const std::shared_ptr<Library>& library,
           const ManagedObjectPtr& group) {
  if (folder.isTrashFolder()) {
    item->setValueForKey("dateDeleted", Date::now());
  } else if (ManagedObjectPtr libraryGroup = library->objectForKey("libraryGroup")) {
    item->addGroupsObject(libraryGroup);
  }
  auto target = std::dynamic_pointer_cast<Group>(group);
  // A folder holds its items through their folder, already set.
  if (target && target->canAcceptNewItems() && !target->isFolder()) item->addGroupsObject(group);
}

void readAttributesFromFile(Item& item, const std::string& path, bool extensionAdded, const ManagedObjectPtr& library) {
  std::optional<FileAttributes> attributes = attributesOfItem(path);
  if (!attributes) return;
  std::string type = contentTypeOfItem(path);
  item.setFileType(type);
  item.setValueForKey("extensionHidden", attributes->extensionHidden || extensionAdded);
  item.setValueForKey("dateAccessed", attributes->accessDate());
  item.setDateCreated(attributes->creationDate());
  item.setDateModified(attributes->modificationDate());
  item.setValueForKey("kind", Item::kindStringForFileType(type));
  item.setSourceURL(Item::sourceURLFromFileAtURL(path));
  if (std::optional<uint64_t> size = sizeOfFile(path)) item.setValueForKey("size", static_cast<int64_t>(*size));
  applyFinderTagsFromFile(item, path, library);
}

}  // namespace creation

using namespace creation;

Item::Ptr Item::newItemWithFileURL(const std::string& path, const std::shared_ptr<Library>& library,
                                   const ManagedObjectPtr& group, Error* error) {
  return newItemWithFileURLOfType(path, nullptr, library, group, error);
}

Item::Ptr Item::newItemWithFileURLOfType(const std::string& path, const UniformType* type,
                                         const std::shared_ptr<Library>& library, const ManagedObjectPtr& group,
                                         Error* error) {
  if (path.empty()) {
    setError(error, Error(kItemCreationErrorDomain, kItemCreationNoFileErrorCode, localizedString("No file specified.")));
    return nullptr;
  }
  if (std::optional<Error> refusal = refusalOfSource(path)) {
    setError(error, *refusal);
    return nullptr;
  }
  const std::string source = standardizingPath(path);
  std::string baseName = stringSanitizedForFileName(lastPathComponent(source));
  bool extensionAdded = false;
  if (type && !pathExtension(baseName).empty()) {
    if (std::string extension = addedExtensionForType(source, *type); !extension.empty()) {
      baseName = stringSanitizedForFileName(baseName + "." + extension);
      extensionAdded = true;
    }
  }

  Item::Ptr item = insertItem(library, error);
  if (!item) return nullptr;
  std::shared_ptr<Folder> folder = itemsFolder(library, group);
  std::optional<std::string> directory = folder ? folder->folderPath() : std::nullopt;
  const bool alreadyInside = directory && isDescendant(source, *directory);
  item->setFilename(alreadyInside || !folder ? baseName : item->uniqueFilename(baseName, *folder));
  if (!folder || !item->canMoveToFolder(*folder, error)) {
    if (!folder) setError(error, unknownCreationError(kCopyFailureText));
    discard(item);
    return nullptr;
  }
  item->setObjectForKey("folder", folder);

  Error failure;
  if (!putFileInPlace(*item, source, &failure)) {
    log(kCopyFailureLogFormat, source, item->fileURL().value_or(std::string()), failure);
    setError(error, failure);
    discard(item);
    return nullptr;
  }
  readAttributesFromFile(*item, *item->fileURL(), extensionAdded, library);
  place(item, *folder, library, group);
  return item;
}

Item::Ptr Item::newItemWithFileURLItemFilename(const std::optional<std::string>& path, const std::string& itemFilename,
                                               const std::shared_ptr<Library>& library, const ManagedObjectPtr& group,
                                               Error* error) {
  if (path) {
    if (std::optional<Error> refusal = refusalOfSource(*path)) {
      setError(error, *refusal);
      return nullptr;
    }
  }
  std::shared_ptr<Folder> folder = library ? itemsFolder(library, group) : nullptr;
  if (folder && !itemFilename.empty()) {
    if (folder->itemWithFilename(itemFilename)) {
      setError(error, Error(kItemErrorDomain, kItemFileExistsErrorCode,
                            localizedFormat("An item named “%@” already exists in the same location.", itemFilename)));
      return nullptr;
    }
    if (folder->subfolderWithName(itemFilename)) {
      setError(error, Error(kItemErrorDomain, kItemFolderExistsErrorCode,
                            localizedFormat("A folder named “%@” exists in the same location.", itemFilename)));
      return nullptr;
    }
  }

  Item::Ptr item = insertItem(library, error);
  if (!item) return nullptr;
  std::string name = itemFilename;
  if (name.empty()) {
    if (!path) {
      setError(error, Error(kItemCreationErrorDomain, kItemCreationNoFilenameErrorCode));
      discard(item);
      return nullptr;
    }
    name = lastPathComponent(*path);
  }
  std::optional<std::string> directory = folder ? folder->folderPath() : std::nullopt;
  const bool alreadyInside = path && directory && isDescendant(standardizingPath(*path), *directory);
  item->setFilename(alreadyInside || !folder ? name : item->uniqueFilename(name, *folder));
  if (!folder || !item->canAddToGroup(*folder, error)) {
    if (!folder) setError(error, unknownCreationError(kCopyFailureText));
    discard(item);
    return nullptr;
  }
  item->setObjectForKey("folder", folder);

  if (!path) {
    if (folder->isTrashFolder()) item->setValueForKey("dateDeleted", Date::now());
    return item;
  }
  Error failure;
  if (!putFileInPlace(*item, *path, &failure)) {
    log(kCopyFailureLogFormat, *path, item->fileURL().value_or(std::string()), failure);
    setError(error, failure);
    discard(item);
    return nullptr;
  }
  readAttributesFromFile(*item, *item->fileURL(), false, library);
  place(item, *folder, library, group);
  return item;
}

Item::Ptr Item::newItemWithFileURLConvertToNoteIfNecessary(const std::string& path, bool convert,
                                                           const std::shared_ptr<Library>& library,
                                                           const ManagedObjectPtr& group, Error* error) {
  std::optional<std::string> note;
  if (convert && NoteFile::shouldConvertFileURL(path)) {
    Error failure;
    note = NoteFile::noteFileURLForTextFileAtURL(path, &failure);
    if (!note) log("Not converting %@: %@", path, failure);
  }
  Item::Ptr item = newItemWithFileURL(note ? *note : path, library, group, error);
  if (note) (void)removeItem(deletingLastPathComponent(*note));
  return item;
}

std::string Item::kindStringForFileType(const std::string& type) {
  if (type.empty()) return {};
  if (type == kNoteType) return localizedString("Note");
  if (type == kWebLinkFileType) return localizedString("Web Link");
  if (type == std::string(kProductIdentifierPrefix) + ".encrypt") return localizedString("Encrypted File");
  const UniformType* known = UniformType::withIdentifier(type);
  std::string description = known ? known->localizedDescription() : std::string();
  return description.empty() ? localizedString("Document") : description;
}

std::optional<std::string> Item::sourceURLFromFileAtURL(const std::string& path) {
  const UniformType* type = UniformType::withIdentifier(contentTypeOfItem(path));
  if (!type || !type->conformsTo(UniformType::webInternetLocation())) return std::nullopt;
  std::optional<WebLinkFile> file = WebLinkFile::withFileURL(path);
  if (!file || !file->URL()) return std::nullopt;
  return file->URL()->string();
}

}  // namespace qlt
