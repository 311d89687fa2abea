#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/foundation/date.h"
#include "platform/foundation/property_list.h"

namespace qlt {

class ArchiveObject;
class Codable;

// Collections keep their order so that archiving is deterministic; a set's
// order is the one it was built or read in. `isMutable` picks the mutable
// class name (NSMutableArray, ...) when archiving.
struct ArchiveArray {
  std::vector<ArchiveObject> elements;
  bool isMutable = false;
  bool operator==(const ArchiveArray&) const;
};

struct ArchiveDictionary {
  std::vector<std::pair<ArchiveObject, ArchiveObject>> entries;
  bool isMutable = false;
  bool operator==(const ArchiveDictionary&) const;
};

struct ArchiveSet {
  std::vector<ArchiveObject> elements;
  bool isMutable = false;
  bool operator==(const ArchiveSet&) const;
};

// One value of a keyed archive: nil, a Foundation built-in (NSString,
// NSNumber as integer, real or Boolean, NSDate, NSData, NSArray,
// NSDictionary, NSSet, NSNull) or an object of our own Codable class.
class ArchiveObject {
 public:
  enum class Type { Nil, String, Integer, Real, Boolean, Date, Data, Array, Dictionary, Set, Null, Object };
  struct NullTag {
    bool operator==(const NullTag&) const = default;
  };

  ArchiveObject() = default;
  ArchiveObject(std::string value) : value_(std::move(value)) {}
  ArchiveObject(const char* value) : value_(std::string(value)) {}
  ArchiveObject(int value) : value_(static_cast<int64_t>(value)) {}
  ArchiveObject(long value) : value_(static_cast<int64_t>(value)) {}
  ArchiveObject(long long value) : value_(static_cast<int64_t>(value)) {}
  ArchiveObject(double value) : value_(value) {}
  ArchiveObject(bool value) : value_(value) {}
  ArchiveObject(Date value) : value_(value) {}
  ArchiveObject(Bytes value) : value_(std::move(value)) {}
  ArchiveObject(ArchiveArray value) : value_(std::move(value)) {}
  ArchiveObject(ArchiveDictionary value) : value_(std::move(value)) {}
  ArchiveObject(ArchiveSet value) : value_(std::move(value)) {}
  ArchiveObject(NullTag value) : value_(value) {}
  ArchiveObject(std::shared_ptr<Codable> value);

  static ArchiveObject null() { return ArchiveObject(NullTag{}); }
  static ArchiveObject array(std::vector<ArchiveObject> elements) { return ArchiveArray{std::move(elements)}; }
  static ArchiveObject dictionary(std::vector<std::pair<ArchiveObject, ArchiveObject>> entries) {
    return ArchiveDictionary{std::move(entries)};
  }
  static ArchiveObject set(std::vector<ArchiveObject> elements) { return ArchiveSet{std::move(elements)}; }

  Type type() const { return static_cast<Type>(value_.index()); }
  bool isNil() const { return type() == Type::Nil; }

  const std::string* string() const { return std::get_if<std::string>(&value_); }
  const int64_t* integer() const { return std::get_if<int64_t>(&value_); }
  const double* real() const { return std::get_if<double>(&value_); }
  const bool* boolean() const { return std::get_if<bool>(&value_); }
  const Date* date() const { return std::get_if<Date>(&value_); }
  const Bytes* data() const { return std::get_if<Bytes>(&value_); }
  const ArchiveArray* array() const { return std::get_if<ArchiveArray>(&value_); }
  const ArchiveDictionary* dictionary() const { return std::get_if<ArchiveDictionary>(&value_); }
  const ArchiveSet* set() const { return std::get_if<ArchiveSet>(&value_); }
  const std::shared_ptr<Codable>* object() const { return std::get_if<std::shared_ptr<Codable>>(&value_); }
  template <class T>
  std::shared_ptr<T> objectAs() const {
    auto found = object();
    return found ? std::dynamic_pointer_cast<T>(*found) : nullptr;
  }

  // The value under a string key of a dictionary, or nullptr.
  const ArchiveObject* find(std::string_view key) const;

  // The name of the class the value archives as; empty for nil.
  std::string className() const;

  // Built-ins compare by value, objects of our own classes by identity.
  // Written out in the source file: a defaulted comparison over this
  // recursive variant crashes clang 14.
  bool operator==(const ArchiveObject& other) const;

 private:
  std::variant<std::monostate, std::string, int64_t, double, bool, Date, Bytes, ArchiveArray, ArchiveDictionary,
               ArchiveSet, NullTag, std::shared_ptr<Codable>>
      value_;
};

}  // namespace qlt
