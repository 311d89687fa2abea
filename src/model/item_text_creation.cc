// Item: notes, web links and text files made from text.
#include "formats/editable_text_file.h"
#include "formats/note_file.h"
#include "formats/url_components.h"
#include "formats/web_link_file.h"
#include "model/folder.h"
#include "model/item_creation_steps.h"
#include "platform/files/file_attributes.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/foundation/localized_strings.h"
#include "platform/foundation/log.h"
#include "platform/foundation/uniform_type.h"
#include "richtext/attachment_conversions.h"
#include "richtext/note_text_style.h"
#include "store/library.h"
#include "util/file_manager.h"
#include "util/filename_rules.h"

namespace qlt {

using namespace creation;

namespace {

// Inserts an item named `filename` (made unique) into the items folder of
// `group`, after the folder agreed to take it.
Item::Ptr insertNamedItem(const std::string& filename, const std::shared_ptr<Library>& library,
                          const ManagedObjectPtr& group, std::shared_ptr<Folder>& folder, Error* error) {
  folder = library ? itemsFolder(library, group) : nullptr;
  Item::Ptr item = insertItem(library, error);
  if (!item) return nullptr;
  if (!folder) {
    setError(error, unknownCreationError("The library has no folder for new items."));
    discard(item);
    return nullptr;
  }
  item->setFilename(item->uniqueFilename(filename, *folder));
  if (item->filename().empty() || !item->canAddToGroup(*folder, error)) {
    if (item->filename().empty())
      setError(error, Error(kItemErrorDomain, kItemInvalidFilenameErrorCode, localizedString("No filename provided.")));
    discard(item);
    return nullptr;
  }
  item->setObjectForKey("folder", folder);
  return item;
}

// Writes the new item's file; on failure logs, deletes the item and hands
// back the writer's error (or the factory's own text when there is none).
bool writeNewFile(const Item::Ptr& item, const FileWriter& write, const char* failureText, const char* logFormat,
                  Error* error) {
  Error failure(kItemErrorDomain, 0);
  if (writeFileInPlace(*item, write, &failure)) {
    if (std::optional<std::string> path = item->fileURL())
      if (std::optional<uint64_t> size = sizeOfFile(*path)) item->setValueForKey("size", static_cast<int64_t>(*size));
    return true;
  }
  if (failure.code() == 0 && failure.domain() == kItemErrorDomain) failure = unknownCreationError(failureText);
  log(logFormat, failure);
  setError(error, failure);
  discard(item);
  return false;
}

}  // namespace

Item::Ptr Item::newNoteItemInLibrary(const std::shared_ptr<Library>& library, const ManagedObjectPtr& group,
                                     Error* error) {
  std::shared_ptr<Folder> folder;
  Item::Ptr item = insertNamedItem(NoteFile::newNoteFileName(), library, group, folder, error);
  if (!item) return nullptr;
  item->setFileType(kNoteType);
  auto write = [](const std::string& path, Error* failure) { return NoteFile().saveToFileURL(path, failure); };
  if (!writeNewFile(item, write, "An unknown error occurred saving the note.", "Error creating note: %@", error))
    return nullptr;
  item->setExtensionHidden(true);
  item->setValueForKey("kind", kindStringForFileType(kNoteType));
  place(item, *folder, library, group);
  return item;
}

Item::Ptr Item::newWebLinkItemWithURL(const URLComponents& url, const std::string& name,
                                      const std::shared_ptr<Library>& library, const ManagedObjectPtr& group,
                                      Error* error) {
  std::string filename;
  if (name.empty()) {
    filename = WebLinkFile::suggestedNameForURL(url);
  } else {
    filename = pathExtension(name) == kWebLinkFileExtension ? name : name + "." + kWebLinkFileExtension;
  }
  std::shared_ptr<Folder> folder;
  Item::Ptr item = insertNamedItem(stringSanitizedForFileName(filename), library, group, folder, error);
  if (!item) return nullptr;
  item->setFileType(kWebLinkFileType);
  item->setSourceURL(url.string());

  WebLinkFile file;
  file.setURL(url);
  file.setRenameOnFirstLoad(name.empty());
  auto write = [&file](const std::string& path, Error* failure) {
    bool written = file.writeToURL(path, failure);
    (void)qlt::setExtensionHidden(path, true);
    return written;
  };
  if (!writeNewFile(item, write, "An unknown error occurred saving the web link file.", "Error creating web link: %@",
                    error))
    return nullptr;
  item->setValueForKey("extensionHidden", true);
  item->setValueForKey("kind", kindStringForFileType(kWebLinkFileType));
  place(item, *folder, library, group);
  return item;
}

Item::Ptr Item::newNoteItemFromString(const std::string& text, const std::shared_ptr<Library>& library,
                                      const ManagedObjectPtr& group, Error* error) {
  return newNoteItemFromAttributedString(
      AttributedString::fromUTF8(text, NoteTextStyle::bodyNoteTextStyle().attributes()), library, group, error);
}

Item::Ptr Item::newNoteItemFromAttributedString(const AttributedString& text, const std::shared_ptr<Library>& library,
                                                const ManagedObjectPtr& group, Error* error) {
  std::string name = generateFilename(text.string());
  if (name.empty()) name = NoteFile::newNoteName();
  std::optional<std::string> directory = createTemporaryDirectory(error);
  if (!directory) return nullptr;
  AttributedString noteText = text;
  convertTextListsToChecklistAttachments(noteText);
  NoteFile note;
  note.setNoteText(std::move(noteText));
  const std::string path = appendingPathComponent(*directory, appendingPathExtension(name, kNoteFileExtension));
  Item::Ptr item;
  if (note.saveToFileURL(path, error)) {
    (void)qlt::setExtensionHidden(path, true);
    item = newItemWithFileURL(path, library, group, error);
  }
  (void)removeItem(*directory);
  return item;
}

Item::Ptr Item::newItemWithType(const std::string& type, const std::string& text,
                                const std::shared_ptr<Library>& library, const ManagedObjectPtr& group, Error* error) {
  const UniformType* declared = UniformType::withIdentifier(type);
  if (declared && declared->conformsTo(UniformType::note())) return newNoteItemFromString(text, library, group, error);
  std::unique_ptr<EditableTextFile> file;
  if (declared && (declared->conformsTo(UniformType::rtf()) || declared->conformsTo(UniformType::rtfd())))
    file = EditableTextFile::richTextFileWithString(text);
  else if (declared && declared->conformsTo(UniformType::plainText()))
    file = EditableTextFile::plainTextFileWithString(text);
  if (!file) return nullptr;

  std::string name = generateFilename(text);
  if (name.empty()) name = localizedString("Untitled");
  std::shared_ptr<Folder> folder;
  Item::Ptr item =
      insertNamedItem(appendingPathExtension(name, declared->preferredFilenameExtension()), library, group, folder, error);
  if (!item) return nullptr;
  item->setFileType(type);
  auto write = [&file](const std::string& path, Error* failure) { return file->writeToURL(path, failure); };
  if (!writeNewFile(item, write, "An unknown error occurred saving the text file.", "Error creating text file: %@",
                    error))
    return nullptr;
  item->setValueForKey("kind", kindStringForFileType(type));
  auto target = std::dynamic_pointer_cast<Group>(group);
  if (target && !target->isFolder()) item->addGroupsObject(group);
  if (!folder->isTrashFolder())
    if (ManagedObjectPtr libraryGroup = library->objectForKey("libraryGroup")) item->addGroupsObject(libraryGroup);
  return item;
}

}  // namespace qlt
