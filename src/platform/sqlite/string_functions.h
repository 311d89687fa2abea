#pragma once

#include "platform/foundation/error.h"

struct sqlite3;

namespace qlt {

// Registers on `db` what predicates and sort descriptors compile to:
//
// Collations
//   QLT_LOCALIZED_STANDARD  localizedStandardCompare
//   QLT_NOCASE              compareStrings(CaseInsensitive)
//   QLT_NOCASE_DIACRITIC    compareStrings(CaseInsensitive | DiacriticInsensitive | WidthInsensitive)
//
// Functions (`options` are CompareOptions and may be left out)
//   qlt_fold(text, options)                  foldString; NULL for NULL
//   qlt_like(pattern, text, options)         LikePattern: `*` and `?` wildcards
//   qlt_matches(regex, text, options)        whole-text ICU regular expression;
//                                            an invalid expression is an error
//   qlt_beginswith(text, needle, options)
//   qlt_endswith(text, needle, options)
//   qlt_contains(text, needle, options)
// The predicate functions give 0 or 1, and 0 when text or needle is NULL.
[[nodiscard]] bool registerStringFunctions(sqlite3* db, Error* error = nullptr);

}  // namespace qlt
