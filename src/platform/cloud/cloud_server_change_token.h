#pragma once

#include <cstdint>
#include <optional>

#include "platform/foundation/codable.h"
#include "platform/foundation/property_list.h"

namespace qlt {

// An opaque position in the change history of a database or a record zone,
// handed out by the server and given back to fetch what changed since
// ("CKServerChangeToken" in archives).
class ServerChangeToken final : public Codable {
 public:
  ServerChangeToken() = default;
  explicit ServerChangeToken(Bytes data) : data(std::move(data)) {}

  Bytes data;

  std::string className() const override { return "CKServerChangeToken"; }
  void encode(KeyedArchiver& archiver) const override;
  bool operator==(const ServerChangeToken& other) const { return data == other.data; }
};

// The tokens of the cloud stores here: a position in the store's change
// counter as decimal text. nullopt when `token` holds anything else.
ServerChangeToken changeTokenForPosition(int64_t position);
std::optional<int64_t> positionOfChangeToken(const ServerChangeToken& token);

// Builds a token from its archived form; registered with the cloud record
// classes (registerCloudRecordClasses).
std::shared_ptr<Codable> decodeServerChangeToken(KeyedUnarchiver& coder, Error* error);

}  // namespace qlt
