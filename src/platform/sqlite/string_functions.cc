#include "platform/sqlite/string_functions.h"

#include <sqlite3.h>

#include <memory>
#include <new>
#include <string_view>

#include "platform/foundation/regular_expression.h"
#include "platform/foundation/string_comparison.h"
#include "platform/foundation/string_matching.h"
#include "platform/sqlite/sqlite_error.h"

namespace qlt {
namespace {

std::string_view textOf(sqlite3_value* value) {
  const unsigned char* text = sqlite3_value_text(value);
  if (!text) return {};
  return {reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_value_bytes(value))};
}

bool anyNull(int count, sqlite3_value** values) {
  for (int i = 0; i < count; ++i) {
    if (sqlite3_value_type(values[i]) == SQLITE_NULL) return true;
  }
  return false;
}

// The options argument, when given, comes last after `fixed` arguments.
unsigned optionsOf(int argc, sqlite3_value** argv, int fixed = 2) {
  return argc > fixed ? static_cast<unsigned>(sqlite3_value_int64(argv[fixed])) : 0;
}

template <int (*compare)(std::string_view, std::string_view)>
int collation(void*, int lengthA, const void* a, int lengthB, const void* b) {
  return compare({static_cast<const char*>(a), static_cast<size_t>(lengthA)},
                 {static_cast<const char*>(b), static_cast<size_t>(lengthB)});
}

int compareIgnoringCase(std::string_view a, std::string_view b) { return compareStrings(a, b, CaseInsensitive); }

int compareIgnoringCaseAndDiacritics(std::string_view a, std::string_view b) {
  return compareStrings(a, b, CaseInsensitive | DiacriticInsensitive | WidthInsensitive);
}

// Out-of-memory is the one exception the helpers can raise; SQLite must not
// see it unwind through its frames.
template <void (*body)(sqlite3_context*, int, sqlite3_value**)>
void guarded(sqlite3_context* context, int argc, sqlite3_value** argv) {
  try {
    body(context, argc, argv);
  } catch (const std::bad_alloc&) {
    sqlite3_result_error_nomem(context);
  }
}

void fold(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return sqlite3_result_null(context);
  std::string folded = foldString(textOf(argv[0]), optionsOf(argc, argv, 1));
  sqlite3_result_text64(context, folded.data(), folded.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

template <bool (*test)(std::string_view, std::string_view, unsigned)>
void needleTest(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (anyNull(2, argv)) return sqlite3_result_int(context, 0);
  sqlite3_result_int(context, test(textOf(argv[0]), textOf(argv[1]), optionsOf(argc, argv)));
}

template <typename Compiled>
void deleteCompiled(void* compiled) {
  delete static_cast<Compiled*>(compiled);
}

// The compiled pattern of argument 0, kept with the statement while the
// pattern stays the same.
template <typename Compiled>
Compiled* cachedPattern(sqlite3_context* context, std::string_view pattern, unsigned options) {
  auto cached = static_cast<Compiled*>(sqlite3_get_auxdata(context, 0));
  if (cached && cached->pattern() == pattern && cached->options() == options) return cached;
  return nullptr;
}

// SQLite may destroy the data as soon as it is handed over, so this comes last.
template <typename Compiled>
void keepPattern(sqlite3_context* context, std::unique_ptr<Compiled> compiled) {
  sqlite3_set_auxdata(context, 0, compiled.release(), deleteCompiled<Compiled>);
}

void like(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (anyNull(2, argv)) return sqlite3_result_int(context, 0);
  std::string_view pattern = textOf(argv[0]);
  unsigned options = optionsOf(argc, argv);
  if (LikePattern* cached = cachedPattern<LikePattern>(context, pattern, options)) {
    return sqlite3_result_int(context, cached->matches(textOf(argv[1])));
  }
  auto compiled = std::make_unique<LikePattern>(pattern, options);
  sqlite3_result_int(context, compiled->matches(textOf(argv[1])));
  keepPattern(context, std::move(compiled));
}

void matches(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (anyNull(2, argv)) return sqlite3_result_int(context, 0);
  std::string_view pattern = textOf(argv[0]);
  unsigned options = optionsOf(argc, argv);
  if (RegularExpression* cached = cachedPattern<RegularExpression>(context, pattern, options)) {
    return sqlite3_result_int(context, cached->matchesWhole(textOf(argv[1])));
  }
  Error error;
  std::unique_ptr<RegularExpression> compiled = RegularExpression::make(pattern, options, &error);
  if (!compiled) {
    std::string message = error.localizedDescription();
    return sqlite3_result_error(context, message.c_str(), static_cast<int>(message.size()));
  }
  sqlite3_result_int(context, compiled->matchesWhole(textOf(argv[1])));
  keepPattern(context, std::move(compiled));
}

struct Function {
  const char* name;
  void (*body)(sqlite3_context*, int, sqlite3_value**);
  int fixedArguments;
};

}  // namespace

bool registerStringFunctions(sqlite3* db, Error* error) {
  struct Collation {
    const char* name;
    int (*compare)(void*, int, const void*, int, const void*);
  };
  const Collation collations[] = {
      {"QLT_LOCALIZED_STANDARD", collation<localizedStandardCompare>},
      {"QLT_NOCASE", collation<compareIgnoringCase>},
      {"QLT_NOCASE_DIACRITIC", collation<compareIgnoringCaseAndDiacritics>},
  };
  for (const Collation& entry : collations) {
    int resultCode = sqlite3_create_collation_v2(db, entry.name, SQLITE_UTF8, nullptr, entry.compare, nullptr);
    if (resultCode != SQLITE_OK) {
      setError(error, sqliteError(db, resultCode));
      return false;
    }
  }

  const Function functions[] = {
      {"qlt_fold", guarded<fold>, 1},
      {"qlt_like", guarded<like>, 2},
      {"qlt_matches", guarded<matches>, 2},
      {"qlt_beginswith", guarded<needleTest<stringHasPrefix>>, 2},
      {"qlt_endswith", guarded<needleTest<stringHasSuffix>>, 2},
      {"qlt_contains", guarded<needleTest<stringContains>>, 2},
  };
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
  for (const Function& function : functions) {
    // With and without the trailing options argument.
    for (int arguments : {function.fixedArguments, function.fixedArguments + 1}) {
      int resultCode = sqlite3_create_function_v2(db, function.name, arguments, flags, nullptr, function.body, nullptr,
                                                  nullptr, nullptr);
      if (resultCode != SQLITE_OK) {
        setError(error, sqliteError(db, resultCode));
        return false;
      }
    }
  }
  return true;
}

}  // namespace qlt
