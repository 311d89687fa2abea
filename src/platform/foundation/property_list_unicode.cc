#include "platform/foundation/property_list_unicode.h"

#include <cstdint>

namespace qlt {

namespace {

// Decodes one code point at `at`, advancing it; -1 on malformed input.
int32_t decodeUTF8(std::string_view text, size_t& at) {
  auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  uint8_t lead = byte(at);
  if (lead < 0x80) {
    ++at;
    return lead;
  }
  int length;
  int32_t point;
  int32_t minimum;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, point = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, point = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, point = lead & 0x07, minimum = 0x10000;
  } else {
    return -1;
  }
  if (text.size() - at < static_cast<size_t>(length)) return -1;
  for (int i = 1; i < length; ++i) {
    uint8_t next = byte(at + i);
    if ((next & 0xC0) != 0x80) return -1;
    point = (point << 6) | (next & 0x3F);
  }
  if (point < minimum || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return -1;
  at += length;
  return point;
}

}  // namespace

void appendUTF8(std::string& out, char32_t point) {
  if (point < 0x80) {
    out += static_cast<char>(point);
  } else if (point < 0x800) {
    out += static_cast<char>(0xC0 | (point >> 6));
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else if (point < 0x10000) {
    out += static_cast<char>(0xE0 | (point >> 12));
    out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (point >> 18));
    out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  }
}

bool isValidUTF8(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    if (decodeUTF8(text, at) < 0) return false;
  }
  return true;
}

std::optional<std::u16string> utf16FromUTF8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    int32_t point = decodeUTF8(text, at);
    if (point < 0) return std::nullopt;
    if (point >= 0x10000) {
      point -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (point >> 10));
      out += static_cast<char16_t>(0xDC00 + (point & 0x3FF));
    } else {
      out += static_cast<char16_t>(point);
    }
  }
  return out;
}

std::string utf8FromUTF16(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      appendUTF8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      appendUTF8(out, 0xFFFD);
    } else {
      appendUTF8(out, unit);
    }
  }
  return out;
}

}  // namespace qlt
