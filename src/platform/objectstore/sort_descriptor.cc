#include "platform/objectstore/sort_descriptor.h"

#include <algorithm>
#include <cstring>

#include "platform/foundation/string_comparison.h"

namespace qlt {
namespace {

// SQLite's order of storage classes: NULL, numbers, text, blobs.
int rank(const Value& value) {
  switch (value.type()) {
    case Value::Type::Null:
      return 0;
    case Value::Type::Boolean:
    case Value::Type::Integer:
    case Value::Type::Double:
    case Value::Type::Date:
    case Value::Type::Object:
      return 1;
    case Value::Type::String:
      return 2;
    case Value::Type::Data:
      return 3;
    case Value::Type::Collection:
      return 4;
  }
  return 4;
}

double number(const Value& value) {
  if (const Date* date = value.date()) return date->timeIntervalSinceReferenceDate();
  if (const ObjectID* id = value.objectID()) return static_cast<double>(id->primaryKey);
  return value.numberValue().value_or(0);
}

int sign(int value) { return (value > 0) - (value < 0); }

}  // namespace

int compareForSort(const Value& lhs, const Value& rhs, SortDescriptor::Comparison comparison) {
  int left = rank(lhs), right = rank(rhs);
  if (left != right) return left < right ? -1 : 1;
  switch (left) {
    case 1: {
      if (lhs.integer() && rhs.integer()) return (*lhs.integer() > *rhs.integer()) - (*lhs.integer() < *rhs.integer());
      double a = number(lhs), b = number(rhs);
      return (a > b) - (a < b);
    }
    case 2: {
      const std::string& a = *lhs.string();
      const std::string& b = *rhs.string();
      switch (comparison) {
        case SortDescriptor::Comparison::Plain:
          return sign(a.compare(b));
        case SortDescriptor::Comparison::CaseInsensitive:
          return sign(compareStrings(a, b, CaseInsensitive));
        case SortDescriptor::Comparison::LocalizedStandard:
          return sign(localizedStandardCompare(a, b));
      }
      return 0;
    }
    case 3: {
      const Bytes& a = *lhs.data();
      const Bytes& b = *rhs.data();
      int byBytes = a.empty() || b.empty() ? 0 : std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
      if (byBytes) return sign(byBytes);
      return (a.size() > b.size()) - (a.size() < b.size());
    }
    default:
      return 0;
  }
}

}  // namespace qlt
