#include "platform/foundation/keyed_unarchiver.h"

#include <algorithm>
#include <cmath>

#include "platform/foundation/keyed_archive_format.h"
#include "platform/foundation/property_list_serialization.h"

namespace qlt {

using namespace keyed_archive;

namespace {

constexpr const char* kCorruptDescription = "The data couldn’t be read because it isn’t in the correct format.";
constexpr const char* kMissingDescription = "The data couldn’t be read because it is missing.";
constexpr const char* kDebugDescriptionKey = "NSDebugDescription";

Error coderError(long code, const char* description, const std::string& detail) {
  Error error(kCocoaErrorDomain, code, description);
  error.setUserInfoValue(kDebugDescriptionKey, detail);
  return error;
}

bool isAllowed(const std::string& className, const ClassNameSet& allowed) {
  if (allowed.count(className)) return true;
  return className.starts_with("NSMutable") && allowed.count("NS" + className.substr(9));
}

std::string describe(const ClassNameSet& allowed) {
  std::string text = "{(";
  for (const std::string& name : allowed) {
    if (text.size() > 2) text += ", ";
    text += name;
  }
  return text + ")}";
}

std::string plainClassName(const PropertyList& object) {
  switch (object.type()) {
    case PropertyList::Type::String: return "NSString";
    case PropertyList::Type::Integer:
    case PropertyList::Type::Real:
    case PropertyList::Type::Boolean: return "NSNumber";
    case PropertyList::Type::Data: return "NSData";
    default: return {};
  }
}

}  // namespace

KeyedUnarchiver::KeyedUnarchiver(PropertyList archive, size_t size, const CodableRegistry& registry)
    : archive_(std::move(archive)), registry_(registry) {
  objects_ = archive_.find(kObjectsKey)->array();
  current_ = archive_.find(kTopKey)->dictionary();
  inProgress_.assign(objects_->size(), false);
  // Every reference costs at least a byte of the archive, so honest archives
  // stay well inside this; shared collections would multiply without it.
  budget_ = 4 * static_cast<uint64_t>(size) + 1024;
}

std::unique_ptr<KeyedUnarchiver> KeyedUnarchiver::forReading(const Bytes& bytes, Error* error,
                                                             const CodableRegistry& registry) {
  Error failure;
  auto archive = parsePropertyList(bytes, &failure);
  if (!archive) {
    Error corrupt = coderError(kCocoaCoderReadCorruptError, kCorruptDescription, "the archive is not a property list");
    corrupt.setUnderlyingError(failure);
    setError(error, std::move(corrupt));
    return nullptr;
  }
  auto archiver = archive->find(kArchiverKey);
  auto version = archive->find(kVersionKey);
  auto top = archive->find(kTopKey);
  auto objects = archive->find(kObjectsKey);
  std::string problem;
  if (!archiver || archiver->string() == nullptr || *archiver->string() != kArchiverName)
    problem = "the archive was not written by NSKeyedArchiver";
  else if (!version || !version->isInteger())
    problem = "the archive has no version";
  else if (!top || !top->isDictionary())
    problem = "the archive has no top-level objects";
  else if (!objects || !objects->isArray() || objects->array()->empty() ||
           objects->array()->front() != PropertyList(kNullObject))
    problem = "the archive's object table is malformed";
  if (!problem.empty()) {
    setError(error, coderError(kCocoaCoderReadCorruptError, kCorruptDescription, problem));
    return nullptr;
  }
  return std::unique_ptr<KeyedUnarchiver>(new KeyedUnarchiver(std::move(*archive), bytes.size(), registry));
}

std::optional<ArchiveObject> KeyedUnarchiver::unarchivedObject(const Bytes& bytes, const ClassNameSet& allowedClasses,
                                                               Error* error, const CodableRegistry& registry) {
  auto unarchiver = forReading(bytes, error, registry);
  if (!unarchiver) return std::nullopt;
  return unarchiver->decodeObjectOfClasses(kRootKey, allowedClasses, error);
}

std::nullopt_t KeyedUnarchiver::corrupt(const std::string& description, Error* error) {
  if (!error_) error_ = coderError(kCocoaCoderReadCorruptError, kCorruptDescription, description);
  setError(error, *error_);
  return std::nullopt;
}

std::nullopt_t KeyedUnarchiver::missing(const std::string& key, Error* error) {
  setError(error, coderError(kCocoaCoderValueNotFoundError, kMissingDescription, "value for key '" + key + "' not found"));
  return std::nullopt;
}

bool KeyedUnarchiver::containsValue(const std::string& key) const { return current_->count(escapedKey(key)) > 0; }

const PropertyList* KeyedUnarchiver::lookup(const std::string& key, Error* error) {
  if (error_) {
    setError(error, *error_);
    return nullptr;
  }
  auto found = current_->find(escapedKey(key));
  if (found == current_->end()) {
    missing(key, error);
    return nullptr;
  }
  return &found->second;
}

std::optional<ArchiveObject> KeyedUnarchiver::decodeObjectOfClasses(const std::string& key,
                                                                    const ClassNameSet& allowedClasses, Error* error) {
  auto value = lookup(key, error);
  if (!value) return std::nullopt;
  return decodeReference(*value, key, allowedClasses, error);
}

std::optional<std::string> KeyedUnarchiver::decodeString(const std::string& key, Error* error) {
  auto object = decodeObjectOfClasses(key, {"NSString"}, error);
  if (!object) return std::nullopt;
  if (object->isNil()) return missing(key, error);
  return *object->string();
}

std::optional<Bytes> KeyedUnarchiver::decodeData(const std::string& key, Error* error) {
  auto value = lookup(key, error);
  if (!value) return std::nullopt;
  if (auto inPlace = value->data()) return *inPlace;
  auto object = decodeReference(*value, key, {"NSData"}, error);
  if (!object) return std::nullopt;
  if (object->isNil()) return missing(key, error);
  return *object->data();
}

std::optional<Date> KeyedUnarchiver::decodeDate(const std::string& key, Error* error) {
  auto object = decodeObjectOfClasses(key, {"NSDate"}, error);
  if (!object) return std::nullopt;
  if (object->isNil()) return missing(key, error);
  return *object->date();
}

// A number stored in place, or as an NSNumber object.
std::optional<PropertyList> KeyedUnarchiver::number(const std::string& key, Error* error) {
  auto value = lookup(key, error);
  if (!value) return std::nullopt;
  if (value->isUID()) {
    auto object = decodeReference(*value, key, {"NSNumber"}, error);
    if (!object) return std::nullopt;
    if (object->isNil()) return missing(key, error);
    if (auto v = object->integer()) return PropertyList(static_cast<long long>(*v));
    if (auto v = object->real()) return PropertyList(*v);
    return PropertyList(*object->boolean());
  }
  if (!value->isNumber() && !value->isBoolean()) return corrupt("value for key '" + key + "' is not a number", error);
  return *value;
}

std::optional<bool> KeyedUnarchiver::decodeBool(const std::string& key, Error* error) {
  auto value = number(key, error);
  if (!value) return std::nullopt;
  return value->boolValue();
}

std::optional<int64_t> KeyedUnarchiver::decodeInt64(const std::string& key, Error* error) {
  auto value = number(key, error);
  if (!value) return std::nullopt;
  auto integer = value->integerValue();
  if (!integer) return corrupt("value for key '" + key + "' does not fit a 64-bit integer", error);
  return *integer;
}

std::optional<double> KeyedUnarchiver::decodeDouble(const std::string& key, Error* error) {
  auto value = number(key, error);
  if (!value) return std::nullopt;
  return value->numberValue();
}

std::optional<ArchiveObject> KeyedUnarchiver::decodeReference(const PropertyList& value, const std::string& key,
                                                              const ClassNameSet& allowed, Error* error) {
  auto uid = value.uid();
  if (!uid) return corrupt("value for key '" + key + "' is not an object reference", error);
  return decodeUID(uid->value, key, allowed, error);
}

std::optional<ArchiveObject> KeyedUnarchiver::decodeUID(uint64_t uid, const std::string& key,
                                                        const ClassNameSet& allowed, Error* error) {
  if (error_) return corrupt({}, error);
  if (uid >= objects_->size()) return corrupt("reference " + std::to_string(uid) + " is out of range", error);
  if (uid == 0) return ArchiveObject();
  if (budget_ == 0) return corrupt("the archive expands beyond a reasonable size", error);
  --budget_;
  const PropertyList& object = (*objects_)[uid];
  std::string className = plainClassName(object);
  const PropertyListDictionary* fields = object.dictionary();
  if (className.empty()) {
    const PropertyList* classReference = fields ? object.find(kClassKey) : nullptr;
    if (!classReference || !classReference->uid() || classReference->uid()->value >= objects_->size())
      return corrupt("object " + std::to_string(uid) + " has no valid class", error);
    const PropertyList& classObject = (*objects_)[classReference->uid()->value];
    auto name = classObject.find(kClassNameKey);
    auto hierarchy = classObject.find(kClassesKey);
    bool validHierarchy = !hierarchy || (hierarchy->isArray() && std::all_of(hierarchy->array()->begin(),
                                                                             hierarchy->array()->end(),
                                                                             [](auto& n) { return n.isString(); }));
    if (!name || !name->isString() || !validHierarchy)
      return corrupt("object " + std::to_string(uid) + " refers to a malformed class description", error);
    className = *name->string();
  }
  if (!isAllowed(className, allowed)) {
    return corrupt("value for key '" + key + "' was of unexpected class '" + className + "'. Allowed classes are '" +
                       describe(allowed) + "'.",
                   error);
  }
  switch (object.type()) {
    case PropertyList::Type::String: return ArchiveObject(*object.string());
    case PropertyList::Type::Integer: return ArchiveObject(static_cast<long long>(*object.integer()));
    case PropertyList::Type::Real: return ArchiveObject(*object.real());
    case PropertyList::Type::Boolean: return ArchiveObject(*object.boolean());
    case PropertyList::Type::Data: return ArchiveObject(*object.data());
    default: break;
  }
  if (inProgress_[uid]) return corrupt("object " + std::to_string(uid) + " contains itself", error);
  if (depth_ >= kMaximumDepth) return corrupt("the archive nests objects too deeply", error);
  inProgress_[uid] = true;
  ++depth_;
  auto result = decodeInstance(uid, *fields, className, key, allowed, error);
  --depth_;
  inProgress_[uid] = false;
  return result;
}

std::optional<std::vector<ArchiveObject>> KeyedUnarchiver::decodeList(const PropertyListDictionary& fields,
                                                                      const char* field, const ClassNameSet& allowed,
                                                                      Error* error) {
  auto found = fields.find(field);
  if (found == fields.end() || !found->second.isArray())
    return corrupt(std::string("a collection has no valid ") + field, error);
  std::vector<ArchiveObject> elements;
  for (const PropertyList& reference : *found->second.array()) {
    auto element = decodeReference(reference, field, allowed, error);
    if (!element) return std::nullopt;
    elements.push_back(std::move(*element));
  }
  return elements;
}

std::optional<ArchiveObject> KeyedUnarchiver::decodeInstance(uint64_t uid, const PropertyListDictionary& fields,
                                                             const std::string& className, const std::string& key,
                                                             const ClassNameSet& allowed, Error* error) {
  auto field = [&](const char* name) -> const PropertyList* {
    auto found = fields.find(name);
    return found == fields.end() ? nullptr : &found->second;
  };
  bool isMutable = className.starts_with("NSMutable");
  std::string base = isMutable ? "NS" + className.substr(9) : className;
  if (base == "NSArray" || base == "NSSet") {
    auto elements = decodeList(fields, kObjectsField, allowed, error);
    if (!elements) return std::nullopt;
    if (base == "NSArray") return ArchiveObject(ArchiveArray{std::move(*elements), isMutable});
    return ArchiveObject(ArchiveSet{std::move(*elements), isMutable});
  }
  if (base == "NSDictionary") {
    auto keys = decodeList(fields, kKeysField, allowed, error);
    auto values = keys ? decodeList(fields, kObjectsField, allowed, error) : std::nullopt;
    if (!values) return std::nullopt;
    if (keys->size() != values->size()) return corrupt("a dictionary has unequal numbers of keys and values", error);
    ArchiveDictionary dictionary{{}, isMutable};
    for (size_t i = 0; i < keys->size(); ++i)
      dictionary.entries.emplace_back(std::move((*keys)[i]), std::move((*values)[i]));
    return ArchiveObject(std::move(dictionary));
  }
  if (className == "NSDate") {
    auto time = field(kTimeField);
    if (!time || !time->isNumber()) return corrupt("a date has no valid NS.time", error);
    return ArchiveObject(Date(*time->numberValue()));
  }
  if (className == "NSNull") return ArchiveObject::null();
  if (base == "NSString") {
    auto text = field(kStringField);
    if (!text || !text->isString()) return corrupt("a string has no valid NS.string", error);
    return ArchiveObject(*text->string());
  }
  if (base == "NSData") {
    auto bytes = field(kDataField);
    if (!bytes || !bytes->isData()) return corrupt("a data object has no valid NS.data", error);
    return ArchiveObject(*bytes->data());
  }
  return decodeCustom(uid, fields, className, key, error);
}

std::optional<ArchiveObject> KeyedUnarchiver::decodeCustom(uint64_t uid, const PropertyListDictionary& fields,
                                                           const std::string& className, const std::string& key,
                                                           Error* error) {
  if (auto found = decoded_.find(uid); found != decoded_.end()) return ArchiveObject(found->second);
  auto factory = registry_.factory(className);
  if (!factory) {
    return corrupt("cannot decode object of class (" + className + ") for key (" + key +
                       "); the class may be defined in source code or a library that is not linked",
                   error);
  }
  const PropertyListDictionary* outer = current_;
  current_ = &fields;
  Error failure;
  std::shared_ptr<Codable> object = (*factory)(*this, &failure);
  current_ = outer;
  if (error_) return corrupt({}, error);
  if (!object) {
    if (failure.domain().empty())
      return corrupt("an object of class '" + className + "' for key '" + key + "' could not be decoded", error);
    error_ = failure;
    setError(error, failure);
    return std::nullopt;
  }
  decoded_[uid] = object;
  return ArchiveObject(std::move(object));
}

}  // namespace qlt
