#include "formats/text_encoding.h"

#include "platform/foundation/property_list_unicode.h"
#include "platform/foundation/windows_1252.h"

namespace qlt {

namespace {

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
    appendUTF8(text, fromWindows1252(byte));
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
        int byte = windows1252Byte(unit);
        out += byte >= 0 ? static_cast<char>(byte) : '?';
      }
      return out;
  }
  return out;
}

}  // namespace qlt
