#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/cloud/cloud_record_id.h"
#include "platform/cloud/cloud_server_change_token.h"

#include "store/library_object.h"

namespace qlt {

inline constexpr const char* kLibraryLabelsDidChangeNotification = "QLTLibraryLabelsDidChangeNotification";
inline constexpr const char* kLibrarySearchGroupsDidChangeNotification = "QLTLibrarySearchGroupsDidChangeNotification";
inline constexpr const char* kLibraryLastUsedLabelDidChangeNotification = "QLTLibraryLastUsedLabelDidChangeNotification";
inline constexpr const char* kLibraryDefaultStationeryDidChangeNotification =
    "QLTLibraryDefaultStationeryDidChangeNotification";
inline constexpr const char* kLibraryStoreInCloudSettingDidChangeNotification =
    "QLTLibraryStoreInCloudSettingDidChangeNotification";
inline constexpr const char* kLibraryDownloadAllItemsDidChangeNotification =
    "QLTLibraryDownloadAllItemsDidChangeNotification";
inline constexpr const char* kLibraryUseLastImportGroupKey = "QLTLibraryUseLastImportGroup";
inline constexpr const char* kLibraryRecentImportGroupIdentifiersKey = "QLTLibraryRecentImportGroupIdentifiers";

// The one object that owns a library's system groups and folders and its
// library-wide settings. Inserting it creates the system groups; fetching
// one made before the no-label group existed adds that group.
class Library : public LibraryObject {
 public:
  bool boolForKey(const std::string& key) const { return valueForKey(key).boolValue(); }

  // The no-label group first while it is visible, then the labels by name
  // in the file manager's order.
  std::vector<ManagedObjectPtr> orderedLabels() const;
  std::vector<ManagedObjectPtr> savedSearches() const;
  std::vector<ManagedObjectPtr> orderedSavedSearches() const;
  std::vector<ManagedObjectPtr> orderedActiveStationery() const;
  // The group itself when it is a folder, else the root folder.
  ManagedObjectPtr itemsFolderForGroup(const ManagedObjectPtr& group) const;
  ManagedObjectPtr effectiveDefaultImportGroup() const;

  // Setters that announce the change (see the notifications above).
  void setDownloadAllItems(bool value);
  void setStoreInCloudDatabase(bool value);
  void setLastUsedLabel(const ManagedObjectPtr& label);
  void setDefaultStationery(const ManagedObjectPtr& stationery);
  void addLabel(const ManagedObjectPtr& label);
  void removeLabel(const ManagedObjectPtr& label);
  void addSearchGroup(const ManagedObjectPtr& searchGroup);
  void removeSearchGroup(const ManagedObjectPtr& searchGroup);

  // Server change tokens, kept as secure keyed archives in the data
  // attributes of the same name with "Data" appended. Nothing is stored for
  // no token (or no zone entries); data that cannot be decoded is logged
  // and reads as no token.
  [[nodiscard]] std::optional<ServerChangeToken> privateDatabaseServerChangeToken() const;
  void setPrivateDatabaseServerChangeToken(const std::optional<ServerChangeToken>& token);
  [[nodiscard]] std::optional<ServerChangeToken> sharedDatabaseServerChangeToken() const;
  void setSharedDatabaseServerChangeToken(const std::optional<ServerChangeToken>& token);
  [[nodiscard]] std::optional<ServerChangeToken> cloudNotificationsServerChangeToken() const;
  void setCloudNotificationsServerChangeToken(const std::optional<ServerChangeToken>& token);
  using ChangeTokensByRecordZone = std::map<RecordZoneID, ServerChangeToken>;
  [[nodiscard]] std::optional<ChangeTokensByRecordZone> changeTokensByRecordZone() const;
  void setChangeTokensByRecordZone(const ChangeTokensByRecordZone& tokens);
  // Sets or, for no token, removes the zone's entry.
  void setServerChangeTokenForRecordZoneID(const std::optional<ServerChangeToken>& token, const RecordZoneID& zoneID);

  // Never turns "firstCloudStoreCompleted" back to NO.
  void updateFromCloudRecord(const CloudRecord& record) override;

 protected:
  void awakeFromInsert() override;
  void awakeFromFetch() override;

 private:
  ManagedObjectPtr insertSystemObject(const std::string& entityName, const std::string& relationship);
  [[nodiscard]] std::optional<ServerChangeToken> serverChangeToken(const char* key, const char* failureFormat) const;
  void setServerChangeToken(const char* key, const std::optional<ServerChangeToken>& token);
  std::vector<ManagedObjectPtr> fetchSorted(const std::string& entity, const std::string& format) const;
  // Posts `name` on the main queue with this library as the main-thread
  // context sees it; nothing when it cannot be found there.
  void postOnMainQueue(const char* name) const;
};

}  // namespace qlt
