#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "formats/editable_text_file.h"

namespace qlt {

struct DecodedText {
  std::string text;  // UTF-8
  StringEncoding encoding;
};

// Recognizes UTF-16 by its byte-order mark and UTF-8 by its validity, and
// otherwise reads Windows-1252; bytes with NUL characters outside UTF-16 are
// not text. A UTF-8 byte-order mark is dropped.
[[nodiscard]] std::optional<DecodedText> decodeText(std::string_view bytes);
// Characters the encoding lacks become "?". UTF-16 gets its byte-order mark.
std::string encodeText(std::string_view utf8, StringEncoding encoding);

}  // namespace qlt
