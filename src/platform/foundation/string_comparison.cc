#include "platform/foundation/string_comparison.h"

#include <unicode/coll.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>
#include <unicode/uversion.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <unordered_map>

namespace qlt {
namespace {

constexpr unsigned kFoldOptions = CaseInsensitive | DiacriticInsensitive | WidthInsensitive;

bool isASCII(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

int sign(int value) { return (value > 0) - (value < 0); }

int compareBytes(std::string_view a, std::string_view b) { return sign(a.compare(b)); }

icu::UnicodeString toUnicode(std::string_view text) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

std::string toUTF8(const icu::UnicodeString& text) {
  std::string out;
  text.toUTF8String(out);
  return out;
}

std::string normalize(std::string_view text, const icu::Normalizer2* normalizer) {
  if (isASCII(text)) return std::string(text);
  if (!normalizer) return toUTF8(toUnicode(text));
  UErrorCode status = U_ZERO_ERROR;
  icu::UnicodeString result = normalizer->normalize(toUnicode(text), status);
  return U_SUCCESS(status) ? toUTF8(result) : toUTF8(toUnicode(text));
}

const icu::Normalizer2* nfc() {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* instance = icu::Normalizer2::getNFCInstance(status);
  return U_SUCCESS(status) ? instance : nullptr;
}

const icu::Normalizer2* nfd() {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* instance = icu::Normalizer2::getNFDInstance(status);
  return U_SUCCESS(status) ? instance : nullptr;
}

// Replaces every character whose compatibility decomposition is tagged
// <wide> or <narrow> by that decomposition.
icu::UnicodeString foldWidth(const icu::UnicodeString& text) {
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* nfkd = icu::Normalizer2::getNFKDInstance(status);
  if (U_FAILURE(status)) return text;
  icu::UnicodeString out;
  icu::UnicodeString decomposition;
  for (int32_t i = 0; i < text.length();) {
    UChar32 c = text.char32At(i);
    i += U16_LENGTH(c);
    int type = u_getIntPropertyValue(c, UCHAR_DECOMPOSITION_TYPE);
    if ((type == U_DT_WIDE || type == U_DT_NARROW) && nfkd->getDecomposition(c, decomposition)) {
      out.append(decomposition);
    } else {
      out.append(c);
    }
  }
  return out;
}

icu::UnicodeString removeNonspacingMarks(const icu::UnicodeString& text) {
  icu::UnicodeString out;
  for (int32_t i = 0; i < text.length();) {
    UChar32 c = text.char32At(i);
    i += U16_LENGTH(c);
    if (u_charType(c) != U_NON_SPACING_MARK) out.append(c);
  }
  return out;
}

bool isDecimalDigit(UChar32 c) { return c >= 0 && u_charType(c) == U_DECIMAL_DIGIT_NUMBER; }

UChar32 decodeAt(std::string_view text, size_t& i) {
  UChar32 c;
  U8_NEXT(text.data(), i, text.size(), c);
  return c < 0 ? 0xFFFD : c;
}

// The digit values of the run starting at `i`, leading zeros dropped, as
// characters '0'...'9'; `i` ends after the run.
std::string readDigitRun(std::string_view text, size_t& i) {
  std::string digits;
  while (i < text.size()) {
    size_t next = i;
    UChar32 c = decodeAt(text, next);
    if (!isDecimalDigit(c)) break;
    int value = u_charDigitValue(c);
    if (!digits.empty() || value != 0) digits.push_back(static_cast<char>('0' + value));
    i = next;
  }
  return digits;
}

// Code point order, except that digit runs compare by value.
int compareWithNumbers(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    size_t nextI = i, nextJ = j;
    UChar32 ca = decodeAt(a, nextI);
    UChar32 cb = decodeAt(b, nextJ);
    if (isDecimalDigit(ca) && isDecimalDigit(cb)) {
      std::string runA = readDigitRun(a, i);
      std::string runB = readDigitRun(b, j);
      if (runA.size() != runB.size()) return runA.size() < runB.size() ? -1 : 1;
      if (int order = compareBytes(runA, runB)) return order;
      continue;
    }
    if (ca != cb) return ca < cb ? -1 : 1;
    i = nextI;
    j = nextJ;
  }
  return (i < a.size()) - (j < b.size());
}

// Collation locale from "de_DE.UTF-8@euro"-style POSIX names; empty for the
// root order.
std::string icuLocaleName(std::string_view name) {
  name = name.substr(0, name.find_first_of(".@"));
  if (name == "C" || name == "POSIX" || name == "root") return {};
  return std::string(name);
}

std::string currentCollationLocale() {
  for (const char* variable : {"LC_ALL", "LC_COLLATE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value && *value) return icuLocaleName(value);
  }
  return {};
}

std::unique_ptr<icu::Collator> makeCollator(const std::string& locale) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::Collator> collator(
      locale.empty() ? icu::Collator::createInstance(icu::Locale::getRoot(), status)
                     : icu::Collator::createInstance(icu::Locale::createCanonical(locale.c_str()), status));
  if (U_FAILURE(status)) return nullptr;
  return collator;
}

std::unique_ptr<icu::Collator> makeCollator(const std::string& locale, unsigned options) {
  std::unique_ptr<icu::Collator> collator = makeCollator(locale);
  if (!collator) return nullptr;
  UErrorCode status = U_ZERO_ERROR;
  bool ignoresCase = options & CaseInsensitive;
  bool ignoresDiacritics = options & DiacriticInsensitive;
  if (ignoresCase) {
    collator->setStrength(ignoresDiacritics ? icu::Collator::PRIMARY : icu::Collator::SECONDARY);
  } else if (ignoresDiacritics) {
    collator->setStrength(icu::Collator::PRIMARY);
    collator->setAttribute(UCOL_CASE_LEVEL, UCOL_ON, status);
  } else {
    collator->setStrength(icu::Collator::TERTIARY);
  }
  collator->setAttribute(UCOL_NUMERIC_COLLATION, (options & Numeric) ? UCOL_ON : UCOL_OFF, status);
  if (U_FAILURE(status)) return nullptr;
  return collator;
}

const icu::Collator* cachedCollator(const std::string& locale, unsigned options) {
  thread_local std::unordered_map<std::string, std::unique_ptr<icu::Collator>> collators;
  std::string key = icuLocaleName(locale);
  key.push_back('/');
  key.push_back(static_cast<char>('A' + (options & (kFoldOptions | Numeric))));
  auto found = collators.find(key);
  if (found == collators.end()) {
    found = collators.emplace(key, makeCollator(icuLocaleName(locale), options)).first;
  }
  return found->second.get();
}

int collate(const icu::Collator& collator, std::string_view a, std::string_view b) {
  UErrorCode status = U_ZERO_ERROR;
  UCollationResult result = collator.compareUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size())),
                                                 icu::StringPiece(b.data(), static_cast<int32_t>(b.size())), status);
  if (U_FAILURE(status)) return compareBytes(a, b);
  return result == UCOL_LESS ? -1 : result == UCOL_GREATER ? 1 : 0;
}

