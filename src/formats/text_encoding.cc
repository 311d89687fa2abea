#include "formats/text_encoding.h"

#include "platform/foundation/property_list_unicode.h"

namespace qlt {

namespace {

constexpr char16_t kWindows1252High[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                           0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                           0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                           0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

std::optional<std::string> decodeUTF16(std::string_view bytes, bool bigEndian) {
  if (bytes.size() % 2) return std::nullopt;
  std::u16string units;
  for (size_t i = 0; i < bytes.size(); i += 2) {
    auto high = static_cast<unsigned char>(bytes[bigEndian ? i : i + 1]);
    auto low = static_cast<unsigned char>(bytes[bigEndian ? i + 1 : i]);
    units += static_cast<char16_t>(high << 8 | low);
  }
  return utf8FromUTF16(units);
}

}  // namespace

std::optional<DecodedText> decodeText(std::string_view bytes) {
  if (bytes.starts_with("\xFF\xFE"))
    if (auto text = decodeUTF16(bytes.substr(2), false)) return DecodedText{*text, StringEncoding::UTF16LittleEndian};
  if (bytes.starts_with("\xFE\xFF"))
    if (auto text = decodeUTF16(bytes.substr(2), true)) return DecodedText{*text, StringEncoding::UTF16BigEndian};
  if (bytes.find('\0') != std::string_view::npos) return std::nullopt;
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  if (isValidUTF8(bytes)) return DecodedText{std::string(bytes), StringEncoding::UTF8};
  std::string text;
  for (char c : bytes) {
    auto byte = static_cast<unsigned char>(c);
    appendUTF8(text, byte >= 0x80 && byte < 0xA0 ? kWindows1252High[byte - 0x80] : byte);
  }
  return DecodedText{std::move(text), StringEncoding::WindowsCP1252};
}

std::string encodeText(std::string_view utf8, StringEncoding encoding) {
  std::u16string units = utf16FromUTF8(utf8).value_or(std::u16string());
  std::string out;
  switch (encoding) {
    case StringEncoding::UTF8: return std::string(utf8);
    case StringEncoding::UTF16BigEndian:
    case StringEncoding::UTF16LittleEndian: {
      bool big = encoding == StringEncoding::UTF16BigEndian;
      out.push_back(static_cast<char>(big ? 0xFE : 0xFF));
      out.push_back(static_cast<char>(big ? 0xFF : 0xFE));
      for (char16_t unit : units) {
        char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
        out += big ? high : low;
        out += big ? low : high;
      }
      return out;
    }
    case StringEncoding::WindowsCP1252:
      for (char16_t unit : units) {
        if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
          out += static_cast<char>(unit);
          continue;
        }
        char replacement = '?';
        for (int i = 0; i < 32; ++i)
          if (kWindows1252High[i] == unit && unit != 0xFFFD) replacement = static_cast<char>(0x80 + i);
        out += replacement;
      }
      return out;
  }
  return out;
}

}  // namespace qlt
