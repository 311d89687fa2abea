#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <future>

#include "changes/library_change_deleted_file_provider_item.h"
#include "changes/library_change_set.h"
#include "changes/library_changes_model.h"
#include "cloud/library_cloud_sync.h"
#include "model/folder.h"
#include "model/group_classes.h"
#include "model/item.h"
#include "model/item_file_versions.h"
#include "model/model_fixture.h"
#include "platform/cloud/cloud_container.h"
#include "platform/cloud/embedded_cloud_store.h"
#include "platform/cloud/postgres_cloud_store.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/objectstore/persistent_container.h"
#include "platform/cloud/cloud_test_support.h"
#include "support/other_process_writer.h"
#include "store/library_model_constants.h"

namespace qlt {
namespace {

// Passes requests on to the store behind it; `beforeRequest` may stop the
// server first (the count says which request of the kind this is).
class InterruptibleService : public CloudService {
 public:
  explicit InterruptibleService(std::shared_ptr<CloudService> real) : real_(std::move(real)) {}

  std::function<void(const char* kind, int count)> beforeRequest;

  CloudModifyRecordsResult modifyRecords(CloudDatabaseScope scope, const CloudModifyRecordsRequest& request,
                                         const CloudCancellation& cancellation) override {
    notice("modify");
    return real_->modifyRecords(scope, request, cancellation);
  }
  CloudFetchRecordsResult fetchRecords(CloudDatabaseScope scope, const CloudFetchRecordsRequest& request,
                                       const CloudCancellation& cancellation) override {
    notice("fetch");
    return real_->fetchRecords(scope, request, cancellation);
  }
  CloudModifyRecordZonesResult modifyRecordZones(CloudDatabaseScope scope, const std::vector<RecordZoneID>& save,
                                                 const std::vector<RecordZoneID>& remove,
                                                 const CloudCancellation& cancellation) override {
    return real_->modifyRecordZones(scope, save, remove, cancellation);
  }
  CloudFetchRecordZonesResult fetchAllRecordZones(CloudDatabaseScope scope,
                                                  const CloudCancellation& cancellation) override {
    return real_->fetchAllRecordZones(scope, cancellation);
  }
  CloudFetchZoneChangesResult fetchZoneChanges(CloudDatabaseScope scope, const CloudFetchZoneChangesRequest& request,
                                               const CloudCancellation& cancellation) override {
    notice("changes");
    return real_->fetchZoneChanges(scope, request, cancellation);
  }

 private:
  void notice(const char* kind) {
    int count = ++counts_[kind];
    if (beforeRequest) beforeRequest(kind, count);
  }

  std::shared_ptr<CloudService> real_;
  std::map<std::string, int> counts_;
};

class ServiceContainer : public CloudContainer {
 public:
  explicit ServiceContainer(std::shared_ptr<CloudService> service)
      : private_(std::make_shared<CloudDatabase>(service, CloudDatabaseScope::Private)),
        shared_(std::make_shared<CloudDatabase>(service, CloudDatabaseScope::Shared)) {}
  const std::string& containerIdentifier() const override { return identifier_; }
  std::shared_ptr<CloudDatabase> privateCloudDatabase() override { return private_; }
  std::shared_ptr<CloudDatabase> sharedCloudDatabase() override { return shared_; }
  std::string storeLocation() const override { return "test"; }

