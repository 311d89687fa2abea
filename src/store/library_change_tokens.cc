#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/keyed_unarchiver.h"
#include "platform/foundation/log.h"
#include "store/library.h"

namespace qlt {
namespace {

constexpr const char* kPrivateDatabaseTokenKey = "privateDatabaseServerChangeTokenData";
constexpr const char* kSharedDatabaseTokenKey = "sharedDatabaseServerChangeTokenData";
constexpr const char* kCloudNotificationsTokenKey = "cloudNotificationsServerChangeTokenData";
constexpr const char* kZoneTokensKey = "changeTokensByRecordZoneData";

Value archived(const ArchiveObject& root) {
  auto data = KeyedArchiver::archivedData(root);
  return data ? Value(std::move(*data)) : Value();
}

}  // namespace

std::optional<ServerChangeToken> Library::serverChangeToken(const char* key, const char* failureFormat) const {
  Value data = valueForKey(key);
  if (!data.data()) return std::nullopt;
  registerCloudRecordClasses();
  Error error;
  auto object = KeyedUnarchiver::unarchivedObject(*data.data(), {"CKServerChangeToken"}, &error);
  if (!object) {
    log(failureFormat, error);
    return std::nullopt;
  }
  auto token = object->objectAs<ServerChangeToken>();
  if (!token) return std::nullopt;
  return *token;
}

void Library::setServerChangeToken(const char* key, const std::optional<ServerChangeToken>& token) {
  setValueForKey(key, token ? archived(ArchiveObject(std::make_shared<ServerChangeToken>(*token))) : Value());
}

std::optional<ServerChangeToken> Library::privateDatabaseServerChangeToken() const {
  return serverChangeToken(kPrivateDatabaseTokenKey, "Couldn't unarchive private database server change token: %@");
}

void Library::setPrivateDatabaseServerChangeToken(const std::optional<ServerChangeToken>& token) {
  setServerChangeToken(kPrivateDatabaseTokenKey, token);
}

std::optional<ServerChangeToken> Library::sharedDatabaseServerChangeToken() const {
  return serverChangeToken(kSharedDatabaseTokenKey, "Couldn't decode sharedDatabaseServerChangeToken: %@");
}

void Library::setSharedDatabaseServerChangeToken(const std::optional<ServerChangeToken>& token) {
  setServerChangeToken(kSharedDatabaseTokenKey, token);
}

std::optional<ServerChangeToken> Library::cloudNotificationsServerChangeToken() const {
  return serverChangeToken(kCloudNotificationsTokenKey, "Couldn't decode cloudNotificationsServerChangeToken: %@");
}

void Library::setCloudNotificationsServerChangeToken(const std::optional<ServerChangeToken>& token) {
  setServerChangeToken(kCloudNotificationsTokenKey, token);
}

std::optional<Library::ChangeTokensByRecordZone> Library::changeTokensByRecordZone() const {
  Value data = valueForKey(kZoneTokensKey);
  if (!data.data()) return std::nullopt;
  registerCloudRecordClasses();
  Error error;
  auto object = KeyedUnarchiver::unarchivedObject(
      *data.data(), {"NSDictionary", "CKRecordZoneID", "CKServerChangeToken"}, &error);
  if (!object || !object->dictionary()) {
    if (object) error = Error(kCocoaErrorDomain, 4864, "The data is not an archived dictionary.");
    log("Couldn't unarchive changeTokensByRecordZone: %@", error);
    return std::nullopt;
  }
  ChangeTokensByRecordZone tokens;
  for (const auto& [key, value] : object->dictionary()->entries) {
    auto zoneID = key.objectAs<RecordZoneID>();
    auto token = value.objectAs<ServerChangeToken>();
    if (zoneID && token) tokens.insert_or_assign(*zoneID, *token);
  }
  return tokens;
}

void Library::setChangeTokensByRecordZone(const ChangeTokensByRecordZone& tokens) {
  if (tokens.empty()) {
    setValueForKey(kZoneTokensKey, Value());
    return;
  }
  ArchiveDictionary dictionary;
  for (const auto& [zoneID, token] : tokens)
    dictionary.entries.emplace_back(ArchiveObject(std::make_shared<RecordZoneID>(zoneID)),
                                    ArchiveObject(std::make_shared<ServerChangeToken>(token)));
  setValueForKey(kZoneTokensKey, archived(ArchiveObject(std::move(dictionary))));
}

void Library::setServerChangeTokenForRecordZoneID(const std::optional<ServerChangeToken>& token,
                                                  const RecordZoneID& zoneID) {
  ChangeTokensByRecordZone tokens = changeTokensByRecordZone().value_or(ChangeTokensByRecordZone{});
  if (token) {
    tokens.insert_or_assign(zoneID, *token);
  } else {
    tokens.erase(zoneID);
  }
  setChangeTokensByRecordZone(tokens);
}

}  // namespace qlt
