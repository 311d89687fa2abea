#include "platform/objectstore/interned_string.h"

#include <mutex>
#include <ostream>
#include <unordered_set>

namespace qlt {
namespace {

struct Table {
  std::mutex mutex;
  std::unordered_set<std::string> texts;
};

Table& table() {
  static auto& instance = *new Table;  // never destroyed: interned texts outlive everything
  return instance;
}

const std::string* intern(std::string_view text) {
  Table& interned = table();
  std::lock_guard lock(interned.mutex);
  return &*interned.texts.emplace(text).first;
}

}  // namespace

InternedString::InternedString() : text_(intern({})) {}

InternedString::InternedString(std::string_view text) : text_(intern(text)) {}

std::ostream& operator<<(std::ostream& stream, const InternedString& text) { return stream << text.str(); }

}  // namespace qlt