 private:
  std::string identifier_ = kCloudContainerName;
  std::shared_ptr<CloudDatabase> private_;
  std::shared_ptr<CloudDatabase> shared_;
};

struct GroupClassesRegisteredForSync {
  GroupClassesRegisteredForSync() { registerGroupClasses(); }
};

// A library with a changes database, synced with a store of the backend
// under test; `other` writes into the store as another machine would.
class LibraryCloudSyncTest : public ::testing::TestWithParam<CloudBackend>,
                             private GroupClassesRegisteredForSync,
                             public ModelFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library) << loadError.description();
    Error error;
    if (GetParam() == CloudBackend::PostgreSQL) {
      std::string why;
      server = PostgresTestServer::shared(&why);
      if (!server) GTEST_SKIP() << why;
      auto url = server->createDatabase(&why);
      ASSERT_TRUE(url) << why;
      other = PostgresCloudStore::open(*url, scratch.path("Downloads"), faults, &error);
    } else {
      other = EmbeddedCloudStore::open(scratch.path("Cloud"), faults, &error);
    }
    ASSERT_TRUE(other) << error.description();
    service = std::make_shared<InterruptibleService>(other);
    installed.emplace(kCloudContainerName, std::make_shared<ServiceContainer>(service));
    ASSERT_TRUE(createDirectory(scratch.path("Changes"), true));
    changesContainer.loadPersistentStores([](const PersistentStoreDescription&, const Error*) {});
    changes = changesContainer.newBackgroundContext();
    ASSERT_TRUE(changes);
    root = std::dynamic_pointer_cast<Folder>(LibraryObject::libraryObject(view(), "RootFolder", "RootFolder"));
    ASSERT_TRUE(root);
  }

  // Stops the server (or, for the embedded store, makes it unreachable)
  // and starts it again.
  void stopServer() {
    if (server) {
      ASSERT_TRUE(server->stop());
    } else {
      faults->failNextRequests(cloudError(kCloudErrorNetworkFailure), 1000);
    }
  }
  void restartServer() {
    if (server) {
      ASSERT_TRUE(server->restart());
    } else {
      faults->reset();
    }
  }

  std::optional<LibraryCloudSyncSummary> sync(Error* error = nullptr) {
    return LibraryCloudSync(manager, changes).sync(error);
  }

  // Items made in the view context as the host application makes them,
  // with files, saved and named by one pending change set.
  std::vector<std::shared_ptr<Item>> makeItems(const Folder::Ptr& folder, int count, const std::string& prefix) {
    std::vector<std::shared_ptr<Item>> items;
    RecordIDSet inserted;
    view().performAndWait([&] {
      EXPECT_TRUE(folder->createFolder());
      for (int index = 0; index < count; ++index) {
        auto item = std::dynamic_pointer_cast<Item>(view().insertNewObject("Item"));
        std::string name = prefix + " " + std::to_string(index) + ".txt";
        item->setValueForKey("filename", name);
        item->setValueForKey("name", name);
        item->setObjectForKey("folder", folder);
        item->setDateModified(Date(1000));
        std::ofstream(*item->fileURL()) << "contents of " << name;
        items.push_back(item);
        inserted.insert(item->cloudRecordID());
      }
      EXPECT_TRUE(manager->saveLibrary());
    });
    recordChangeSet(inserted, {}, {});
    return items;
  }

  void recordChangeSet(const RecordIDSet& inserted, const RecordIDSet& updated, const ChangedKeysByRecordID& keys) {
    changes->performAndWait([&] {
      LibraryChangeSet::changeRecordSet(inserted, updated, keys, {}, *changes);
      EXPECT_TRUE(changes->save());
    });
  }

  int64_t pendingChangeSets() {
    int64_t count = -1;
    changes->performAndWait([&] { count = changes->count(FetchRequest(kChangeSetEntityName)).value_or(-1); });
    return count;
  }

  CloudRecord serverRecord(const RecordID& recordID) {
    CloudFetchRecordsRequest request;
    request.recordIDs = {recordID};
    auto result = other->fetchRecords(CloudDatabaseScope::Private, request, never);
    EXPECT_TRUE(result.records.count(recordID)) << recordID.recordName;
    return result.records.count(recordID) ? result.records.at(recordID) : CloudRecord("", recordID);
  }
  void save(const std::vector<CloudRecord>& records, const std::vector<RecordID>& deletions = {}) {
    CloudModifyRecordsRequest request{records, deletions, CloudSavePolicy::ChangedKeys, true};
    auto result = other->modifyRecords(CloudDatabaseScope::Private, request, never);
    ASSERT_FALSE(result.error) << result.error->description();
    ASSERT_TRUE(result.recordErrors.empty());
  }
  size_t serverRecordCount() {
    size_t count = 0;
    std::optional<ServerChangeToken> token;
    for (bool more = true; more;) {
      auto changed = other->fetchZoneChanges(CloudDatabaseScope::Private,
                                             {LibraryManager::libraryZoneID(), token, 0}, never);
      EXPECT_FALSE(changed.error);
      count += changed.changedRecords.size();
      token = changed.token;
      more = changed.moreComing;
    }
    return count;
  }
  template <typename T>
  std::shared_ptr<T> find(const std::string& entity, const std::string& identifier) {
    std::shared_ptr<T> found;
    view().performAndWait([&] { found = std::dynamic_pointer_cast<T>(LibraryObject::libraryObject(view(), entity, identifier)); });
    return found;
  }

  PostgresTestServer* server = nullptr;
  std::shared_ptr<CloudFaultInjector> faults = std::make_shared<CloudFaultInjector>();
  std::shared_ptr<CloudService> other;
  std::shared_ptr<InterruptibleService> service;
  std::optional<ScopedCloudContainer> installed;
  PersistentContainer changesContainer{kLibraryChangesModelName, libraryChangesModel(), scratch.path("Changes")};
  std::shared_ptr<ManagedObjectContext> changes;
  Folder::Ptr root;
  CloudCancellation never;
};

