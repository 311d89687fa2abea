#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "platform/foundation/date.h"
#include "platform/foundation/property_list.h"
#include "platform/objectstore/object_id.h"

namespace qlt {

class Value;
using ValueList = std::vector<Value>;

// One attribute value, predicate argument or key-path result of the object
// store: nil, Boolean, integer, double, string, date, data, object ID, or a
// collection of values (to-many results and IN arguments).
class Value {
 public:
  enum class Type { Null, Boolean, Integer, Double, String, Date, Data, Object, Collection };

  Value() = default;
  Value(std::nullptr_t) {}
  Value(bool v) : value_(v) {}
  Value(int v) : value_(static_cast<int64_t>(v)) {}
  Value(long v) : value_(static_cast<int64_t>(v)) {}
  Value(long long v) : value_(static_cast<int64_t>(v)) {}
  Value(double v) : value_(v) {}
  Value(std::string v) : value_(std::move(v)) {}
  Value(const char* v) : value_(std::string(v)) {}
  Value(Date v) : value_(v) {}
  Value(Bytes v) : value_(std::move(v)) {}
  Value(ObjectID v) : value_(std::move(v)) {}
  Value(ValueList v) : value_(std::make_shared<ValueList>(std::move(v))) {}

  Type type() const { return static_cast<Type>(value_.index()); }
  bool isNull() const { return type() == Type::Null; }
  bool isNumber() const { return type() == Type::Boolean || type() == Type::Integer || type() == Type::Double; }

  const bool* boolean() const { return std::get_if<bool>(&value_); }
  const int64_t* integer() const { return std::get_if<int64_t>(&value_); }
  const double* real() const { return std::get_if<double>(&value_); }
  const std::string* string() const { return std::get_if<std::string>(&value_); }
  const Date* date() const { return std::get_if<Date>(&value_); }
  const Bytes* data() const { return std::get_if<Bytes>(&value_); }
  const ObjectID* objectID() const { return std::get_if<ObjectID>(&value_); }
  const ValueList* collection() const {
    auto list = std::get_if<std::shared_ptr<ValueList>>(&value_);
    return list ? list->get() : nullptr;
  }

  // The collection for changing in place: copied first when other Values
  // share it; a non-collection becomes an empty collection.
  ValueList& mutableCollection();

  // Numbers (Booleans as 0 and 1) as double; nullopt for anything else.
  [[nodiscard]] std::optional<double> numberValue() const;
  bool boolValue() const;

  // Equality as predicates see it: numbers compare by value across types.
  bool operator==(const Value& other) const;
  // Equal and of the same type, as change tracking sees it.
  bool isIdenticalTo(const Value& other) const { return type() == other.type() && *this == other; }
  std::string description() const;

 private:
  std::variant<std::monostate, bool, int64_t, double, std::string, Date, Bytes, ObjectID, std::shared_ptr<ValueList>>
      value_;
};

std::ostream& operator<<(std::ostream& stream, const Value& value);

}  // namespace qlt
