#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "platform/cloud/cloud_database_operation.h"

namespace qlt {

// Fetches what changed in one record zone since a server change token
// ("CKFetchRecordZoneChangesOperation"), one answer of at most
// `resultsLimit` changes: ask again from the new token while `moreComing`.
class FetchRecordZoneChangesOperation final : public CloudDatabaseOperation {
 public:
  // On failure the records and identifiers are empty and the token is the
  // one asked from.
  using CompletionBlock = std::function<void(const std::vector<CloudRecord>& changedRecords,
                                             const std::vector<RecordID>& deletedRecordIDs,
                                             const ServerChangeToken& token, bool moreComing, const Error* error)>;

  FetchRecordZoneChangesOperation() = default;
  FetchRecordZoneChangesOperation(RecordZoneID zoneID, std::optional<ServerChangeToken> previousToken)
      : zoneID(std::move(zoneID)), previousServerChangeToken(std::move(previousToken)) {}

  RecordZoneID zoneID;
  std::optional<ServerChangeToken> previousServerChangeToken;
  size_t resultsLimit = 0;
  CompletionBlock fetchRecordZoneChangesCompletionBlock;

  std::string description() const override { return "<FetchRecordZoneChangesOperation>"; }

 protected:
  void perform(CloudService* service, CloudDatabaseScope scope, const CloudCancellation& cancellation) override;
};

}  // namespace qlt
