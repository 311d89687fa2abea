#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/cloud/cloud_error.h"
#include "platform/cloud/cloud_record.h"
#include "platform/cloud/cloud_server_change_token.h"

namespace qlt {

enum class CloudDatabaseScope { Private = 2, Shared = 3 };

// "private" or "shared".
const char* cloudDatabaseScopeName(CloudDatabaseScope scope);

enum class CloudSavePolicy {
  // Refuses a save whose change tag is not the server's (server record changed).
  IfServerRecordUnchanged = 0,
  // Writes the fields set or removed on the client record; tags are not compared.
  ChangedKeys = 1,
  // Replaces every field and the parent; tags are not compared.
  AllKeys = 2,
};

// Set once by the operation that owns it; a request waiting for the server
// gives up when it is set.
class CloudCancellation {
 public:
  void cancel();
  bool isCancelled() const;
  // Waits until cancelled or until `duration` has passed; true when cancelled.
  bool waitFor(std::chrono::milliseconds duration) const;
  void wait() const;

  // Calls `onCancel` once when the cancellation is set (at once when it is
  // already) for as long as the returned object lives; destroying it waits
  // for a call in progress. `onCancel` must not touch this cancellation.
  [[nodiscard]] std::shared_ptr<void> observe(std::function<void()> onCancel) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable condition_;
  bool cancelled_ = false;
  mutable std::mutex observersMutex_;
  mutable std::map<int, std::function<void()>> observers_;
  mutable int nextObserver_ = 0;
};

struct CloudModifyRecordsRequest {
  std::vector<CloudRecord> recordsToSave;
  std::vector<RecordID> recordIDsToDelete;
  CloudSavePolicy savePolicy = CloudSavePolicy::IfServerRecordUnchanged;
  // All records of a zone are written, or none.
  bool atomic = true;
};

struct CloudModifyRecordsResult {
  // Set when the request failed as a whole; nothing was written then.
  std::optional<Error> error;
  std::vector<CloudRecord> savedRecords;
  std::vector<RecordID> deletedRecordIDs;
  CloudPartialErrors recordErrors;
};

struct CloudFetchRecordsRequest {
  std::vector<RecordID> recordIDs;
  // Fields to return; all when unset.
  std::optional<std::vector<std::string>> desiredKeys;
  // Told of each record's transfer while the request runs (0 to 1); the
  // operation reports 1 itself when a record arrives. It may be called with
  // the service's locks held: it must not call back into the service.
  std::function<void(const RecordID& recordID, double progress)> progress;
};

struct CloudFetchRecordsResult {
  std::optional<Error> error;
  std::map<RecordID, CloudRecord> records;
  CloudPartialErrors recordErrors;
};

struct CloudModifyRecordZonesResult {
  std::optional<Error> error;
  std::vector<RecordZoneID> savedZoneIDs;
  std::vector<RecordZoneID> deletedZoneIDs;
};

struct CloudFetchZoneChangesRequest {
  RecordZoneID zoneID;
  // Changes after this position; every record of the zone when unset.
  std::optional<ServerChangeToken> previousToken;
  // At most this many changes per answer (0: the server's choice).
  size_t resultsLimit = 0;
};

// Asset fields of the changed records name no file (an empty path): the
// record says that it carries a file, and fetchRecords brings it.
struct CloudFetchZoneChangesResult {
  std::optional<Error> error;
  std::vector<CloudRecord> changedRecords;
  std::vector<RecordID> deletedRecordIDs;
  // The position after these changes; ask again from it while `moreComing`.
  ServerChangeToken token;
  bool moreComing = false;
};

struct CloudFetchRecordZonesResult {
  std::optional<Error> error;
  std::vector<RecordZoneID> zoneIDs;
};

// The server side of cloud databases: answers one request at a time per
// call, synchronously, on the calling thread. Implementations are
// thread-safe and give up waiting when `cancellation` is set (reporting
// the operation-cancelled error).
class CloudService {
 public:
  virtual ~CloudService() = default;

  virtual CloudModifyRecordsResult modifyRecords(CloudDatabaseScope scope, const CloudModifyRecordsRequest& request,
                                                 const CloudCancellation& cancellation) = 0;
  virtual CloudFetchRecordsResult fetchRecords(CloudDatabaseScope scope, const CloudFetchRecordsRequest& request,
                                               const CloudCancellation& cancellation) = 0;
  virtual CloudModifyRecordZonesResult modifyRecordZones(CloudDatabaseScope scope,
                                                         const std::vector<RecordZoneID>& zonesToSave,
                                                         const std::vector<RecordZoneID>& zoneIDsToDelete,
                                                         const CloudCancellation& cancellation) = 0;
  virtual CloudFetchRecordZonesResult fetchAllRecordZones(CloudDatabaseScope scope,
                                                          const CloudCancellation& cancellation) = 0;
  // The records of a zone saved and deleted since a token, oldest change
  // first, each record once (as it is now). A token the server cannot read
  // fails with invalid arguments; a missing zone with zone not found.
  virtual CloudFetchZoneChangesResult fetchZoneChanges(CloudDatabaseScope scope,
                                                       const CloudFetchZoneChangesRequest& request,
                                                       const CloudCancellation& cancellation) = 0;
};

}  // namespace qlt
