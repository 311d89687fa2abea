#include "platform/foundation/localized_strings.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>
#include <mutex>

namespace qlt {

struct LocalizedStrings::State {
  mutable std::mutex mutex;
  std::string language;
  // language → table → key → text
  std::map<std::string, std::map<std::string, std::map<std::string, std::string>>> tables;
};

namespace {

std::string languageFromEnvironment() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (!value || !*value) continue;
    std::string text(value);
    if (text == "C" || text == "POSIX") return "en";
    size_t end = text.find_first_of("_.@");
    return text.substr(0, end);
  }
  return "en";
}

}  // namespace

LocalizedStrings::LocalizedStrings() : state_(new State) { state_->language = languageFromEnvironment(); }

LocalizedStrings& LocalizedStrings::shared() {
  // Never destroyed: lookups may run from threads still alive at exit.
  static auto& strings = *new LocalizedStrings;
  return strings;
}

void LocalizedStrings::addTable(const std::string& language, const std::string& table,
                                const std::map<std::string, std::string>& entries) {
  std::lock_guard lock(state_->mutex);
  auto& target = state_->tables[language][table];
  for (const auto& [key, text] : entries) target[key] = text;
}

bool LocalizedStrings::loadTableFile(const std::string& language, const std::string& table, const std::string& path,
                                     Error* error) {
  std::ifstream in(path);
  if (!in) {
    setError(error, posixError(errno, path));
    return false;
  }
  nlohmann::json json = nlohmann::json::parse(in, nullptr, false);
  if (json.is_discarded() || !json.is_object()) {
    Error failure(kCocoaErrorDomain, kCocoaFileReadCorruptFileError, "The strings file is not a JSON object.");
    failure.setUserInfoValue(kFilePathErrorKey, path);
    setError(error, failure);
    return false;
  }
  std::map<std::string, std::string> entries;
  for (auto it = json.begin(); it != json.end(); ++it)
    if (it.value().is_string()) entries[it.key()] = it.value().get<std::string>();
  addTable(language, table, entries);
  return true;
}

void LocalizedStrings::setLanguage(const std::string& language) {
  std::lock_guard lock(state_->mutex);
  state_->language = language;
}

std::string LocalizedStrings::language() const {
  std::lock_guard lock(state_->mutex);
  return state_->language;
}

std::string LocalizedStrings::lookup(const std::string& key, const std::string& table) const {
  std::lock_guard lock(state_->mutex);
  auto language = state_->tables.find(state_->language);
  if (language == state_->tables.end()) return key;
  auto found = language->second.find(table);
  if (found == language->second.end()) return key;
  auto entry = found->second.find(key);
  return entry == found->second.end() ? key : entry->second;
}

}  // namespace qlt
