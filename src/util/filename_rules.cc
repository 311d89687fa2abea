#include "util/filename_rules.h"

#include "platform/foundation/property_list_unicode.h"

#include <unicode/uchar.h>

#include <algorithm>
#include <initializer_list>
#include <set>

#include "platform/files/file_attributes.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/foundation/format.h"
#include "platform/foundation/string_comparison.h"
#include "util/whitespace.h"

namespace qlt {

namespace {

constexpr size_t kGeneratedNameLimit = 128;
constexpr char32_t kObjectReplacementCharacter = 0xFFFC;
constexpr char32_t kEllipsis = 0x2026;

size_t utf16Units(char32_t c) { return c > 0xFFFF ? 2 : 1; }


bool isControl(char32_t c) {
  if (c == 0x200C || c == 0x200D || (c >= 0xE0020 && c <= 0xE007F)) return false;
  int8_t type = u_charType(static_cast<UChar32>(c));
  return type == U_CONTROL_CHAR || type == U_FORMAT_CHAR;
}
bool isTrimmedFromName(char32_t c) { return isWhitespaceOrNewline(c) || c == kEllipsis; }

// `text` with every code point passed through `map(c, out)`; the result is
// well-formed UTF-8.
template <typename Map>
std::string mapped(std::string_view text, Map map) {
  std::string out;
  out.reserve(text.size());
  for (size_t offset = 0; offset < text.size();) map(nextCodePoint(text, offset), out);
  return out;
}

enum class Measure { UTF16Units, Bytes };

size_t measure(std::string_view text, Measure measure) {
  return measure == Measure::UTF16Units ? utf16Length(text) : text.size();
}

// The longest prefix of `text` that ends between code points and measures
// at most `limit`.
std::string_view prefixWithin(std::string_view text, size_t limit, Measure measure) {
  size_t used = 0;
  size_t offset = 0;
  while (offset < text.size()) {
    size_t next = offset;
    char32_t c = nextCodePoint(text, next);
    size_t size = measure == Measure::UTF16Units ? utf16Units(c) : next - offset;
    if (used + size > limit) break;
    used += size;
    offset = next;
  }
  return text.substr(0, offset);
}

// `name` cut to the maximum length, keeping its extension when that leaves
// room for something before it; an extension too long for that is cut with
// the rest.
std::string shortened(const std::string& name, Measure by) {
  if (measure(name, by) <= kMaximumFilenameLength) return name;
  std::string extension = pathExtension(name);
  size_t extensionSize = measure(extension, by);
  if (!extension.empty() && extensionSize + 1 < kMaximumFilenameLength) {
    std::string base = deletingPathExtension(name);
    std::string_view kept = prefixWithin(base, kMaximumFilenameLength - 1 - extensionSize, by);
    if (!kept.empty()) return appendingPathExtension(kept, extension);
  }
  return std::string(prefixWithin(name, kMaximumFilenameLength, by));
}

}  // namespace

std::string stringSanitizedForFileName(std::string_view name) {
  // NUL cannot be part of a file name; it goes first, so that it cannot
  // hide a leading period from the steps below.
  std::string text = mapped(name, [](char32_t c, std::string& out) {
    if (c != 0) appendUTF8(out, c);
  });
  text = std::string(trimmingCodePoints(text, isTrimmedFromName));
  size_t periods = text.find_first_not_of('.');
  text.replace(0, std::min(periods, text.size()), std::min(periods, text.size()), '-');
  text = mapped(text, [](char32_t c, std::string& out) {
    if (c == '/' || c == ':' || c == '~' || c == '\t') {
      out += '-';
    } else if (!isNewline(c)) {
      appendUTF8(out, c);
    }
  });
  for (Measure by : {Measure::UTF16Units, Measure::Bytes}) {
    if (measure(text, by) > kMaximumFilenameLength) text = std::string(trimmingCodePoints(shortened(text, by), isTrimmedFromName));
  }
  return text;
}

namespace {

// The length of a list number ("12. ") at the start of `text`: one to three
// digits without a leading zero, a period and a space.
size_t listNumberLength(std::string_view text) {
  size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits == 0 || digits > 3 || text[0] == '0') return 0;
  return text.substr(digits).starts_with(". ") ? digits + 2 : 0;
}

// Where a name taken from the start of `text` ends: before the first
// character of `ends` within the first `limit` units, or else after whole
// words (runs up to whitespace or a character of `ends`), the last being the
// one that reaches `limit`.
template <typename Predicate>
std::string_view nameAtStart(std::string_view text, size_t limit, Predicate ends) {
  size_t units = 0;
  for (size_t offset = 0; offset < text.size() && units < limit;) {
    size_t start = offset;
    char32_t c = nextCodePoint(text, offset);
    if (ends(c)) return text.substr(0, start);
    units += utf16Units(c);
  }
  size_t position = 0;
  units = 0;
  while (units < limit && position < text.size()) {
    size_t offset = position;
    size_t scannedUnits = units;
    while (offset < text.size()) {
      size_t next = offset;
      char32_t c = nextCodePoint(text, next);
      if (!isWhitespaceOrNewline(c)) break;
      offset = next;
      scannedUnits += utf16Units(c);
    }
    size_t wordStart = offset;
    while (offset < text.size()) {
      size_t next = offset;
      char32_t c = nextCodePoint(text, next);
      if (isWhitespaceOrNewline(c) || ends(c)) break;
      offset = next;
      scannedUnits += utf16Units(c);
    }
    if (offset == wordStart) break;
    position = offset;
    units = scannedUnits;
  }
  return text.substr(0, position);
}

// "B n" with the extension appended again, B shortened as needed for the
// whole to fit the length limits.
std::string numberedVariant(std::string base, std::string extension, long number) {
  for (Measure by : {Measure::UTF16Units, Measure::Bytes}) {
    size_t size = measure(appendingPathExtension(formatString("%@ %ld", base, number), extension), by);
    if (size <= kMaximumFilenameLength) continue;
    size_t excess = size - kMaximumFilenameLength;
    size_t baseSize = measure(base, by);
    if (excess >= baseSize) {
      // The extension leaves no room: it is shortened with the rest.
      return numberedVariant(appendingPathExtension(base, extension), {}, number);
    }
    base = std::string(prefixWithin(base, baseSize - excess, by));
  }
  return appendingPathExtension(formatString("%@ %ld", base, number), extension);
}

}  // namespace