int compareLocalized(std::string_view a, std::string_view b, unsigned options, const std::string& locale) {
  const icu::Collator* collator = cachedCollator(locale, options);
  if (!collator) return compareBytes(foldString(a, options), foldString(b, options));
  // A collator that tells case apart also tells width apart; fold width
  // beforehand when only case is to be kept.
  if ((options & WidthInsensitive) && !(options & CaseInsensitive) && !(isASCII(a) && isASCII(b))) {
    return collate(*collator, foldString(a, WidthInsensitive), foldString(b, WidthInsensitive));
  }
  return collate(*collator, a, b);
}

char foldASCII(char c, bool ignoresCase) {
  return ignoresCase && c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

bool isASCIIOrEnd(std::string_view text, size_t i) {
  return i >= text.size() || static_cast<unsigned char>(text[i]) < 0x80;
}

// The order of the folded forms, when the first difference of the strings
// shows it. Folding keeps an ASCII character as it is (apart from case) and
// never joins it to what precedes it, so the strings fold alike up to the
// first difference; there, two ASCII characters decide, unless what follows
// them (a combining mark, say) may still change them.
std::optional<int> compareAtFirstDifference(std::string_view a, std::string_view b, bool ignoresCase) {
  size_t i = 0;
  while (i < a.size() && i < b.size() &&
         (a[i] == b[i] ||
          (isASCIIOrEnd(a, i) && isASCIIOrEnd(b, i) && foldASCII(a[i], ignoresCase) == foldASCII(b[i], ignoresCase)))) {
    ++i;
  }
  bool aEnded = i == a.size(), bEnded = i == b.size();
  if (aEnded && bEnded) return 0;
  if (!isASCIIOrEnd(a, i) || !isASCIIOrEnd(b, i)) return std::nullopt;
  if (aEnded) return -1;
  if (bEnded) return 1;
  if (!isASCIIOrEnd(a, i + 1) || !isASCIIOrEnd(b, i + 1)) return std::nullopt;
  return foldASCII(a[i], ignoresCase) < foldASCII(b[i], ignoresCase) ? -1 : 1;
}

int compareUnlocalized(std::string_view a, std::string_view b, unsigned options) {
  if (!(options & Numeric)) {
    if (std::optional<int> order = compareAtFirstDifference(a, b, options & CaseInsensitive)) return *order;
  }
  std::string foldedA = foldString(a, options);
  std::string foldedB = foldString(b, options);
  return (options & Numeric) ? compareWithNumbers(foldedA, foldedB) : compareBytes(foldedA, foldedB);
}

const icu::Collator* standardCollator() {
  static const std::unique_ptr<icu::Collator> collator = [] {
    std::unique_ptr<icu::Collator> made = makeCollator(currentCollationLocale(), Numeric);
    if (!made) made = makeCollator(std::string(), Numeric);
    return made;
  }();
  return collator.get();
}

}  // namespace

