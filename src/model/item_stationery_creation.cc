// Item: items made from stationery, alone or with text appended.
#include "formats/editable_text_file.h"
#include "model/folder.h"
#include "model/item_creation_steps.h"
#include "model/stationery.h"
#include "platform/defaults/user_defaults.h"
#include "platform/files/file_attributes.h"
#include "platform/files/file_coordinator.h"
#include "platform/files/file_flags.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/foundation/log.h"
#include "platform/text/attributed_string.h"
#include "store/library.h"
#include "util/file_manager.h"
#include "util/filename_rules.h"

namespace qlt {

using namespace creation;

namespace {

// Takes back an item whose file the factory had already put in place.
void discardWithFile(const Item::Ptr& item) {
  if (std::optional<std::string> path = item->fileURL(); path && attributesOfItem(*path)) (void)removeItem(*path);
  discard(item);
}

// Renames a new item after the text it was given, unless the defaults say
// stationery keeps its own names.
void renameAfterText(Item& item, const Stationery& stationery, const std::string& text) {
  if (UserDefaults::standard().integerForKey(kAutoRenameStationeryKey) >= 2) return;
  std::string name = generateFilename(text);
  if (name.empty()) name = stationery.nameForNewItem();
  const std::string extension = pathExtension(stationery.filename());
  if (!extension.empty()) name = appendingPathExtension(name, extension);
  std::shared_ptr<Folder> folder = item.folder();
  if (folder) name = item.uniqueFilename(name, *folder);
  if (item.extensionHidden()) name = deletingPathExtension(name);
  if (name.empty() || name == item.name()) return;
  Error error;
  if (item.canChangeName(name, &error) && !item.changeName(name, &error))
    log("Couldn't rename text file when saving: %@", error);
}

template <class Append>
Item::Ptr newItemWithStationeryAndText(const std::shared_ptr<Stationery>& stationery, const std::string& plainText,
                                       const Append& append, const std::shared_ptr<Library>& library,
                                       const ManagedObjectPtr& group, Error* error) {
  Item::Ptr item = Item::newItemWithStationery(stationery, library, group, error);
  if (!item) return nullptr;
  std::optional<std::string> path = item->fileURL();
  std::unique_ptr<EditableTextFile> file = path ? EditableTextFile::withURL(*path, error) : nullptr;
  if (!file) {
    discardWithFile(item);
    return nullptr;
  }
  append(*file);
  Error failure;
  bool written = false;
  FileCoordinator coordinator;
  bool ran = coordinator.coordinateWriting(
      *path, FileCoordinator::kNoOptions,
      [&](const std::string& target) { written = file->writeToURL(target, &failure); }, &failure);
  if (!ran || !written) {
    setError(error, failure);
    discardWithFile(item);
    return nullptr;
  }
  if (std::optional<uint64_t> size = sizeOfFile(*path)) item->setValueForKey("size", static_cast<int64_t>(*size));
  renameAfterText(*item, *stationery, plainText);
  return item;
}

}  // namespace

Item::Ptr Item::newItemWithStationery(const std::shared_ptr<Stationery>& stationery,
                                      const std::shared_ptr<Library>& library, const ManagedObjectPtr& group,
                                      Error* error) {
  std::optional<std::string> source = stationery ? stationery->fileURL() : std::nullopt;
  std::shared_ptr<Folder> folder = library ? itemsFolder(library, group) : nullptr;
  Item::Ptr item = insertItem(library, error);
  if (!item) return nullptr;
  if (!folder || !source) {
    setError(error, unknownCreationError("An unknown error occurred copying the stationery file."));
    discard(item);
    return nullptr;
  }
  item->setFilename(item->uniqueFilename(stationery->filenameForNewItem(), *folder));
  if (item->filename().empty() || !item->canAddToGroup(*folder, error)) {
    discard(item);
    return nullptr;
  }
  item->setObjectForKey("stationery", stationery);
  if (std::optional<std::string> type = stationery->fileType()) item->setFileType(*type);
  item->setObjectForKey("folder", folder);

  auto copy = [&](const std::string& destination, Error* failure) {
    if (!copyItem(*source, destination, failure)) return false;
    const struct timespec now = Date::now().toTimespec();
    (void)setCreationTime(destination, now);
    (void)setModificationTime(destination, now);
    (void)setImmutable(destination, false);
    return true;
  };
  Error failure(kItemErrorDomain, 0);
  if (!writeFileInPlace(*item, copy, &failure)) {
    if (failure.code() == 0 && failure.domain() == kItemErrorDomain)
      failure = unknownCreationError("An unknown error occurred copying the stationery file.");
    log("Error creating item from stationery: %@", failure);
    setError(error, failure);
    discard(item);
    return nullptr;
  }
  item->setValueForKey("extensionHidden", stationery->extensionHidden());
  item->setValueForKey("kind", kindStringForFileType(item->fileType()));
  if (std::optional<uint64_t> size = sizeOfFile(*item->fileURL())) item->setValueForKey("size", static_cast<int64_t>(*size));
  place(item, *folder, library, group);
  return item;
}

Item::Ptr Item::newItemWithStationery(const std::shared_ptr<Stationery>& stationery, const std::string& text,
                                      const std::shared_ptr<Library>& library, const ManagedObjectPtr& group,
                                      Error* error) {
  return newItemWithStationeryAndText(
      stationery, text, [&](EditableTextFile& file) { file.appendString(text); }, library, group, error);
}

Item::Ptr Item::newItemWithStationery(const std::shared_ptr<Stationery>& stationery, const AttributedString& text,
                                      const std::shared_ptr<Library>& library, const ManagedObjectPtr& group,
                                      Error* error) {
  return newItemWithStationeryAndText(
      stationery, text.string(), [&](EditableTextFile& file) { file.appendAttributedString(text); }, library, group,
      error);
}

}  // namespace qlt
