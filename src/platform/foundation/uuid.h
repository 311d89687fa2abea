#pragma once

#include <string>
#include <string_view>

namespace qlt {

// A new random (version 4) UUID as upper-case canonical text:
// 8-4-4-4-12 hexadecimal digits with hyphens, 36 characters.
std::string newUUIDString();

// Whether `text` is a UUID in canonical text form (either letter case).
bool isUUIDString(std::string_view text);

}  // namespace qlt
