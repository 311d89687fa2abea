#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/cloud/cloud_database_operation.h"

namespace qlt {

// Fetches records by identifier ("CKFetchRecordsOperation"). Set the
// members before adding the operation to a database. Assets of fetched
// records name fresh local copies that the caller may move or delete.
class FetchRecordsOperation final : public CloudDatabaseOperation {
 public:
  using PerRecordProgressBlock = std::function<void(const RecordID& recordID, double progress)>;
  // `record` is null when `error` is set.
  using PerRecordCompletionBlock =
      std::function<void(const CloudRecord* record, const RecordID& recordID, const Error* error)>;
  using CompletionBlock =
      std::function<void(const std::map<RecordID, CloudRecord>& recordsByRecordID, const Error* error)>;

  FetchRecordsOperation() = default;
  explicit FetchRecordsOperation(std::vector<RecordID> recordIDs) : recordIDs(std::move(recordIDs)) {}

  std::vector<RecordID> recordIDs;
  // The fields to fetch; all when unset.
  std::optional<std::vector<std::string>> desiredKeys;

  PerRecordProgressBlock perRecordProgressBlock;
  PerRecordCompletionBlock perRecordCompletionBlock;
  CompletionBlock fetchRecordsCompletionBlock;

  std::string description() const override { return "<FetchRecordsOperation>"; }

 protected:
  void perform(CloudService* service, CloudDatabaseScope scope, const CloudCancellation& cancellation) override;
};

}  // namespace qlt
