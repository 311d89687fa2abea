#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/foundation/date.h"

namespace qlt {

class PropertyList;
using PropertyListArray = std::vector<PropertyList>;
using PropertyListDictionary = std::map<std::string, PropertyList>;
using Bytes = std::vector<uint8_t>;

// A reference to an object of a keyed archive ("CF$UID" in XML form).
struct PropertyListUID {
  uint64_t value = 0;
  bool operator==(const PropertyListUID&) const = default;
};

// One property-list value: string, integer, real, Boolean, date, data,
// array, dictionary, or (inside keyed archives) a UID. Integers hold the
// full signed 64-bit range; values above it are rejected by the readers.
class PropertyList {
 public:
  enum class Type { String, Integer, Real, Boolean, Date, Data, Array, Dictionary, UID };

  PropertyList() : value_(PropertyListDictionary{}) {}
  PropertyList(std::string value) : value_(std::move(value)) {}
  PropertyList(const char* value) : value_(std::string(value)) {}
  PropertyList(int value) : value_(static_cast<int64_t>(value)) {}
  PropertyList(long value) : value_(static_cast<int64_t>(value)) {}
  PropertyList(long long value) : value_(static_cast<int64_t>(value)) {}
  PropertyList(unsigned value) : value_(static_cast<int64_t>(value)) {}
  PropertyList(double value) : value_(value) {}
  PropertyList(bool value) : value_(value) {}
  PropertyList(Date value) : value_(value) {}
  PropertyList(Bytes value) : value_(std::move(value)) {}
  PropertyList(PropertyListArray value) : value_(std::move(value)) {}
  PropertyList(PropertyListDictionary value) : value_(std::move(value)) {}
  PropertyList(PropertyListUID value) : value_(value) {}

  Type type() const { return static_cast<Type>(value_.index()); }
  bool isString() const { return type() == Type::String; }
  bool isInteger() const { return type() == Type::Integer; }
  bool isReal() const { return type() == Type::Real; }
  bool isNumber() const { return isInteger() || isReal(); }
  bool isBoolean() const { return type() == Type::Boolean; }
  bool isDate() const { return type() == Type::Date; }
  bool isData() const { return type() == Type::Data; }
  bool isArray() const { return type() == Type::Array; }
  bool isDictionary() const { return type() == Type::Dictionary; }
  bool isUID() const { return type() == Type::UID; }

  // Typed access; each returns nullptr when the value has another type.
  const std::string* string() const { return std::get_if<std::string>(&value_); }
  const int64_t* integer() const { return std::get_if<int64_t>(&value_); }
  const double* real() const { return std::get_if<double>(&value_); }
  const bool* boolean() const { return std::get_if<bool>(&value_); }
  const Date* date() const { return std::get_if<Date>(&value_); }
  const Bytes* data() const { return std::get_if<Bytes>(&value_); }
  const PropertyListArray* array() const { return std::get_if<PropertyListArray>(&value_); }
  PropertyListArray* array() { return std::get_if<PropertyListArray>(&value_); }
  const PropertyListDictionary* dictionary() const { return std::get_if<PropertyListDictionary>(&value_); }
  PropertyListDictionary* dictionary() { return std::get_if<PropertyListDictionary>(&value_); }
  const PropertyListUID* uid() const { return std::get_if<PropertyListUID>(&value_); }

  // Lenient readings in the manner of user defaults: numbers and Booleans
  // convert into each other, strings "YES"/"true"/"1" read as true.
  [[nodiscard]] std::optional<double> numberValue() const;
  [[nodiscard]] std::optional<int64_t> integerValue() const;
  bool boolValue() const;

  // The value under `key` of a dictionary, or nullptr.
  const PropertyList* find(const std::string& key) const;

  bool operator==(const PropertyList&) const = default;

 private:
  std::variant<std::string, int64_t, double, bool, Date, Bytes, PropertyListArray, PropertyListDictionary,
               PropertyListUID>
      value_;
};

}  // namespace qlt
