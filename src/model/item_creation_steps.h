#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "model/item.h"
#include "platform/foundation/error.h"

namespace qlt {

class Folder;
class Library;

// The steps every item factory shares. Internal to the model.
namespace creation {

// kItemUnknownCreationErrorCode with the factory's text.
Error unknownCreationError(const char* text);
// Why the library will not take what is at `path`: a symbolic link, a hidden
// file, or something that is neither a file nor a directory. Nothing for a
// missing file (the copy reports that).
std::optional<Error> refusalOfSource(const std::string& path);

Item::Ptr insertItem(const std::shared_ptr<Library>& library, Error* error);
std::shared_ptr<Folder> itemsFolder(const std::shared_ptr<Library>& library, const ManagedObjectPtr& group);
// Deletes a new item from its context without touching any file.
void discard(const Item::Ptr& item);
// A new item outside the trash joins the library group (one in the trash is
// dated deleted instead), and `group` when that group takes new items.
void place(const Item::Ptr& item, const Folder& folder, const std::shared_ptr<Library>& library,
           const ManagedObjectPtr& group);
// Type, kind, hidden extension, dates, source URL, size and (when the
// defaults say so) tags, from the file at `path`. A file that cannot be read
// leaves the item as it is.
void readAttributesFromFile(Item& item, const std::string& path, bool extensionAdded, const ManagedObjectPtr& library);
// The Finder tag names on the file become the item's tags (created when
// missing) when the import default is on.
void applyFinderTagsFromFile(Item& item, const std::string& path, const ManagedObjectPtr& library);

// Puts a copy of `source` at the item's place (its folder's directory and
// filename): the copy is made in the import folder and renamed into place,
// so the library never shows half a file. A stray file already at the
// place goes to the user's trash first. Nothing to do when `source` is the
// item's place. On failure nothing of the copy is left.
[[nodiscard]] bool putFileInPlace(Item& item, const std::string& source, Error* error);
// The same for a file that `write` makes at the path it is given.
using FileWriter = std::function<bool(const std::string& path, Error* error)>;
[[nodiscard]] bool writeFileInPlace(Item& item, const FileWriter& write, Error* error);

}  // namespace creation
}  // namespace qlt
