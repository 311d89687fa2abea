#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qlt {

// Rejects overlong forms, surrogates and code points above U+10FFFF.
bool isValidUTF8(std::string_view text);
// Empty optional when `text` is not valid UTF-8.
[[nodiscard]] std::optional<std::u16string> utf16FromUTF8(std::string_view text);
// `point` must be a Unicode scalar value.
void appendUTF8(std::string& out, char32_t point);
// Unpaired surrogates become U+FFFD.
std::string utf8FromUTF16(std::u16string_view text);

}  // namespace qlt
