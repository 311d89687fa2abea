#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/cloud/cloud_fault_injector.h"
#include "platform/cloud/cloud_service.h"

namespace qlt {

class Database;
class EmbeddedCloudAssetLock;

// The cloud service over a folder of this machine: "CloudStore.sqlite"
// holds zones and records of both database scopes, "Assets" the uploaded
// asset files, and "Downloads" the copies handed out by fetches. Several
// processes (and several stores in one process) may open one folder at
// once; each request is one transaction.
//
// Server rules: the private database always has the default zone, and a
// zone of the signed-in user comes into being there with the first record
// saved into it; other zones exist once saved, and records of a missing
// zone fail with zone not found. Every save assigns a new change tag and
// modification date. With IfServerRecordUnchanged a save whose change tag
// differs from the server copy's (an empty tag included) fails with server
// record changed. Under any policy but AllKeys a save with a change tag
// whose server copy is gone (deleted by another client) fails with unknown
// item; records without a tag are created. Saves other than AllKeys write
// the client's changed keys only. Requests name at most 400 records.
// Fetched assets are fresh copies in "Downloads", which the caller may
// remove; stored assets that a save replaces are removed only once no
// fetch of any process is copying (see EmbeddedCloudAssetLock).
class EmbeddedCloudStore final : public CloudService {
 public:
  static constexpr size_t kMaximumRecordsPerRequest = 400;

  static std::shared_ptr<EmbeddedCloudStore> open(const std::string& directory,
                                                  std::shared_ptr<CloudFaultInjector> faults,
                                                  Error* error = nullptr);
  ~EmbeddedCloudStore() override;

  const std::string& directory() const { return directory_; }
  // Creates the zone when it is missing; planned faults do not apply.
  [[nodiscard]] bool saveZone(CloudDatabaseScope scope, const RecordZoneID& zoneID, Error* error = nullptr);

  CloudModifyRecordsResult modifyRecords(CloudDatabaseScope scope, const CloudModifyRecordsRequest& request,
                                         const CloudCancellation& cancellation) override;
  CloudFetchRecordsResult fetchRecords(CloudDatabaseScope scope, const CloudFetchRecordsRequest& request,
                                       const CloudCancellation& cancellation) override;
  CloudModifyRecordZonesResult modifyRecordZones(CloudDatabaseScope scope, const std::vector<RecordZoneID>& zonesToSave,
                                                 const std::vector<RecordZoneID>& zoneIDsToDelete,
                                                 const CloudCancellation& cancellation) override;
  CloudFetchRecordZonesResult fetchAllRecordZones(CloudDatabaseScope scope,
                                                  const CloudCancellation& cancellation) override;
  CloudFetchZoneChangesResult fetchZoneChanges(CloudDatabaseScope scope, const CloudFetchZoneChangesRequest& request,
                                               const CloudCancellation& cancellation) override;

 private:
  struct SaveEffects;
  enum class Outcome { Done, RecordFailed, StoreFailed };

  EmbeddedCloudStore(std::string directory, std::shared_ptr<CloudFaultInjector> faults,
                     std::unique_ptr<Database> database, std::unique_ptr<EmbeddedCloudAssetLock> assetLock);

  [[nodiscard]] bool zoneExists(CloudDatabaseScope scope, const RecordZoneID& zoneID, bool& exists, Error* error);
  // `record` is left empty when there is no such record.
  [[nodiscard]] bool loadRecord(CloudDatabaseScope scope, const RecordID& recordID, std::optional<CloudRecord>& record,
                  Error* error);
  Outcome saveRecord(CloudDatabaseScope scope, const CloudRecord& client, CloudSavePolicy policy,
                     SaveEffects& effects, CloudRecord& saved, Error* error);
  Outcome deleteRecord(CloudDatabaseScope scope, const RecordID& recordID, SaveEffects& effects, Error* error);
  // The next number of the store's change counter: change tags are its
  // hexadecimal form, zone change tokens its decimal form.
  [[nodiscard]] std::optional<int64_t> nextChangeNumber(Error* error);
  [[nodiscard]] bool noteChange(CloudDatabaseScope scope, const RecordID& recordID, int64_t number, bool deleted,
                                Error* error);
  // Copies the file of `asset` into the asset folder and points it there.
  [[nodiscard]] bool uploadAsset(CloudAsset& asset, SaveEffects& effects, Error* error);
  // The record with its stored asset names turned into paths: of fresh
  // copies in the download folder, or of the stored files.
  [[nodiscard]] bool resolveAssets(CloudRecord& record, bool makeCopies, Error* error);
  [[nodiscard]] bool execute(const std::string& sql, Error* error);
  // Stored copies that no committed record names.
  void discardUploadedAssets(const std::vector<std::string>& names);
  // Stored copies that committed records named until now.
  void removeReplacedAssets(const std::vector<std::string>& names);

  std::string directory_;
  std::string assetsDirectory_;
  std::string downloadsDirectory_;
  std::shared_ptr<CloudFaultInjector> faults_;
  std::mutex mutex_;
  std::unique_ptr<Database> database_;
  std::unique_ptr<EmbeddedCloudAssetLock> assetLock_;
};

}  // namespace qlt
