#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/archive_object.h"
#include "platform/foundation/codable.h"
#include "platform/foundation/error.h"
#include "platform/foundation/property_list.h"

namespace qlt {

using ClassNameSet = std::set<std::string>;

// Reads archives in the NSKeyedArchiver layout, securely: every object
// decoded must be of a class named in the allowed set of its call, where
// NSMutableX passes as NSX. Plain strings, numbers and data count as
// NSString, NSNumber and NSData and need those names too. The elements of
// collections are checked against the set the collection was decoded with;
// nil is always allowed. Classes of our own also need a factory in the
// registry, which must outlive the unarchiver.
//
// Errors are kCocoaCoderReadCorruptError (4864) for corrupt archives and
// refused classes, and kCocoaCoderValueNotFoundError (4865) for a missing
// key or a nil where a value is required. The first 4864 is kept: after it
// every decode fails with it, so a factory may simply return nullptr.
class KeyedUnarchiver {
 public:
  static std::unique_ptr<KeyedUnarchiver> forReading(const Bytes& bytes, Error* error = nullptr,
                                                     const CodableRegistry& registry = CodableRegistry::global());

  // The object under "root" of `bytes`.
  [[nodiscard]] static std::optional<ArchiveObject> unarchivedObject(const Bytes& bytes, const ClassNameSet& allowedClasses,
                                                       Error* error = nullptr,
                                                       const CodableRegistry& registry = CodableRegistry::global());

  bool containsValue(const std::string& key) const;

  [[nodiscard]] std::optional<ArchiveObject> decodeObjectOfClasses(const std::string& key, const ClassNameSet& allowedClasses,
                                                     Error* error = nullptr);
  // nullptr for nil; empty on failure.
  template <class T>
  [[nodiscard]] std::optional<std::shared_ptr<T>> decodeObjectOfClass(const std::string& key, const std::string& className,
                                                        Error* error = nullptr);
  [[nodiscard]] std::optional<std::string> decodeString(const std::string& key, Error* error = nullptr);
  [[nodiscard]] std::optional<Bytes> decodeData(const std::string& key, Error* error = nullptr);
  [[nodiscard]] std::optional<Date> decodeDate(const std::string& key, Error* error = nullptr);
  [[nodiscard]] std::optional<bool> decodeBool(const std::string& key, Error* error = nullptr);
  [[nodiscard]] std::optional<int64_t> decodeInt64(const std::string& key, Error* error = nullptr);
  [[nodiscard]] std::optional<double> decodeDouble(const std::string& key, Error* error = nullptr);

  // The first corruption or refusal met, if any.
  const std::optional<Error>& error() const { return error_; }

 private:
  KeyedUnarchiver(PropertyList archive, size_t size, const CodableRegistry& registry);

  const PropertyList* lookup(const std::string& key, Error* error);
  [[nodiscard]] std::optional<PropertyList> number(const std::string& key, Error* error);
  [[nodiscard]] std::optional<ArchiveObject> decodeReference(const PropertyList& value, const std::string& key,
                                               const ClassNameSet& allowed, Error* error);
  [[nodiscard]] std::optional<ArchiveObject> decodeUID(uint64_t uid, const std::string& key, const ClassNameSet& allowed,
                                         Error* error);
  [[nodiscard]] std::optional<ArchiveObject> decodeInstance(uint64_t uid, const PropertyListDictionary& fields,
                                              const std::string& className, const std::string& key,
                                              const ClassNameSet& allowed, Error* error);
  [[nodiscard]] std::optional<std::vector<ArchiveObject>> decodeList(const PropertyListDictionary& fields, const char* field,
                                                       const ClassNameSet& allowed, Error* error);
  [[nodiscard]] std::optional<ArchiveObject> decodeCustom(uint64_t uid, const PropertyListDictionary& fields,
                                            const std::string& className, const std::string& key, Error* error);
  std::nullopt_t corrupt(const std::string& description, Error* error);
  std::nullopt_t missing(const std::string& key, Error* error);

  PropertyList archive_;
  const PropertyListArray* objects_ = nullptr;
  const PropertyListDictionary* current_ = nullptr;
  const CodableRegistry& registry_;
  std::vector<bool> inProgress_;
  std::map<uint64_t, std::shared_ptr<Codable>> decoded_;
  int depth_ = 0;
  uint64_t budget_ = 0;
  std::optional<Error> error_;
};

template <class T>
[[nodiscard]] std::optional<std::shared_ptr<T>> KeyedUnarchiver::decodeObjectOfClass(const std::string& key,
                                                                       const std::string& className, Error* error) {
  auto object = decodeObjectOfClasses(key, {className}, error);
  if (!object) return std::nullopt;
  if (object->isNil()) return std::shared_ptr<T>();
  if (auto typed = object->objectAs<T>()) return typed;
  return corrupt("value for key '" + key + "' is not the expected type of object", error);
}

}  // namespace qlt
