// Item: links that name it, and what it offers for sharing.
#include "formats/item_link.h"
#include "formats/note_file.h"
#include "formats/web_link_file.h"
#include "model/item.h"
#include "platform/defaults/user_defaults.h"
#include "platform/objectstore/managed_object_context.h"
#include "store/library_model_constants.h"

namespace qlt {

std::string Item::itemLinkURL() const { return qlt::itemLinkURL(identifier()); }

std::string Item::itemLinkFromItemWithIdentifier(const std::string& identifier) const {
  return URLWithFromItemIdentifier(itemLinkURL(), identifier);
}

std::shared_ptr<Item> Item::itemFromLinkURL(const std::string& url, ManagedObjectContext& context) {
  std::optional<std::string> identifier = linkedItemIdentifier(url);
  if (!identifier) return nullptr;
  return std::dynamic_pointer_cast<Item>(LibraryObject::libraryObject(context, kItemEntityName, *identifier));
}

std::vector<Item::SharingItem> Item::sharingItems() const {
  if (UserDefaults::standard().boolForKey(kItemSharingIncludeItemLinkKey))
    return {{SharingItem::Kind::Text, name()}, {SharingItem::Kind::URL, itemLinkURL()}};
  if (fileType() == kWebLinkFileType) {
    if (std::optional<std::string> source = sourceURL())
      return {{SharingItem::Kind::Text, name()}, {SharingItem::Kind::URL, *source}};
  }
  std::optional<std::string> path = fileURL();
  bool reachable = path && fileExists();
  if (fileType() == kNoteType) {
    if (!reachable) return {};
    std::unique_ptr<NoteFile> note = NoteFile::withFileURL(*path);
    if (!note) return {};
    return {{SharingItem::Kind::Text, note->noteTextSuitableForExport().string()}};
  }
  bool encrypted = !stringForKey("encryptedItemOriginalFileType").empty();
  if (encrypted || !reachable) return {};
  return {{SharingItem::Kind::File, *fileURLForSharingPicker()}};
}

}  // namespace qlt
