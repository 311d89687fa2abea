#include "store/cloud_record_fields.h"

#include <algorithm>

#include "platform/files/file_system.h"

namespace qlt {

std::set<std::string> changedKeyNames(const CloudRecord& record) {
  std::set<std::string> names;
  const CloudValue* value = record.objectForKey(kCloudRecordChangedKeyNamesKey);
  if (!value || !value->list()) return names;
  for (const CloudValue& element : *value->list())
    if (element.string()) names.insert(*element.string());
  return names;
}

void setChangedKeyNames(CloudRecord& record, const std::set<std::string>& names) {
  CloudList list;
  for (const std::string& name : names) list.emplace_back(name);
  record.setObjectForKey(kCloudRecordChangedKeyNamesKey, CloudValue(std::move(list)));
}

std::set<std::string> changedKeysFromRecord(const CloudRecord& record, const CloudRecord& other) {
  std::set<std::string> keys;
  for (const auto& [key, value] : record.fields()) {
    const CloudValue* otherValue = other.objectForKey(key);
    if (otherValue && !(*otherValue == value)) keys.insert(key);
  }
  return keys;
}

namespace {

uint64_t estimatedSize(const CloudValue& value) {
  if (const std::string* text = value.string()) return text->size();
  if (const Bytes* data = value.data()) return data->size();
  if (const CloudAsset* asset = value.asset()) return fileSize(asset->filePath).value_or(0);
  return 0;
}

}  // namespace

uint64_t estimatedRecordSize(const CloudRecord& record) {
  uint64_t size = 0;
  for (const auto& [key, value] : record.fields()) size += estimatedSize(value);
  return size;
}

std::optional<CloudValue> cloudValueFromValue(const Value& value) {
  switch (value.type()) {
    case Value::Type::Boolean:
      return CloudValue(*value.boolean());
    case Value::Type::Integer:
      return CloudValue(static_cast<long long>(*value.integer()));
    case Value::Type::Double:
      return CloudValue(*value.real());
    case Value::Type::String:
      return CloudValue(*value.string());
    case Value::Type::Date:
      return CloudValue(*value.date());
    case Value::Type::Data:
      return CloudValue(*value.data());
    default:
      return std::nullopt;
  }
}

Value valueFromCloudValue(const CloudValue* value) {
  if (!value) return Value();
  switch (value->type()) {
    case CloudValue::Type::String:
      return Value(*value->string());
    case CloudValue::Type::Integer:
      return Value(static_cast<long long>(*value->integer()));
    case CloudValue::Type::Double:
      return Value(*value->real());
    case CloudValue::Type::Boolean:
      return Value(*value->boolean());
    case CloudValue::Type::Date:
      return Value(*value->date());
    case CloudValue::Type::Data:
      return Value(*value->data());
    default:
      return Value();
  }
}

}  // namespace qlt
