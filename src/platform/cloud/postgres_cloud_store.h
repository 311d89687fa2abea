#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/cloud/cloud_fault_injector.h"
#include "platform/cloud/cloud_service.h"

namespace qlt {

// The cloud service on a PostgreSQL server, for libraries on several
// machines. The server's rules are the embedded store's (zones, change
// tags, policies, atomic zones, at most 400 records per request); the
// records of every user share the tables, keyed by the database user that
// connects (see docs/CLOUD_SERVER.md). Each request is one transaction on
// one connection, a savepoint per zone; change tags and zone change tokens
// come from one sequence, modification dates from the server's clock.
// Assets are stored in the database in chunks; fetched assets are fresh
// copies in `downloadsDirectory`, which the caller may remove.
//
// Failures of the server or the connection end the request with the cloud
// error they stand for (unreachable, server error, not authenticated,
// quota, limits) and leave nothing of it written; the next request
// connects again. The connection URI is never logged nor put into errors.
class PostgresCloudStore final : public CloudService {
 public:
  static constexpr size_t kMaximumRecordsPerRequest = 400;

  static std::shared_ptr<PostgresCloudStore> open(const std::string& url, const std::string& downloadsDirectory,
                                                  std::shared_ptr<CloudFaultInjector> faults, Error* error = nullptr);
  ~PostgresCloudStore() override;

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
  class Session;

  PostgresCloudStore(std::string url, std::string downloadsDirectory, std::shared_ptr<CloudFaultInjector> faults);

  // Runs `body` with the connection (made again when the last one broke),
  // cancelling the statement in flight when `cancellation` is set. An
  // exception of the server or the connection becomes the cloud error it
  // stands for; the connection is dropped when it broke.
  [[nodiscard]] std::optional<Error> withSession(const CloudCancellation& cancellation,
                                                 const std::function<void(Session&)>& body);

  std::string url_;
  std::string downloadsDirectory_;
  std::shared_ptr<CloudFaultInjector> faults_;
  std::mutex mutex_;
  std::unique_ptr<Session> session_;
};

}  // namespace qlt
