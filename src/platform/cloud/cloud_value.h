#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "platform/cloud/cloud_record_id.h"
#include "platform/foundation/date.h"
#include "platform/foundation/property_list.h"

namespace qlt {

// What deleting the referenced record does to the referencing one.
enum class CloudReferenceAction { None = 0, DeleteSelf = 1 };

// A field value naming another record ("CKReference").
struct CloudReference {
  RecordID recordID;
  CloudReferenceAction action = CloudReferenceAction::None;

  bool operator==(const CloudReference&) const = default;
};

// A file attached to a record ("CKAsset"). On upload the file is read from
// `filePath`; records fetched from a database name a local copy.
struct CloudAsset {
  std::string filePath;

  bool operator==(const CloudAsset&) const = default;
};

class CloudValue;
using CloudList = std::vector<CloudValue>;

// One field value of a cloud record.
class CloudValue {
 public:
  enum class Type { String, Integer, Double, Boolean, Date, Data, Reference, Asset, List };

  CloudValue() : value_(std::string()) {}
  CloudValue(std::string value) : value_(std::move(value)) {}
  CloudValue(const char* value) : value_(std::string(value)) {}
  CloudValue(int value) : value_(static_cast<int64_t>(value)) {}
  CloudValue(long value) : value_(static_cast<int64_t>(value)) {}
  CloudValue(long long value) : value_(static_cast<int64_t>(value)) {}
  CloudValue(double value) : value_(value) {}
  CloudValue(bool value) : value_(value) {}
  CloudValue(Date value) : value_(value) {}
  CloudValue(Bytes value) : value_(std::move(value)) {}
  CloudValue(CloudReference value) : value_(std::move(value)) {}
  CloudValue(CloudAsset value) : value_(std::move(value)) {}
  CloudValue(CloudList value) : value_(std::move(value)) {}

  Type type() const { return static_cast<Type>(value_.index()); }

  // Typed access; each returns nullptr when the value has another type.
  const std::string* string() const { return std::get_if<std::string>(&value_); }
  const int64_t* integer() const { return std::get_if<int64_t>(&value_); }
  const double* real() const { return std::get_if<double>(&value_); }
  const bool* boolean() const { return std::get_if<bool>(&value_); }
  const Date* date() const { return std::get_if<Date>(&value_); }
  const Bytes* data() const { return std::get_if<Bytes>(&value_); }
  const CloudReference* reference() const { return std::get_if<CloudReference>(&value_); }
  const CloudAsset* asset() const { return std::get_if<CloudAsset>(&value_); }
  const CloudList* list() const { return std::get_if<CloudList>(&value_); }
  CloudList* list() { return std::get_if<CloudList>(&value_); }

  // Short form for logs: strings quoted, data as a byte count, references
  // by record name, assets by path, lists in parentheses.
  std::string description() const;

  bool operator==(const CloudValue&) const = default;

 private:
  std::variant<std::string, int64_t, double, bool, Date, Bytes, CloudReference, CloudAsset, CloudList> value_;
};

}  // namespace qlt
