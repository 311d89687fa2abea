#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>

#include "platform/cloud/cloud_record.h"
#include "platform/foundation/error.h"

namespace qlt {

// The stored form of a record's fields and parent in the embedded cloud
// store: a binary property list. Asset paths are stored as they are.
[[nodiscard]] std::optional<Bytes> encodeCloudRecordBody(const std::map<std::string, CloudValue>& fields,
                                           const std::optional<CloudReference>& parent, Error* error = nullptr);
[[nodiscard]] bool decodeCloudRecordBody(const Bytes& body, std::map<std::string, CloudValue>& fields,
                           std::optional<CloudReference>& parent, Error* error = nullptr);

// Calls `visit` for every asset of `value`, list elements included; stops
// at the first call that returns false and returns false then.
bool forEachCloudAsset(CloudValue& value, const std::function<bool(CloudAsset&)>& visit);

}  // namespace qlt
