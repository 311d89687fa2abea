#pragma once

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <thread>
#include <vector>

#include "platform/cloud/cloud_fetch_records_operation.h"
#include "platform/cloud/cloud_modify_records_operation.h"
#include "platform/cloud/embedded_cloud_container.h"
#include "platform/cloud/postgres_cloud_container.h"
#include "platform/files/file_system.h"
#include "support/postgres_test_server.h"
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

enum class CloudBackend { Embedded, PostgreSQL };

inline std::string cloudBackendName(const ::testing::TestParamInfo<CloudBackend>& info) {
  return info.param == CloudBackend::Embedded ? "Embedded" : "PostgreSQL";
}

// A container of the backend under test with the zone "Library" in its
// private database: the embedded store on a scratch folder, or a fresh
// database of the test program's PostgreSQL server (skipped when
// PostgreSQL is not installed).
class CloudStoreTest : public ::testing::TestWithParam<CloudBackend> {
 protected:
  void SetUp() override {
    if (GetParam() == CloudBackend::PostgreSQL) {
      std::string why;
      server = PostgresTestServer::shared(&why);
      if (!server) GTEST_SKIP() << why;
      auto created = server->createDatabase(&why);
      ASSERT_TRUE(created) << why;
      url = *created;
    }
    Error error;
    ASSERT_TRUE(openContainer(&error)) << error.description();
    ASSERT_TRUE(ensureZone(CloudDatabaseScope::Private, zone, &error)) << error.description();
  }

  // A new container on the same store, as another process would open it;
  // the first one becomes `container`.
  std::shared_ptr<CloudContainer> openContainer(Error* error = nullptr) {
    std::shared_ptr<CloudContainer> opened;
    if (GetParam() == CloudBackend::Embedded) {
      auto embedded = EmbeddedCloudContainer::open("iCloud.test", scratch.path("Cloud"), error);
      if (embedded && !embeddedContainer) embeddedContainer = embedded;
      opened = embedded;
    } else {
      auto postgres = PostgresCloudContainer::open("iCloud.test", url, "test server",
                                                   scratch.path("Downloads " + std::to_string(opens++)), error);
      if (postgres && !postgresContainer) postgresContainer = postgres;
      opened = postgres;
    }
    if (opened && !container) container = opened;
    return opened;
  }
  // A new service on the same store.
  std::shared_ptr<CloudService> openService() {
    if (GetParam() == CloudBackend::Embedded) return EmbeddedCloudStore::open(scratch.path("Cloud"), nullptr);
    return PostgresCloudStore::open(url, scratch.path("Downloads " + std::to_string(opens++)), nullptr);
  }
  CloudFaultInjector& faults() {
    return embeddedContainer ? embeddedContainer->faults() : postgresContainer->faults();
  }
  bool ensureZone(CloudDatabaseScope scope, const RecordZoneID& zoneID, Error* error = nullptr) {
    return embeddedContainer ? embeddedContainer->ensureZone(scope, zoneID, error)
                             : postgresContainer->ensureZone(scope, zoneID, error);
  }
  // How many asset files the store keeps.
  size_t storedAssetCount() {
    if (GetParam() == CloudBackend::Embedded) return contentsOfDirectory(scratch.path("Cloud/Assets"))->size();
    auto count = server->query(url, "SELECT count(DISTINCT asset) FROM quillet_asset_chunks");
    return count ? std::stoul(*count) : 0;
  }

  RecordID recordID(const std::string& name) const { return RecordID(name, zone); }
  CloudRecord newRecord(const std::string& name, const std::string& type = "Item") const {
    return CloudRecord(type, recordID(name));
  }
  CloudDatabase& privateDatabase() { return *container->privateCloudDatabase(); }

  ScratchDirectory scratch;
  RecordZoneID zone{"Library", kCurrentUserDefaultName};
  PostgresTestServer* server = nullptr;
  std::string url;
  int opens = 0;
  std::shared_ptr<CloudContainer> container;
  std::shared_ptr<EmbeddedCloudContainer> embeddedContainer;
  std::shared_ptr<PostgresCloudContainer> postgresContainer;
};

#define QLT_CLOUD_BACKEND_TESTS(fixture)                                                                      \
  INSTANTIATE_TEST_SUITE_P(Backends, fixture, ::testing::Values(CloudBackend::Embedded, CloudBackend::PostgreSQL), \
                           cloudBackendName)

}  // namespace qlt