TEST_P(LibraryCloudSyncTest, AnotherMachinesRecordsArriveAndLocalChangesLeave) {
  Folder::Ptr folder;
  view().performAndWait([&] { folder = root->createSubfolder("Papers"); });
  ASSERT_TRUE(folder);
  auto items = makeItems(folder, 2, "Mine");
  Error error;
  auto first = sync(&error);
  ASSERT_TRUE(first) << error.description();
  EXPECT_EQ(pendingChangeSets(), 0);
  std::string mineID = items[0]->identifier();
  RecordID mine = items[0]->cloudRecordID();
  CloudRecord uploaded = serverRecord(mine);
  ASSERT_TRUE(uploaded.objectForKey(kItemCloudFileAssetKey));
  EXPECT_EQ(readFile(uploaded.objectForKey(kItemCloudFileAssetKey)->asset()->filePath), "contents of Mine 0.txt");

  // The other machine adds an item with a file, renames one and edits the other.
  std::string source = scratch.path("theirs.txt");
  ASSERT_TRUE(writeFileAtomically(source, "their bytes"));
  CloudRecord added("Item", RecordID("Item|THEIRS", LibraryManager::libraryZoneID()));
  added.setObjectForKey("identifier", "THEIRS");
  added.setObjectForKey("name", "Theirs.txt");
  added.setObjectForKey("filename", "Theirs.txt");
  added.setObjectForKey("dateModified", Date(2000));
  added.setObjectForKey("folder", CloudReference{folder->cloudRecordID()});
  added.setObjectForKey(kItemCloudFileAssetKey, CloudAsset{source});
  CloudRecord renamed = uploaded;
  renamed.setObjectForKey("name", "Renamed.txt");
  renamed.setObjectForKey("filename", "Renamed.txt");
  CloudRecord edited = serverRecord(items[1]->cloudRecordID());
  edited.setObjectForKey("dateModified", Date(3000));
  edited.setObjectForKey(kItemCloudFileAssetKey, CloudAsset{source});
  save({added, renamed, edited});
  std::string editedPath = *items[1]->fileURL();

  auto second = sync(&error);
  ASSERT_TRUE(second) << error.description();
  EXPECT_GE(second->appliedRecords, 3u);
  auto theirs = find<Item>("Item", "THEIRS");
  ASSERT_TRUE(theirs);
  view().performAndWait([&] {
    EXPECT_EQ(theirs->folder(), folder);
    EXPECT_FALSE(theirs->fileExists()) << "left for the download on open";
    EXPECT_EQ(theirs->valueForKey("cloudFileDownloadStatus"), Value(int64_t{0}));
    auto renamedItem = find<Item>("Item", mineID);
    EXPECT_EQ(renamedItem->filename(), "Renamed.txt");
    EXPECT_EQ(readFile(*renamedItem->fileURL()), "contents of Mine 0.txt") << "the file follows the name";
  });
  EXPECT_FALSE(fileExists(editedPath)) << "edited elsewhere: the old contents make way for the download";
  auto versions = ItemFileVersions::ofSharedLibrary().versionsOfItem(items[1]->identifier());
  ASSERT_EQ(versions.size(), 1u);
  EXPECT_EQ(readFile(versions[0]), "contents of Mine 1.txt");

  // Nothing new: nothing applied; a deletion deletes, with its row.
  EXPECT_EQ(sync()->appliedRecords, 0u);
  save({}, {mine});
  auto third = sync(&error);
  ASSERT_TRUE(third) << error.description();
  EXPECT_EQ(third->deletedObjects, 1u);
  EXPECT_FALSE(find<Item>("Item", mineID));
  std::vector<std::string> rows;
  changes->performAndWait([&] {
    auto fetched = changes->fetch(FetchRequest(kDeletedFileProviderItemEntityName));
    ASSERT_TRUE(fetched);
    for (const ManagedObjectPtr& row : *fetched) {
      Value identifier = row->valueForKey("fileProviderItemIdentifier");
      rows.push_back(identifier.string() ? *identifier.string() : "");
    }
  });
  EXPECT_EQ(rows, std::vector<std::string>{"Item|" + mineID});
}

