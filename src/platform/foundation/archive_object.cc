#include "platform/foundation/archive_object.h"

#include "platform/foundation/codable.h"

namespace qlt {

bool ArchiveArray::operator==(const ArchiveArray& other) const {
  return isMutable == other.isMutable && elements == other.elements;
}
bool ArchiveDictionary::operator==(const ArchiveDictionary& other) const {
  return isMutable == other.isMutable && entries == other.entries;
}
bool ArchiveSet::operator==(const ArchiveSet& other) const {
  return isMutable == other.isMutable && elements == other.elements;
}
bool ArchiveObject::operator==(const ArchiveObject& other) const { return value_ == other.value_; }

ArchiveObject::ArchiveObject(std::shared_ptr<Codable> value) {
  if (value) value_ = std::move(value);
}

const ArchiveObject* ArchiveObject::find(std::string_view key) const {
  auto entries = dictionary();
  if (!entries) return nullptr;
  for (const auto& [entryKey, value] : entries->entries) {
    auto text = entryKey.string();
    if (text && *text == key) return &value;
  }
  return nullptr;
}

std::string ArchiveObject::className() const {
  switch (type()) {
    case Type::Nil: return {};
    case Type::String: return "NSString";
    case Type::Integer:
    case Type::Real:
    case Type::Boolean: return "NSNumber";
    case Type::Date: return "NSDate";
    case Type::Data: return "NSData";
    case Type::Array: return array()->isMutable ? "NSMutableArray" : "NSArray";
    case Type::Dictionary: return dictionary()->isMutable ? "NSMutableDictionary" : "NSDictionary";
    case Type::Set: return set()->isMutable ? "NSMutableSet" : "NSSet";
    case Type::Null: return "NSNull";
    case Type::Object: return (*object())->className();
  }
  return {};
}

}  // namespace qlt
