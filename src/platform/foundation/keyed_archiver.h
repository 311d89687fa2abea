#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/foundation/archive_object.h"
#include "platform/foundation/error.h"
#include "platform/foundation/property_list.h"

namespace qlt {

class Codable;

// Writes the NSKeyedArchiver layout over a binary property list. Keys
// encoded outside any object land in "$top"; Codable::encode calls land in
// that object. The same value archived twice gives the same bytes.
//
// The first failure (a cycle among our own objects, nesting past 512 levels,
// an insecure class when secure coding is required, a string that is not
// UTF-8) is kept, later calls do nothing, and finishing reports it.
class KeyedArchiver {
 public:
  explicit KeyedArchiver(bool requiresSecureCoding = true);

  bool requiresSecureCoding() const { return requiresSecureCoding_; }

  void encodeObject(const std::string& key, const ArchiveObject& object);
  void encodeString(const std::string& key, const std::string& value) { encodeObject(key, value); }
  void encodeData(const std::string& key, const Bytes& value) { encodeObject(key, value); }
  void encodeDate(const std::string& key, Date value) { encodeObject(key, value); }
  // Numbers and Booleans are stored in place, not as objects.
  void encodeBool(const std::string& key, bool value);
  void encodeInt64(const std::string& key, int64_t value);
  void encodeDouble(const std::string& key, double value);

  // The archive of everything encoded so far.
  [[nodiscard]] std::optional<Bytes> finishEncoding(Error* error = nullptr);

  // An archive whose "root" is `root`.
  [[nodiscard]] static std::optional<Bytes> archivedData(const ArchiveObject& root, bool requiresSecureCoding = true,
                                           Error* error = nullptr);

 private:
  [[nodiscard]] std::optional<PropertyListUID> reference(const ArchiveObject& object);
  [[nodiscard]] std::optional<PropertyListUID> referenceTo(const std::shared_ptr<Codable>& object);
  PropertyListUID classReference(const std::vector<std::string>& hierarchy);
  [[nodiscard]] std::optional<PropertyListArray> references(const std::vector<ArchiveObject>& objects);
  PropertyListUID append(PropertyList object);
  void set(const std::string& key, PropertyList value);
  void fail(const std::string& description);

  bool requiresSecureCoding_;
  PropertyListArray objects_;
  PropertyListDictionary top_;
  PropertyListDictionary* current_ = &top_;
  std::map<std::string, uint64_t> strings_;
  std::map<std::string, uint64_t> classes_;
  std::map<const Codable*, uint64_t> encoded_;
  std::set<const Codable*> inProgress_;
  // Keeps objects alive while archiving so that no address is reused.
  std::vector<std::shared_ptr<Codable>> retained_;
  int depth_ = 0;
  std::optional<Error> error_;
};

// A secure archive of one number: for equal values the bytes are equal.
[[nodiscard]] std::optional<Bytes> archivedNumber(double value, Error* error = nullptr);

}  // namespace qlt
