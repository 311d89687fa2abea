#pragma once

#include <optional>
#include <set>
#include <string>

#include "model/item.h"
#include "platform/cloud/cloud_record.h"
#include "platform/foundation/error.h"

namespace qlt {

// The user's caches directory ($XDG_CACHE_HOME, else ~/.cache) plus
// "Cloud File Assets", created when missing; nullopt when it cannot be.
[[nodiscard]] std::optional<std::string> itemAssetsCacheFolder();

// The item's cloudRecord with its file attached.
CloudRecord cloudRecordWithFileAsset(Item& item);
// Attaches the item's own file.
bool addFileToCloudRecord(Item& item, CloudRecord& record);
// Attaches the file at `path` as kItemCloudFileAssetKey: packages and
// folders as an archive written to itemAssetsCacheFolder(), other files as
// they are; sets kItemCloudFileIsArchiveKey and the item's
// cloudFileUploadStatus to 1. False (logged) when the file is missing or
// cannot be archived.
bool addFileAtURL(Item& item, const std::string& path, CloudRecord& record);

// The library object's merge of a server-record-changed error; items then
// attach their file when the client record carried one and its
// "dateModified" is not earlier than the server's.
[[nodiscard]] std::optional<CloudRecord> mergeChangesForServerRecordChange(LibraryObject& object, const Error& error,
                                                             const std::set<std::string>& changedKeys);

}  // namespace qlt
