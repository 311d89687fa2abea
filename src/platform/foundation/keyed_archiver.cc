#include "platform/foundation/keyed_archiver.h"

#include <algorithm>
#include <bit>

#include "platform/foundation/codable.h"
#include "platform/foundation/keyed_archive_format.h"
#include "platform/foundation/property_list_serialization.h"

namespace qlt {

using namespace keyed_archive;

namespace {

std::vector<std::string> builtInHierarchy(const std::string& className) {
  if (className.starts_with("NSMutable")) return {className, "NS" + className.substr(9), "NSObject"};
  return {className, "NSObject"};
}

}  // namespace

KeyedArchiver::KeyedArchiver(bool requiresSecureCoding)
    : requiresSecureCoding_(requiresSecureCoding), objects_{PropertyList(kNullObject)} {}

void KeyedArchiver::fail(const std::string& description) {
  if (!error_) error_ = Error(kCocoaErrorDomain, kCocoaCoderInvalidValueError, description);
}

void KeyedArchiver::set(const std::string& key, PropertyList value) {
  if (!error_) current_->insert_or_assign(escapedKey(key), std::move(value));
}

void KeyedArchiver::encodeObject(const std::string& key, const ArchiveObject& object) {
  if (error_) return;
  if (auto uid = reference(object)) set(key, *uid);
}

void KeyedArchiver::encodeBool(const std::string& key, bool value) { set(key, value); }
void KeyedArchiver::encodeInt64(const std::string& key, int64_t value) { set(key, static_cast<long long>(value)); }
void KeyedArchiver::encodeDouble(const std::string& key, double value) { set(key, value); }

PropertyListUID KeyedArchiver::append(PropertyList object) {
  objects_.push_back(std::move(object));
  return PropertyListUID{objects_.size() - 1};
}

PropertyListUID KeyedArchiver::classReference(const std::vector<std::string>& hierarchy) {
  auto [found, inserted] = classes_.try_emplace(hierarchy.front(), objects_.size());
  if (inserted) {
    PropertyListArray names(hierarchy.begin(), hierarchy.end());
    if (names.back() != PropertyList("NSObject")) names.emplace_back("NSObject");
    append(PropertyListDictionary{{kClassNameKey, hierarchy.front()}, {kClassesKey, std::move(names)}});
  }
  return PropertyListUID{found->second};
}

std::optional<PropertyListArray> KeyedArchiver::references(const std::vector<ArchiveObject>& objects) {
  PropertyListArray uids;
  uids.reserve(objects.size());
  for (const ArchiveObject& object : objects) {
    auto uid = reference(object);
    if (!uid) return std::nullopt;
    uids.emplace_back(*uid);
  }
  return uids;
}

std::optional<PropertyListUID> KeyedArchiver::reference(const ArchiveObject& object) {
  if (error_) return std::nullopt;
  if (depth_ >= kMaximumDepth) {
    fail("The archive would nest objects more than " + std::to_string(kMaximumDepth) + " levels deep.");
    return std::nullopt;
  }
  struct DepthScope {
    int& depth;
    ~DepthScope() { --depth; }
  } scope{++depth_};

  using Type = ArchiveObject::Type;
  switch (object.type()) {
    case Type::Nil:
      return PropertyListUID{0};
    case Type::String: {
      auto [found, inserted] = strings_.try_emplace(*object.string(), objects_.size());
      if (inserted) append(*object.string());
      return PropertyListUID{found->second};
    }
    case Type::Integer:
      return append(static_cast<long long>(*object.integer()));
    case Type::Real:
      return append(*object.real());
    case Type::Boolean:
      return append(*object.boolean());
    case Type::Data:
      return append(*object.data());
    case Type::Date: {
      // The class goes first so that the object's own index follows it.
      PropertyListUID classUID = classReference(builtInHierarchy("NSDate"));
      return append(PropertyListDictionary{{kTimeField, object.date()->timeIntervalSinceReferenceDate()},
                                           {kClassKey, classUID}});
    }
    case Type::Null:
      return append(PropertyListDictionary{{kClassKey, classReference(builtInHierarchy("NSNull"))}});
    case Type::Array:
    case Type::Set: {
      PropertyListUID uid = append(PropertyListDictionary{});
      auto& elements = object.array() ? object.array()->elements : object.set()->elements;
      auto uids = references(elements);
      if (!uids) return std::nullopt;
      objects_[uid.value] = PropertyListDictionary{{kObjectsField, std::move(*uids)},
                                                   {kClassKey, classReference(builtInHierarchy(object.className()))}};
      return uid;
    }
    case Type::Dictionary: {
      PropertyListUID uid = append(PropertyListDictionary{});
      std::vector<ArchiveObject> keys, values;
      for (const auto& [key, value] : object.dictionary()->entries) {
        keys.push_back(key);
        values.push_back(value);
      }
      auto keyUIDs = references(keys);
      auto valueUIDs = keyUIDs ? references(values) : std::nullopt;
      if (!valueUIDs) return std::nullopt;
      objects_[uid.value] = PropertyListDictionary{{kKeysField, std::move(*keyUIDs)},
                                                   {kObjectsField, std::move(*valueUIDs)},
                                                   {kClassKey, classReference(builtInHierarchy(object.className()))}};
      return uid;
    }
    case Type::Object:
      return referenceTo(*object.object());
  }
  return std::nullopt;
}

std::optional<PropertyListUID> KeyedArchiver::referenceTo(const std::shared_ptr<Codable>& pointer) {
  const Codable& object = *pointer;
  if (auto found = encoded_.find(&object); found != encoded_.end()) return PropertyListUID{found->second};
  retained_.push_back(pointer);
  std::string className = object.className();
  if (inProgress_.count(&object)) {
    fail("An object of class '" + className + "' refers to itself.");
    return std::nullopt;
  }
  if (requiresSecureCoding_ && !object.supportsSecureCoding()) {
    fail("Class '" + className + "' does not adopt secure coding.");
    return std::nullopt;
  }
  std::vector<std::string> hierarchy = object.classHierarchy();
  if (hierarchy.empty() || hierarchy.front() != className) hierarchy.insert(hierarchy.begin(), className);

  PropertyListUID uid = append(PropertyListDictionary{});
  PropertyListDictionary fields;
  PropertyListDictionary* outer = current_;
  current_ = &fields;
  inProgress_.insert(&object);
  object.encode(*this);
  inProgress_.erase(&object);
  current_ = outer;
  if (error_) return std::nullopt;
  fields[kClassKey] = classReference(hierarchy);
  objects_[uid.value] = std::move(fields);
  encoded_[&object] = uid.value;
  return uid;
}

std::optional<Bytes> KeyedArchiver::finishEncoding(Error* error) {
  if (error_) {
    setError(error, *error_);
    return std::nullopt;
  }
  PropertyList archive = PropertyListDictionary{{kArchiverKey, kArchiverName},
                                                {kVersionKey, kVersion},
                                                {kTopKey, top_},
                                                {kObjectsKey, objects_}};
  Error failure;
  auto bytes = serializePropertyList(archive, PropertyListFormat::Binary, &failure);
  if (!bytes) {
    Error invalid(kCocoaErrorDomain, kCocoaCoderInvalidValueError, "The archive contains a value that cannot be written.");
    invalid.setUnderlyingError(failure);
    setError(error, std::move(invalid));
  }
  return bytes;
}

std::optional<Bytes> KeyedArchiver::archivedData(const ArchiveObject& root, bool requiresSecureCoding, Error* error) {
  KeyedArchiver archiver(requiresSecureCoding);
  archiver.encodeObject(kRootKey, root);
  return archiver.finishEncoding(error);
}

namespace {

// An archived number differs from any other only in the eight bytes of its
// value (a real is always written whole), so the archive of one number,
// made once, is copied and patched: item versions archive two numbers for
// every item listed.
struct NumberArchiveShape {
  Bytes archive;
  size_t valueAt = 0;
};

std::optional<NumberArchiveShape> makeNumberArchiveShape() {
  constexpr uint64_t kMarkerBits = 0x4123456789abcdefULL;
  auto archive = KeyedArchiver::archivedData(ArchiveObject(std::bit_cast<double>(kMarkerBits)), true);
  if (!archive) return std::nullopt;
  Bytes marker;
  for (int shift = 56; shift >= 0; shift -= 8) marker.push_back(static_cast<uint8_t>(kMarkerBits >> shift));
  auto found = std::search(archive->begin(), archive->end(), marker.begin(), marker.end());
  if (found == archive->end() || std::search(found + 1, archive->end(), marker.begin(), marker.end()) != archive->end())
    return std::nullopt;
  auto valueAt = static_cast<size_t>(found - archive->begin());
  return NumberArchiveShape{std::move(*archive), valueAt};
}

}  // namespace

std::optional<Bytes> archivedNumber(double value, Error* error) {
  static const std::optional<NumberArchiveShape> shape = makeNumberArchiveShape();
  if (!shape) return KeyedArchiver::archivedData(ArchiveObject(value), true, error);
  Bytes archive = shape->archive;
  uint64_t bits = std::bit_cast<uint64_t>(value);
  for (int i = 0; i < 8; ++i) archive[shape->valueAt + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  return archive;
}

}  // namespace qlt
