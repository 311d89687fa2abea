#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qlt {

// Options of compareStrings and foldString, combined as a bitmask.
enum CompareOptions : unsigned {
  CaseInsensitive = 1,
  DiacriticInsensitive = 2,
  // Full-width and half-width forms compare equal to their ordinary forms.
  WidthInsensitive = 4,
  // Runs of decimal digits compare by their numeric value: "a2" < "a10".
  Numeric = 8,
  // Strings that would otherwise compare equal are ordered by their bytes,
  // so 0 is returned only for identical strings.
  ForcedOrdering = 16,
};

// Compares UTF-8 strings and returns -1, 0 or 1.
//
// With an empty `locale` the comparison is not localized: both strings are
// folded as foldString(options) does and ordered by code point, so that
// (without Numeric or ForcedOrdering) it returns 0 exactly when the folded
// forms are equal. Canonically equivalent strings (precomposed or decomposed
// accents) are always equal.
//
// With a locale ("de", "sv_SE") the strings are collated by that locale's
// rules at the strength the options allow; "root" gives the language-neutral
// order.
//
// Ill-formed UTF-8 is read as U+FFFD.
int compareStrings(std::string_view a, std::string_view b, unsigned options, const std::string& locale = "");

// The canonical form of `text` under the case, diacritic and width options
// (others are ignored): NFC, case-folded, marks stripped, full-width and
// half-width forms mapped to their ordinary forms. Substring, prefix and
// pattern matching on folded forms agree with compareStrings.
std::string foldString(std::string_view text, unsigned options);

// The order the file manager shows names in: collated by the current locale
// (LC_ALL, LC_COLLATE or LANG; the root order when none is set), letters
// before their case and width variants only as a tie-break, digit runs by
// numeric value ("File 2" < "File 10"). The order is total: only identical
// strings return 0. Safe to call from any thread.
int localizedStandardCompare(std::string_view a, std::string_view b);
// Changes whenever the order localizedStandardCompare gives may change
// (a new collation version); indexes built on it must then be rebuilt.
std::string localizedStandardCollationVersion();

std::string normalizeNFC(std::string_view text);
std::string normalizeNFD(std::string_view text);

// The number of UTF-16 code units of `text`; each ill-formed sequence counts
// as one (a U+FFFD).
size_t utf16Length(std::string_view text);

}  // namespace qlt
