#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>

#include "platform/cloud/cloud_record.h"
#include "platform/foundation/error.h"

namespace qlt {

// The stored form of a record's fields and parent in the cloud stores (the
// embedded one and PostgreSQL): a binary property list. Asset paths are
// stored as they are.
[[nodiscard]] std::optional<Bytes> encodeCloudRecordBody(const std::map<std::string, CloudValue>& fields,
                                           const std::optional<CloudReference>& parent, Error* error = nullptr);
[[nodiscard]] bool decodeCloudRecordBody(const Bytes& body, std::map<std::string, CloudValue>& fields,
                           std::optional<CloudReference>& parent, Error* error = nullptr);

// The record of `system` with the fields and parent of a stored body, no
// keys marked changed.
[[nodiscard]] std::optional<CloudRecord> decodeStoredCloudRecord(const RecordSystemFields& system, const Bytes& body,
                                                                 Error* error = nullptr);
// Points every asset of `record` at no file (zone changes carry no files).
void clearCloudAssetPaths(CloudRecord& record);

// Calls `visit` for every asset of `value`, list elements included; stops
// at the first call that returns false and returns false then.
bool forEachCloudAsset(CloudValue& value, const std::function<bool(CloudAsset&)>& visit);

}  // namespace qlt
