#include "platform/foundation/string_matching.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "platform/foundation/string_comparison.h"

namespace qlt {
namespace {

bool isMarkAt(std::string_view text, size_t pos) {
  if (pos >= text.size() || static_cast<unsigned char>(text[pos]) < 0x80) return false;
  UChar32 c;
  U8_NEXT(text.data(), pos, text.size(), c);
  return c >= 0 && (U_GET_GC_MASK(c) & U_GC_M_MASK);
}

// The end of the character (code point plus trailing marks) starting at `pos`.
size_t characterEnd(std::string_view text, size_t pos) {
  UChar32 c;
  U8_NEXT(text.data(), pos, text.size(), c);
  while (isMarkAt(text, pos)) U8_FWD_1(text.data(), pos, text.size());
  return pos;
}

}  // namespace

bool stringHasPrefix(std::string_view text, std::string_view prefix, unsigned options) {
  std::string needle = foldString(prefix, options);
  std::string folded = foldString(text, options);
  return !needle.empty() && folded.starts_with(needle) && !isMarkAt(folded, needle.size());
}

bool stringHasSuffix(std::string_view text, std::string_view suffix, unsigned options) {
  std::string needle = foldString(suffix, options);
  return !needle.empty() && foldString(text, options).ends_with(needle);
}

bool stringContains(std::string_view text, std::string_view needle, unsigned options) {
  std::string foldedNeedle = foldString(needle, options);
  if (foldedNeedle.empty()) return false;
  std::string folded = foldString(text, options);
  for (size_t pos = folded.find(foldedNeedle); pos != std::string::npos; pos = folded.find(foldedNeedle, pos + 1)) {
    if (!isMarkAt(folded, pos + foldedNeedle.size())) return true;
  }
  return false;
}

LikePattern::LikePattern(std::string_view pattern, unsigned options) : pattern_(pattern), options_(options) {
  std::string literal;
  auto flushLiteral = [&] {
    if (literal.empty()) return;
    std::string folded = foldString(literal, options);
    for (size_t pos = 0; pos < folded.size();) {
      size_t end = characterEnd(folded, pos);
      items_.push_back({Kind::Character, literals_.size() + pos, end - pos});
      pos = end;
    }
    literals_ += folded;
    literal.clear();
  };
  for (size_t i = 0; i < pattern.size(); ++i) {
    char c = pattern[i];
    if (c == '\\' && i + 1 < pattern.size()) {
      literal.push_back(pattern[++i]);
    } else if (c == '*' || c == '?') {
      flushLiteral();
      // Adjacent runs match what one run matches.
      if (c == '?' || items_.empty() || items_.back().kind != Kind::AnyRun) {
        items_.push_back({c == '*' ? Kind::AnyRun : Kind::AnyCharacter});
      }
    } else {
      literal.push_back(c);
    }
  }
  flushLiteral();
}

bool LikePattern::matches(std::string_view input) const {
  std::string text = foldString(input, options_);
  std::string_view literals(literals_);
  size_t textPos = 0, item = 0;
  // Where the last `*` was seen, to retry with one more character consumed.
  size_t runItem = std::string::npos, runTextPos = 0;
  while (textPos < text.size()) {
    if (item < items_.size()) {
      const Item& current = items_[item];
      if (current.kind == Kind::AnyRun) {
        runItem = item++;
        runTextPos = textPos;
        continue;
      }
      size_t end = characterEnd(text, textPos);
      if (current.kind == Kind::AnyCharacter ||
          std::string_view(text).substr(textPos, end - textPos) == literals.substr(current.offset, current.length)) {
        textPos = end;
        ++item;
        continue;
      }
    }
    if (runItem == std::string::npos) return false;
    item = runItem + 1;
    runTextPos = characterEnd(text, runTextPos);
    textPos = runTextPos;
  }
  while (item < items_.size() && items_[item].kind == Kind::AnyRun) ++item;
  return item == items_.size();
}

}  // namespace qlt
