#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/property_list.h"

namespace qlt {

// Standard base 64 with padding, without line breaks.
std::string base64Encode(const Bytes& data);
// Accepts padded or unpadded text; nullopt for any other character.
[[nodiscard]] std::optional<Bytes> base64Decode(std::string_view text);

}  // namespace qlt
