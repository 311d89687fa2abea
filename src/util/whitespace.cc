#include "util/whitespace.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace qlt {
char32_t nextCodePoint(std::string_view text, size_t& offset) {
  UChar32 c;
  U8_NEXT(text.data(), offset, text.size(), c);
  return c < 0 ? 0xFFFD : static_cast<char32_t>(c);
}

bool isWhitespaceOrNewline(char32_t c) { return u_isUWhiteSpace(static_cast<UChar32>(c)); }

bool isNewline(char32_t c) { return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029; }

std::string_view trimmingCodePoints(std::string_view text, const std::function<bool(char32_t)>& drop) {
  size_t begin = std::string_view::npos;
  size_t end = 0;
  for (size_t offset = 0; offset < text.size();) {
    size_t start = offset;
    if (drop(nextCodePoint(text, offset))) continue;
    if (begin == std::string_view::npos) begin = start;
    end = offset;
  }
  return begin == std::string_view::npos ? std::string_view() : text.substr(begin, end - begin);
}

std::string_view trimmingWhitespaceAndNewlines(std::string_view text) {
  return trimmingCodePoints(text, isWhitespaceOrNewline);
}

bool containsNewlineOrTab(std::string_view text) {
  for (size_t offset = 0; offset < text.size();) {
    char32_t c = nextCodePoint(text, offset);
    if (c == '\t' || isNewline(c)) return true;
  }
  return false;
}

std::string replacingNewlinesAndTabsWithSpaces(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t offset = 0; offset < text.size();) {
    size_t start = offset;
    char32_t c = nextCodePoint(text, offset);
    if (c == '\t' || isNewline(c)) {
      out += ' ';
    } else {
      out.append(text.substr(start, offset - start));
    }
  }
  return out;
}

}  // namespace qlt