int compareStrings(std::string_view a, std::string_view b, unsigned options, const std::string& locale) {
  int order = locale.empty() ? compareUnlocalized(a, b, options) : compareLocalized(a, b, options, locale);
  if (order == 0 && (options & ForcedOrdering)) return compareBytes(a, b);
  return order;
}

std::string foldString(std::string_view text, unsigned options) {
  if (isASCII(text)) {
    std::string out(text);
    if (options & CaseInsensitive) {
      for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
      }
    }
    return out;
  }
  icu::UnicodeString unicode = toUnicode(text);
  if (options & WidthInsensitive) unicode = foldWidth(unicode);
  if (options & CaseInsensitive) unicode.foldCase();
  UErrorCode status = U_ZERO_ERROR;
  if (options & DiacriticInsensitive) {
    if (const icu::Normalizer2* decomposer = nfd()) unicode = decomposer->normalize(unicode, status);
    unicode = removeNonspacingMarks(unicode);
  }
  if (const icu::Normalizer2* composer = nfc(); composer && U_SUCCESS(status)) {
    unicode = composer->normalize(unicode, status);
  }
  return toUTF8(unicode);
}

std::string localizedStandardCollationVersion() {
  const icu::Collator* collator = standardCollator();
  if (!collator) return {};
  UVersionInfo version;
  collator->getVersion(version);
  char text[U_MAX_VERSION_STRING_LENGTH];
  u_versionToString(version, text);
  return text;
}

int localizedStandardCompare(std::string_view a, std::string_view b) {
  const icu::Collator* collator = standardCollator();
  int order = collator ? collate(*collator, a, b) : 0;
  return order != 0 ? order : compareBytes(a, b);
}

std::string normalizeNFC(std::string_view text) { return normalize(text, nfc()); }

std::string normalizeNFD(std::string_view text) { return normalize(text, nfd()); }

size_t utf16Length(std::string_view text) {
  size_t length = 0;
  for (size_t i = 0; i < text.size();) {
    UChar32 c;
    U8_NEXT(text.data(), i, text.size(), c);
    length += (c > 0xFFFF) ? 2 : 1;
  }
  return length;
}

}  // namespace qlt
