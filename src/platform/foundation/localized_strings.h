#pragma once

#include <map>
#include <string>

#include "platform/foundation/error.h"
#include "platform/foundation/format.h"

namespace qlt {

// User-visible texts, looked up with the English text as key. Tables are
// added per language; the lookup uses the current language (from
// LC_ALL / LC_MESSAGES / LANG, "en" when none) and gives back the key
// itself when no table has it.
class LocalizedStrings {
 public:
  static LocalizedStrings& shared();

  // Adds or replaces the entries of `table` for `language` ("de", "fr"...).
  void addTable(const std::string& language, const std::string& table,
                const std::map<std::string, std::string>& entries);
  // Reads a JSON object of key → text from `path` into `table`.
  [[nodiscard]] bool loadTableFile(const std::string& language, const std::string& table, const std::string& path,
                     Error* error = nullptr);

  void setLanguage(const std::string& language);
  std::string language() const;

  std::string lookup(const std::string& key, const std::string& table = "Localizable") const;

 private:
  LocalizedStrings();
  struct State;
  State* state_;
};

inline std::string localizedString(const std::string& key) { return LocalizedStrings::shared().lookup(key); }

// Looks up `key` and formats the result with `args` ("%@ %ld").
template <typename... Args>
std::string localizedFormat(const std::string& key, const Args&... args) {
  return formatString(localizedString(key), args...);
}

}  // namespace qlt