std::string generateFilenameTruncatingToPeriod(std::string_view text, bool truncateToPeriod) {
  std::string source = mapped(text, [](char32_t c, std::string& out) {
    if (c == '\t') {
      out += ' ';
    } else if (c != kObjectReplacementCharacter) {
      appendUTF8(out, c);
    }
  });
  auto ends = [truncateToPeriod](char32_t c) { return isNewline(c) || isControl(c) || (truncateToPeriod && c == '.'); };
  std::string_view rest = trimmingCodePoints(source, [&](char32_t c) { return isWhitespaceOrNewline(c) || ends(c); });

  if (size_t length = listNumberLength(rest)) {
    rest.remove_prefix(length);
  } else {
    for (std::string_view marker : {"\u2022 ", "\u2022\u00A0", "- ", "* ", "+ "}) {
      if (rest.starts_with(marker)) rest.remove_prefix(marker.size());
    }
  }

  size_t limit = std::min(utf16Length(rest), kGeneratedNameLimit);
  return stringSanitizedForFileName(trimmingCodePoints(nameAtStart(rest, limit, ends), isWhitespaceOrNewline));
}

std::string uniqueFilename(const std::string& name, const std::function<bool(const std::string&)>& isTaken) {
  std::string candidate = stringSanitizedForFileName(name);
  if (candidate.empty()) return candidate;
  // The given form counts as well, so that a name taken as given is not
  // handed back merely because sanitizing changed it.
  if (!isTaken(candidate) && (candidate == name || !isTaken(name))) return candidate;
  std::string base = deletingPathExtension(candidate);
  std::string extension = pathExtension(candidate);
  for (long number = 1;; ++number) {
    std::string variant = stringSanitizedForFileName(numberedVariant(base, extension, number));
    if (!isTaken(variant)) return variant;
  }
}

std::string makeFilenameUniqueInDirectory(const std::string& name, const std::string& directoryPath) {
  std::set<std::string> entries;
  if (auto names = contentsOfDirectory(directoryPath)) {
    for (const std::string& entry : *names) entries.insert(normalizeNFC(entry));
  }
  auto isTaken = [&](const std::string& candidate) {
    if (!isValidFilename(candidate)) return false;
    return entries.contains(normalizeNFC(candidate)) ||
           attributesOfItem(appendingPathComponent(directoryPath, candidate)).has_value();
  };
  if (isValidFilename(name) && !isTaken(name)) return name;
  return uniqueFilename(name, isTaken);
}

bool isEqualToFilename(std::string_view a, std::string_view b) {
  return compareStrings(a, b, CaseInsensitive | DiacriticInsensitive | WidthInsensitive) == 0;
}

}  // namespace qlt
