#include "platform/cloud/embedded_cloud_record_coding.h"

#include "platform/foundation/property_list_serialization.h"

namespace qlt {
namespace {

Error corruptBody(const std::string& what) {
  return Error(kCocoaErrorDomain, kCocoaPropertyListReadCorruptError, "The stored cloud record is damaged: " + what);
}

PropertyList encodeReference(const CloudReference& reference) {
  return PropertyListDictionary{{"recordName", reference.recordID.recordName},
                                {"zoneName", reference.recordID.zoneID.zoneName},
                                {"ownerName", reference.recordID.zoneID.ownerName},
                                {"action", static_cast<int>(reference.action)}};
}

std::optional<CloudReference> decodeReference(const PropertyList& plist) {
  const PropertyList* name = plist.find("recordName");
  const PropertyList* zone = plist.find("zoneName");
  const PropertyList* owner = plist.find("ownerName");
  const PropertyList* action = plist.find("action");
  if (!name || !name->string() || !zone || !zone->string() || !owner || !owner->string() || !action ||
      !action->integer() || (*action->integer() != 0 && *action->integer() != 1))
    return std::nullopt;
  return CloudReference{RecordID(*name->string(), RecordZoneID(*zone->string(), *owner->string())),
                        static_cast<CloudReferenceAction>(*action->integer())};
}

PropertyList encodeValue(const CloudValue& value) {
  PropertyListDictionary out;
  switch (value.type()) {
    case CloudValue::Type::String: out = {{"t", "string"}, {"v", *value.string()}}; break;
    case CloudValue::Type::Integer: out = {{"t", "int"}, {"v", static_cast<long long>(*value.integer())}}; break;
    case CloudValue::Type::Double: out = {{"t", "double"}, {"v", *value.real()}}; break;
    case CloudValue::Type::Boolean: out = {{"t", "bool"}, {"v", *value.boolean()}}; break;
    case CloudValue::Type::Date: out = {{"t", "date"}, {"v", *value.date()}}; break;
    case CloudValue::Type::Data: out = {{"t", "data"}, {"v", *value.data()}}; break;
    case CloudValue::Type::Reference: out = {{"t", "reference"}, {"v", encodeReference(*value.reference())}}; break;
    case CloudValue::Type::Asset: out = {{"t", "asset"}, {"v", value.asset()->filePath}}; break;
    case CloudValue::Type::List: {
      PropertyListArray items;
      for (const CloudValue& item : *value.list()) items.push_back(encodeValue(item));
      out = {{"t", "list"}, {"v", std::move(items)}};
      break;
    }
  }
  return out;
}

std::optional<CloudValue> decodeValue(const PropertyList& plist) {
  const PropertyList* type = plist.find("t");
  const PropertyList* value = plist.find("v");
  if (!type || !type->string() || !value) return std::nullopt;
  const std::string& name = *type->string();
  std::optional<CloudValue> result;
  if (name == "string" && value->string()) {
    result = CloudValue(*value->string());
  } else if (name == "int" && value->integer()) {
    result = CloudValue(static_cast<long long>(*value->integer()));
  } else if (name == "double" && value->real()) {
    result = CloudValue(*value->real());
  } else if (name == "bool" && value->boolean()) {
    result = CloudValue(*value->boolean());
  } else if (name == "date" && value->date()) {
    result = CloudValue(*value->date());
  } else if (name == "data" && value->data()) {
    result = CloudValue(*value->data());
  } else if (name == "reference") {
    if (auto reference = decodeReference(*value)) result = CloudValue(*reference);
  } else if (name == "asset" && value->string()) {
    result = CloudValue(CloudAsset{*value->string()});
  } else if (name == "list" && value->array()) {
    CloudList items;
    for (const PropertyList& item : *value->array()) {
      auto decoded = decodeValue(item);
      if (!decoded) return std::nullopt;
      items.push_back(std::move(*decoded));
    }
    result = CloudValue(std::move(items));
  }
  return result;
}

}  // namespace

std::optional<Bytes> encodeCloudRecordBody(const std::map<std::string, CloudValue>& fields,
                                           const std::optional<CloudReference>& parent, Error* error) {
  PropertyListDictionary encodedFields;
  for (const auto& [key, value] : fields) encodedFields.emplace(key, encodeValue(value));
  PropertyListDictionary body{{"fields", std::move(encodedFields)}};
  if (parent) body.emplace("parent", encodeReference(*parent));
  return serializePropertyList(PropertyList(std::move(body)), PropertyListFormat::Binary, error);
}

bool decodeCloudRecordBody(const Bytes& body, std::map<std::string, CloudValue>& fields,
                           std::optional<CloudReference>& parent, Error* error) {
  auto plist = parsePropertyList(body, error);
  if (!plist) return false;
  const PropertyList* encodedFields = plist->find("fields");
  if (!encodedFields || !encodedFields->dictionary()) {
    setError(error, corruptBody("no fields"));
    return false;
  }
  fields.clear();
  for (const auto& [key, encoded] : *encodedFields->dictionary()) {
    auto value = decodeValue(encoded);
    if (!value) {
      setError(error, corruptBody("field " + key));
      return false;
    }
    fields.emplace(key, std::move(*value));
  }
  parent.reset();
  if (const PropertyList* encodedParent = plist->find("parent")) {
    parent = decodeReference(*encodedParent);
    if (!parent) {
      setError(error, corruptBody("parent"));
      return false;
    }
  }
  return true;
}

bool forEachCloudAsset(CloudValue& value, const std::function<bool(CloudAsset&)>& visit) {
  if (value.type() == CloudValue::Type::Asset) {
    CloudAsset asset = *value.asset();
    bool keepGoing = visit(asset);
    value = CloudValue(std::move(asset));
    return keepGoing;
  }
  if (CloudList* items = value.list()) {
    for (CloudValue& item : *items)
      if (!forEachCloudAsset(item, visit)) return false;
  }
  return true;
}

std::optional<CloudRecord> decodeStoredCloudRecord(const RecordSystemFields& system, const Bytes& body,
                                                   Error* error) {
  std::map<std::string, CloudValue> fields;
  std::optional<CloudReference> parent;
  if (!decodeCloudRecordBody(body, fields, parent, error)) return std::nullopt;
  CloudRecord record(system);
  for (auto& [key, value] : fields) record.setObjectForKey(key, std::move(value));
  if (parent) record.setParent(std::move(parent));
  record.clearChangedKeys();
  return record;
}

void clearCloudAssetPaths(CloudRecord& record) {
  std::map<std::string, CloudValue> fields = record.fields();
  for (auto& [key, value] : fields) {
    bool hasAsset = false;
    forEachCloudAsset(value, [&](CloudAsset& asset) {
      asset.filePath.clear();
      hasAsset = true;
      return true;
    });
    if (hasAsset) record.setObjectForKey(key, std::move(value));
  }
  record.clearChangedKeys();
}

}  // namespace qlt
