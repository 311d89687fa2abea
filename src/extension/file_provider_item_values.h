#pragma once

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/cloud/cloud_record_id.h"
#include "platform/foundation/error.h"
#include "platform/foundation/property_list.h"

namespace qlt {

class Item;
class Library;

// Values of the service's requests applied to library items.

// Tag data from the service made the item's library tags: the tags named in
// `data` (created when missing; those never uploaded are added to
// `insertedTagRecordIDs`) replace the item's tags and take the label
// colours the data gives them. Only when kItemImportFinderTagsKey is on.
// REQUIRES: inside the item's context.
void setItemTagsFromFileProviderTagData(Item& item, const Bytes& data, const std::shared_ptr<Library>& library,
                                        std::set<RecordID>& insertedTagRecordIDs);

// Why a name from the service cannot be one file name, if it cannot:
// ENAMETOOLONG over 255 bytes, else the invalid-name error.
[[nodiscard]] std::optional<Error> filenameRefusal(const std::string& name);

// Writes one of the service's extended attributes to the file at `path`.
// One the file system cannot hold (too large, or no attributes there at
// all) is left out, as a copy to such a disk leaves it out; other failures
// are Cocoa file errors.
[[nodiscard]] bool storeServiceAttribute(const std::string& path, const std::string& key, const Bytes& value,
                                         Error* error = nullptr);

// The service's extended attributes on an item: the Finder comment (a
// property list) becomes its comments, every other attribute is written to
// the file at `path` (when there is one); false at the first that fails.
[[nodiscard]] bool applyExtendedAttributesToItem(Item& item, const std::map<std::string, Bytes>& attributes,
                                                 const std::optional<std::string>& path, Error* error = nullptr);
// HFS type (low 32 bits) and creator codes, on the file and the item.
[[nodiscard]] bool applyTypeAndCreatorToItem(Item& item, uint64_t codes, const std::optional<std::string>& path,
                                             Error* error = nullptr);

}  // namespace qlt