TEST_P(LibraryCloudSyncTest, RecordsAreAppliedOnlyInTheWritersTurn) {
  auto items = makeItems(root, 1, "Turn");
  ASSERT_TRUE(sync());
  CloudRecord renamed = serverRecord(items[0]->cloudRecordID());
  renamed.setObjectForKey("name", "Renamed elsewhere.txt");
  renamed.setObjectForKey("filename", "Renamed elsewhere.txt");
  save({renamed});

  // Another process's writer holds the turn: its own description of the lock file.
  OtherProcessWriter otherWriter(manager->libraryFilePath());
  ASSERT_TRUE(otherWriter.take());
  auto syncing = std::async(std::launch::async, [&] { return sync(); });
  EXPECT_EQ(syncing.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
  view().performAndWait([&] { EXPECT_EQ(items[0]->filename(), "Turn 0.txt"); });
  ASSERT_TRUE(otherWriter.release());
  auto summary = syncing.get();
  ASSERT_TRUE(summary);
  EXPECT_GE(summary->appliedRecords, 1u);
  view().performAndWait([&] { EXPECT_EQ(items[0]->filename(), "Renamed elsewhere.txt"); });
}

TEST_P(LibraryCloudSyncTest, EditsOnBothSidesMergeByTheConflictRules) {
  auto items = makeItems(root, 1, "Shared");
  ASSERT_TRUE(sync());
  RecordID recordID = items[0]->cloudRecordID();
  // Here: a new name, pending. There: a new comment, and a new name the
  // server did not mark as its own more recent change.
  view().performAndWait([&] {
    items[0]->setValueForKey("name", "Local name");
    EXPECT_TRUE(manager->saveLibrary());
  });
  recordChangeSet({}, {recordID}, {{recordID, {"name"}}});
  CloudRecord theirs = serverRecord(recordID);
  theirs.setObjectForKey("name", "Their name");
  theirs.setObjectForKey("comments", "Their comment");
  save({theirs});

  Error error;
  ASSERT_TRUE(sync(&error)) << error.description();
  view().performAndWait([&] {
    EXPECT_EQ(items[0]->name(), "Local name");
    EXPECT_EQ(items[0]->valueForKey("comments"), Value("Their comment"));
  });
  CloudRecord after = serverRecord(recordID);
  EXPECT_EQ(*after.objectForKey("name")->string(), "Local name");
  EXPECT_EQ(*after.objectForKey("comments")->string(), "Their comment");
}

TEST_P(LibraryCloudSyncTest, AServerStoppingMidUploadOrFetchLeavesNothingHalfDone) {
  makeItems(root, 250, "Bulk");  // two batches
  service->beforeRequest = [this](const char* kind, int count) {
    if (std::string(kind) == "modify" && count == 2) stopServer();
  };
  Error error;
  EXPECT_FALSE(sync(&error));
  EXPECT_EQ(error.domain(), kCloudErrorDomain);
  EXPECT_TRUE(error.code() == kCloudErrorNetworkFailure || error.code() == kCloudErrorNetworkUnavailable)
      << error.description();
  EXPECT_EQ(pendingChangeSets(), 1) << "kept for the next sync";
  service->beforeRequest = nullptr;
  restartServer();
  auto finished = sync(&error);
  ASSERT_TRUE(finished) << error.description();
  EXPECT_EQ(pendingChangeSets(), 0);
  size_t uploaded = serverRecordCount();
  EXPECT_GE(uploaded, 250u);

  // Three new records there; the server stops while they are fetched.
  std::vector<CloudRecord> added;
  for (const char* identifier : {"N1", "N2", "N3"}) {
    CloudRecord record("Item", RecordID(std::string("Item|") + identifier, LibraryManager::libraryZoneID()));
    record.setObjectForKey("identifier", identifier);
    record.setObjectForKey("filename", std::string(identifier) + ".txt");
    record.setObjectForKey("folder", CloudReference{root->cloudRecordID()});
    added.push_back(record);
  }
  save(added);
  std::optional<ServerChangeToken> tokenBefore;
  view().performAndWait([&] { tokenBefore = library->changeTokensByRecordZone()->at(LibraryManager::libraryZoneID()); });
  service->beforeRequest = [this](const char* kind, int) {
    if (std::string(kind) == "changes") stopServer();
  };
  EXPECT_FALSE(sync(&error));
  EXPECT_FALSE(find<Item>("Item", "N1"));
  view().performAndWait([&] {
    EXPECT_EQ(library->changeTokensByRecordZone()->at(LibraryManager::libraryZoneID()), *tokenBefore);
  });
  service->beforeRequest = nullptr;
  restartServer();
  auto after = sync(&error);
  ASSERT_TRUE(after) << error.description();
  EXPECT_EQ(after->appliedRecords, 3u);
  EXPECT_TRUE(find<Item>("Item", "N3"));
}

QLT_CLOUD_BACKEND_TESTS(LibraryCloudSyncTest);

}  // namespace
}  // namespace qlt
