#pragma once

#include <optional>
#include <string>
#include <tuple>

#include "platform/foundation/codable.h"
#include "platform/foundation/error.h"
#include "platform/foundation/property_list.h"

namespace qlt {

// The owner name that stands for the signed-in user.
inline constexpr const char* kCurrentUserDefaultName = "__defaultOwner__";
inline constexpr const char* kDefaultRecordZoneName = "_defaultZone";

// Names a record zone of a cloud database ("CKRecordZoneID" in archives).
class RecordZoneID final : public Codable {
 public:
  RecordZoneID() = default;
  RecordZoneID(std::string zoneName, std::string ownerName)
      : zoneName(std::move(zoneName)), ownerName(std::move(ownerName)) {}

  std::string zoneName = kDefaultRecordZoneName;
  std::string ownerName = kCurrentUserDefaultName;

  std::string className() const override { return "CKRecordZoneID"; }
  void encode(KeyedArchiver& archiver) const override;
  bool operator==(const RecordZoneID& other) const {
    return zoneName == other.zoneName && ownerName == other.ownerName;
  }
  auto operator<=>(const RecordZoneID& other) const {
    return std::tie(zoneName, ownerName) <=> std::tie(other.zoneName, other.ownerName);
  }
};

// Names a record: its name within a zone ("CKRecordID" in archives).
class RecordID final : public Codable {
 public:
  RecordID() = default;
  RecordID(std::string recordName, RecordZoneID zoneID)
      : recordName(std::move(recordName)), zoneID(std::move(zoneID)) {}

  std::string recordName;
  RecordZoneID zoneID;

  std::string className() const override { return "CKRecordID"; }
  void encode(KeyedArchiver& archiver) const override;
  bool operator==(const RecordID& other) const {
    return recordName == other.recordName && zoneID == other.zoneID;
  }
  auto operator<=>(const RecordID& other) const {
    return std::tie(recordName, zoneID) <=> std::tie(other.recordName, other.zoneID);
  }

  // A secure keyed archive of this identifier, and back.
  Bytes archivedData() const;
  [[nodiscard]] static std::optional<RecordID> fromArchivedData(const Bytes& data, Error* error = nullptr);
};

}  // namespace qlt
