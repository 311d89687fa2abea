#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/property_list.h"
#include "platform/objectstore/managed_object.h"

namespace qlt {

// The Finder-tags extended attribute (kept in the "user." namespace).
inline constexpr const char* kMetadataUserTagsXAttrKey = "com.apple.metadata:_kMDItemUserTags";
// User defaults: tag names found on files become items' tags; and items'
// tags follow later changes of those names.
inline constexpr const char* kItemImportFinderTagsKey = "QLTItemImportFinderTags";
inline constexpr const char* kItemUpdateFinderTagsKey = "QLTItemUpdateFinderTags";

// The attribute's bytes; nullopt (ENODATA for a missing attribute) when
// there are none.
[[nodiscard]] std::optional<Bytes> finderTagsAttribute(const std::string& path, Error* error = nullptr);
[[nodiscard]] bool setFinderTagsAttribute(const std::string& path, const Bytes& data, Error* error = nullptr);
// Writes `names` as the file's tag names: a Finder tag list without
// colours. An empty list removes the attribute.
[[nodiscard]] bool setFinderTagNames(const std::string& path, const std::vector<std::string>& names, Error* error = nullptr);

// Brings an item's fileProviderTagData in line with the Finder tags of its
// file at `path`, creating missing tags and taking their colours from the
// file. The item's tags follow the file's names only when both Finder-tag
// defaults are on and the item is a local record. Returns whether anything
// changed; a file without the attribute or with unreadable tags changes
// nothing.
bool updateItemTagDataFromFile(const ManagedObjectPtr& item, const std::string& path, const ManagedObjectPtr& library,
                               bool itemIsLocalRecord);

}  // namespace qlt
