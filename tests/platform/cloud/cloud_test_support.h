#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <thread>
#include <vector>

#include "platform/cloud/cloud_fetch_records_operation.h"
#include "platform/cloud/cloud_modify_records_operation.h"
#include "platform/cloud/embedded_cloud_container.h"
#include "support/scratch_directory.h"

namespace qlt {

struct ModifyOutcome {
  std::vector<CloudRecord> saved;
  std::vector<RecordID> deleted;
  std::optional<Error> error;
  std::map<RecordID, std::optional<Error>> perRecord;
  std::map<RecordID, double> progress;
  std::thread::id callbackThread;

  const Error* recordError(const RecordID& id) const {
    auto found = perRecord.find(id);
    return found != perRecord.end() && found->second ? &*found->second : nullptr;
  }
};

struct FetchOutcome {
  std::map<RecordID, CloudRecord> records;
  std::optional<Error> error;
  std::map<RecordID, double> progress;

  const Error* recordError(const RecordID& id) const {
    if (!error) return nullptr;
    auto errors = cloudPartialErrors(*error);
    if (!errors) return nullptr;
    auto found = errors->find(id);
    return found == errors->end() ? nullptr : &found->second;
  }
};

inline std::shared_ptr<ModifyRecordsOperation> makeModify(ModifyOutcome& outcome, std::vector<CloudRecord> save,
                                                          std::vector<RecordID> remove = {},
                                                          CloudSavePolicy policy = CloudSavePolicy::IfServerRecordUnchanged,
                                                          bool atomic = true) {
  auto operation = std::make_shared<ModifyRecordsOperation>(std::move(save), std::move(remove));
  operation->savePolicy = policy;
  operation->atomic = atomic;
  operation->perRecordProgressBlock = [&outcome](const CloudRecord& record, double progress) {
    outcome.progress[record.recordID()] = progress;
  };
  operation->perRecordCompletionBlock = [&outcome](const CloudRecord& record, const Error* error) {
    outcome.perRecord[record.recordID()] = error ? std::optional<Error>(*error) : std::nullopt;
  };
  operation->modifyRecordsCompletionBlock = [&outcome](const std::vector<CloudRecord>& saved,
                                                       const std::vector<RecordID>& deleted, const Error* error) {
    outcome.saved = saved;
    outcome.deleted = deleted;
    if (error) outcome.error = *error;
    outcome.callbackThread = std::this_thread::get_id();
  };
  return operation;
}

inline ModifyOutcome modify(CloudDatabase& database, std::vector<CloudRecord> save, std::vector<RecordID> remove = {},
                            CloudSavePolicy policy = CloudSavePolicy::IfServerRecordUnchanged, bool atomic = true) {
  ModifyOutcome outcome;
  auto operation = makeModify(outcome, std::move(save), std::move(remove), policy, atomic);
  database.add(operation);
  operation->waitUntilFinished();
  return outcome;
}

inline FetchOutcome fetch(CloudDatabase& database, std::vector<RecordID> ids,
                          std::optional<std::vector<std::string>> desiredKeys = std::nullopt) {
  FetchOutcome outcome;
  auto operation = std::make_shared<FetchRecordsOperation>(std::move(ids));
  operation->desiredKeys = std::move(desiredKeys);
  operation->perRecordProgressBlock = [&outcome](const RecordID& id, double progress) {
    outcome.progress[id] = progress;
  };
  operation->fetchRecordsCompletionBlock = [&outcome](const std::map<RecordID, CloudRecord>& records,
                                                      const Error* error) {
    outcome.records = records;
    if (error) outcome.error = *error;
  };
  database.add(operation);
  operation->waitUntilFinished();
  return outcome;
}

// A container on a scratch folder with the zone "Library" in its private
// database.
class CloudStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Error error;
    container = EmbeddedCloudContainer::open("iCloud.test", scratch.path("Cloud"), &error);
    ASSERT_TRUE(container) << error.description();
    ASSERT_TRUE(container->ensureZone(CloudDatabaseScope::Private, zone));
  }

  RecordID recordID(const std::string& name) const { return RecordID(name, zone); }
  CloudRecord newRecord(const std::string& name, const std::string& type = "Item") const {
    return CloudRecord(type, recordID(name));
  }
  CloudDatabase& privateDatabase() { return *container->privateCloudDatabase(); }

  ScratchDirectory scratch;
  RecordZoneID zone{"Library", kCurrentUserDefaultName};
  std::shared_ptr<EmbeddedCloudContainer> container;
};

}  // namespace qlt
