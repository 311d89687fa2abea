#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/cloud/cloud_record_zone_operations.h"
#include "platform/files/file_system.h"
#include "platform/cloud/cloud_test_support.h"

namespace qlt {
namespace {

using Policy = CloudSavePolicy;

TEST_P(CloudStoreTest, EveryFieldTypeSurvivesSaveAndFetch) {
  std::string assetPath = scratch.path("photo.jpg");
  ASSERT_TRUE(writeFileAtomically(assetPath, "JPEG bytes"));
  CloudRecord record = newRecord("Item|A");
  record.setObjectForKey("name", "Ünïcode name");
  record.setObjectForKey("count", 1LL << 40);
  record.setObjectForKey("ratio", 0.25);
  record.setObjectForKey("flag", true);
  record.setObjectForKey("date", Date(123456.5));
  record.setObjectForKey("blob", Bytes{0, 1, 2, 255});
  record.setObjectForKey("folder", CloudReference{recordID("Folder|F"), CloudReferenceAction::DeleteSelf});
  record.setObjectForKey("tags", CloudList{CloudReference{recordID("Tag|1")}, CloudReference{recordID("Tag|2")}});
  record.setObjectForKey("names", CloudList{"a", "b"});
  record.setObjectForKey("file", CloudAsset{assetPath});
  record.setParent(CloudReference{recordID("Folder|F")});

  ModifyOutcome saved = modify(privateDatabase(), {record});
  ASSERT_FALSE(saved.error) << saved.error->description();
  ASSERT_EQ(saved.saved.size(), 1u);
  EXPECT_FALSE(saved.saved[0].recordChangeTag().empty());
  EXPECT_TRUE(saved.saved[0].modificationDate().has_value());
  EXPECT_EQ(saved.progress[record.recordID()], 1.0);
  EXPECT_NE(saved.callbackThread, std::this_thread::get_id());

  FetchOutcome fetched = fetch(privateDatabase(), {record.recordID()});
  ASSERT_FALSE(fetched.error);
  const CloudRecord& back = fetched.records.at(record.recordID());
  EXPECT_EQ(fetched.progress[record.recordID()], 1.0);
  EXPECT_EQ(back.recordChangeTag(), saved.saved[0].recordChangeTag());
  EXPECT_TRUE(back.changedKeys().empty());
  const CloudAsset* asset = back.objectForKey("file")->asset();
  ASSERT_TRUE(asset);
  EXPECT_NE(asset->filePath, assetPath);
  EXPECT_EQ(readFile(asset->filePath), "JPEG bytes");
  CloudRecord expected = record;
  expected.setObjectForKey("file", *asset);
  EXPECT_TRUE(back.hasSameContents(expected)) << back.description();

  // The downloaded copy belongs to the caller: removing it leaves the stored asset.
  ASSERT_TRUE(removeItem(asset->filePath));
  FetchOutcome again = fetch(privateDatabase(), {record.recordID()}, std::vector<std::string>{"file", "name"});
  ASSERT_FALSE(again.error);
  const CloudRecord& partial = again.records.at(record.recordID());
  EXPECT_EQ(partial.allKeys(), (std::vector<std::string>{"file", "name"}));
  EXPECT_EQ(readFile(partial.objectForKey("file")->asset()->filePath), "JPEG bytes");
}

TEST_P(CloudStoreTest, SystemFieldsArchiveRebuildsTheServerIdentity) {
  ModifyOutcome first = modify(privateDatabase(), {newRecord("Item|A")});
  ASSERT_EQ(first.saved.size(), 1u);
  auto rebuilt = CloudRecord::fromSystemFieldsData(first.saved[0].encodeSystemFields());
  ASSERT_TRUE(rebuilt);
  EXPECT_EQ(rebuilt->recordChangeTag(), first.saved[0].recordChangeTag());
  EXPECT_EQ(rebuilt->recordID(), recordID("Item|A"));
  EXPECT_TRUE(rebuilt->fields().empty());
  rebuilt->setObjectForKey("name", "renamed");
  ModifyOutcome second = modify(privateDatabase(), {*rebuilt});
  ASSERT_FALSE(second.error) << second.error->description();
  EXPECT_NE(second.saved[0].recordChangeTag(), first.saved[0].recordChangeTag());
  EXPECT_EQ(second.saved[0].creationDate(), first.saved[0].creationDate());
}

TEST_P(CloudStoreTest, StaleChangeTagConflictCarriesBothRecords) {
  CloudRecord record = newRecord("Item|A");
  record.setObjectForKey("name", "one");
  ModifyOutcome first = modify(privateDatabase(), {record});
  CloudRecord mine = first.saved[0];
  CloudRecord theirs = first.saved[0];
  theirs.setObjectForKey("name", "theirs");
  ASSERT_FALSE(modify(privateDatabase(), {theirs}).error);

  mine.setObjectForKey("name", "mine");
  ModifyOutcome conflict = modify(privateDatabase(), {mine});
  ASSERT_TRUE(conflict.error);
  EXPECT_TRUE(isCloudError(*conflict.error, kCloudErrorPartialFailure));
  const Error* error = conflict.recordError(mine.recordID());
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), kCloudErrorServerRecordChanged);
  ASSERT_TRUE(cloudClientRecord(*error) && cloudServerRecord(*error));
  EXPECT_EQ(*cloudClientRecord(*error)->objectForKey("name")->string(), "mine");
  EXPECT_EQ(*cloudServerRecord(*error)->objectForKey("name")->string(), "theirs");

  // A new record under a taken name conflicts too; a deleted one is unknown.
  EXPECT_EQ(modify(privateDatabase(), {newRecord("Item|A")}).recordError(mine.recordID())->code(),
            kCloudErrorServerRecordChanged);
  ASSERT_FALSE(modify(privateDatabase(), {}, {mine.recordID()}).error);
  EXPECT_EQ(modify(privateDatabase(), {mine}).recordError(mine.recordID())->code(), kCloudErrorUnknownItem);
}

TEST_P(CloudStoreTest, ChangedKeysPolicyMergesAndAllKeysReplaces) {
  CloudRecord record = newRecord("Item|A");
  record.setObjectForKey("name", "one");
  record.setObjectForKey("size", 10);
  record.setObjectForKey("note", "keep?");
  ASSERT_FALSE(modify(privateDatabase(), {record}).error);

  CloudRecord partial = newRecord("Item|A");  // no change tag: not compared under this policy
  partial.setObjectForKey("name", "two");
  partial.removeObjectForKey("note");
  ModifyOutcome merged = modify(privateDatabase(), {partial}, {}, Policy::ChangedKeys);
  ASSERT_FALSE(merged.error) << merged.error->description();
  CloudRecord server = fetch(privateDatabase(), {record.recordID()}).records.at(record.recordID());
  EXPECT_EQ(*server.objectForKey("name")->string(), "two");
  EXPECT_EQ(*server.objectForKey("size")->integer(), 10);
  EXPECT_FALSE(server.objectForKey("note"));

  CloudRecord replacement = newRecord("Item|A");
  replacement.setObjectForKey("other", false);
  ASSERT_FALSE(modify(privateDatabase(), {replacement}, {}, Policy::AllKeys).error);
  server = fetch(privateDatabase(), {record.recordID()}).records.at(record.recordID());
  EXPECT_EQ(server.allKeys(), std::vector<std::string>{"other"});
}

TEST_P(CloudStoreTest, AtomicZonesFailTogetherOthersPerRecord) {
  ASSERT_FALSE(modify(privateDatabase(), {newRecord("Item|Taken")}).error);
  std::vector<CloudRecord> batch{newRecord("Item|1"), newRecord("Item|Taken"), newRecord("Item|2")};

  ModifyOutcome atomic = modify(privateDatabase(), batch, {}, Policy::IfServerRecordUnchanged, true);
  ASSERT_TRUE(atomic.error);
  EXPECT_EQ(atomic.recordError(recordID("Item|Taken"))->code(), kCloudErrorServerRecordChanged);
  EXPECT_EQ(atomic.recordError(recordID("Item|1"))->code(), kCloudErrorBatchRequestFailed);
  EXPECT_EQ(atomic.recordError(recordID("Item|2"))->code(), kCloudErrorBatchRequestFailed);
  EXPECT_TRUE(atomic.saved.empty());
  EXPECT_EQ(fetch(privateDatabase(), {recordID("Item|1")}).recordError(recordID("Item|1"))->code(),
            kCloudErrorUnknownItem);

  ModifyOutcome loose = modify(privateDatabase(), batch, {}, Policy::IfServerRecordUnchanged, false);
  ASSERT_TRUE(loose.error);
  EXPECT_EQ(cloudPartialErrors(*loose.error)->size(), 1u);
  EXPECT_EQ(loose.saved.size(), 2u);
  EXPECT_FALSE(loose.recordError(recordID("Item|1")));
  EXPECT_EQ(fetch(privateDatabase(), {recordID("Item|1"), recordID("Item|2")}).records.size(), 2u);
}

TEST_P(CloudStoreTest, AssetsAreCopiedAtUpload) {
  std::string source = scratch.path("doc.txt");
  ASSERT_TRUE(writeFileAtomically(source, "first"));
  CloudRecord record = newRecord("Item|A");
  record.setObjectForKey("file", CloudAsset{source});
  ASSERT_FALSE(modify(privateDatabase(), {record}).error);
  ASSERT_TRUE(writeFileAtomically(source, "changed afterwards"));
  auto fetched = fetch(privateDatabase(), {record.recordID()});
  EXPECT_EQ(readFile(fetched.records.at(record.recordID()).objectForKey("file")->asset()->filePath), "first");

  CloudRecord missing = newRecord("Item|B");
  missing.setObjectForKey("files", CloudList{CloudAsset{scratch.path("nowhere.txt")}});
  ModifyOutcome failed = modify(privateDatabase(), {missing});
  ASSERT_TRUE(failed.recordError(missing.recordID()));
  EXPECT_EQ(failed.recordError(missing.recordID())->code(), kCloudErrorAssetFileNotFound);

  // Replacing and deleting records drops their stored copies.
  auto storedCount = [&] { return storedAssetCount(); };
  EXPECT_EQ(storedCount(), 1u);
  CloudRecord replaced = fetched.records.at(record.recordID());
  replaced.setObjectForKey("file", CloudAsset{source});
  ASSERT_FALSE(modify(privateDatabase(), {replaced}).error);
  EXPECT_EQ(storedCount(), 1u);
  ASSERT_FALSE(modify(privateDatabase(), {}, {record.recordID()}).error);
  EXPECT_EQ(storedCount(), 0u);
}

TEST_P(CloudStoreTest, UnknownRecordsAndZones) {
  RecordID elsewhere("Item|X", RecordZoneID("Missing", kCurrentUserDefaultName));
  FetchOutcome fetched = fetch(privateDatabase(), {recordID("Item|none"), elsewhere});
  ASSERT_TRUE(fetched.error);
  EXPECT_EQ(fetched.error->code(), kCloudErrorPartialFailure);
  EXPECT_EQ(fetched.recordError(recordID("Item|none"))->code(), kCloudErrorUnknownItem);
  EXPECT_EQ(fetched.recordError(elsewhere)->code(), kCloudErrorZoneNotFound);

  ModifyOutcome deleted = modify(privateDatabase(), {}, {recordID("Item|none")});
  EXPECT_EQ(cloudPartialErrors(*deleted.error)->at(recordID("Item|none")).code(), kCloudErrorUnknownItem);
  ModifyOutcome deletedElsewhere = modify(privateDatabase(), {}, {elsewhere});
  ASSERT_TRUE(deletedElsewhere.error);
  EXPECT_EQ(cloudPartialErrors(*deletedElsewhere.error)->at(elsewhere).code(), kCloudErrorZoneNotFound);

  // The default zone always exists in the private database, never in the shared one.
  RecordID inDefault("Item|D", RecordZoneID());
  EXPECT_FALSE(modify(privateDatabase(), {CloudRecord("Item", inDefault)}).error);
  EXPECT_EQ(modify(*container->sharedCloudDatabase(), {CloudRecord("Item", inDefault)}).recordError(inDefault)->code(),
            kCloudErrorZoneNotFound);
}

TEST_P(CloudStoreTest, FirstSaveCreatesTheUsersPrivateZone) {
  RecordID first("Item|1", RecordZoneID("Fresh", kCurrentUserDefaultName));
  ModifyOutcome saved = modify(privateDatabase(), {CloudRecord("Item", first)}, {}, Policy::ChangedKeys);
  ASSERT_FALSE(saved.error) << saved.error->description();
  EXPECT_EQ(fetch(privateDatabase(), {first}).records.size(), 1u);

  // An atomic request that fails in a new zone leaves no zone behind.
  RecordID other("Item|2", RecordZoneID("Other", kCurrentUserDefaultName));
  CloudRecord stale = saved.saved[0];
  stale.setSystemFields({"Item", other, "1", std::nullopt, std::nullopt});
  ASSERT_TRUE(modify(privateDatabase(), {stale}).error);
  EXPECT_EQ(fetch(privateDatabase(), {other}).recordError(other)->code(), kCloudErrorZoneNotFound);

  RecordID shared("Item|S", RecordZoneID("Fresh", "_otherUser"));
  EXPECT_EQ(modify(*container->sharedCloudDatabase(), {CloudRecord("Item", shared)}).recordError(shared)->code(),
            kCloudErrorZoneNotFound);
}

TEST_P(CloudStoreTest, RecordsDeletedByAnotherClientAreUnknownUnlessReplacedWhole) {
  ModifyOutcome first = modify(privateDatabase(), {newRecord("Item|A")});
  ASSERT_EQ(first.saved.size(), 1u);
  CloudRecord mine = first.saved[0];
  ASSERT_FALSE(modify(privateDatabase(), {}, {mine.recordID()}).error);

  mine.setObjectForKey("name", "changed here");
  ModifyOutcome refused = modify(privateDatabase(), {mine}, {}, Policy::ChangedKeys);
  ASSERT_TRUE(refused.recordError(mine.recordID()));
  EXPECT_EQ(refused.recordError(mine.recordID())->code(), kCloudErrorUnknownItem);
  EXPECT_EQ(fetch(privateDatabase(), {mine.recordID()}).recordError(mine.recordID())->code(), kCloudErrorUnknownItem);
  ASSERT_FALSE(modify(privateDatabase(), {mine}, {}, Policy::AllKeys).error);
  EXPECT_EQ(fetch(privateDatabase(), {mine.recordID()}).records.size(), 1u);
}

TEST_P(CloudStoreTest, ScopesAreSeparateAndZonesCanBeManaged) {
  RecordZoneID sharedZone("Shared Folder", "_otherUser");
  auto zones = std::make_shared<ModifyRecordZonesOperation>(std::vector<RecordZoneID>{sharedZone},
                                                            std::vector<RecordZoneID>{});
  std::optional<Error> zoneError;
  zones->modifyRecordZonesCompletionBlock = [&](auto&, auto&, const Error* error) {
    if (error) zoneError = *error;
  };
  container->sharedCloudDatabase()->add(zones);
  zones->waitUntilFinished();
  ASSERT_FALSE(zoneError);

  RecordID id("Item|S", sharedZone);
  ASSERT_FALSE(modify(*container->sharedCloudDatabase(), {CloudRecord("Item", id)}).error);
  EXPECT_EQ(fetch(*container->sharedCloudDatabase(), {id}).records.size(), 1u);
  EXPECT_EQ(fetch(privateDatabase(), {id}).recordError(id)->code(), kCloudErrorZoneNotFound);

  auto list = std::make_shared<FetchAllRecordZonesOperation>();
  std::vector<RecordZoneID> listed;
  list->fetchRecordZonesCompletionBlock = [&](const std::vector<RecordZoneID>& ids, const Error*) { listed = ids; };
  privateDatabase().add(list);
  list->waitUntilFinished();
  EXPECT_EQ(listed, (std::vector<RecordZoneID>{RecordZoneID(), zone}));
}

TEST_P(CloudStoreTest, TwoContainersOnOneStoreShareRecords) {
  auto other = openContainer();
  ASSERT_TRUE(other);
  CloudRecord record = newRecord("Item|A");
  record.setObjectForKey("name", "from one");
  ModifyOutcome first = modify(privateDatabase(), {record});
  ASSERT_FALSE(first.error);
  FetchOutcome seen = fetch(*other->privateCloudDatabase(), {record.recordID()});
  ASSERT_EQ(seen.records.size(), 1u);
  EXPECT_EQ(seen.records.at(record.recordID()).recordChangeTag(), first.saved[0].recordChangeTag());

  CloudRecord update = seen.records.at(record.recordID());
  update.setObjectForKey("name", "from two");
  ModifyOutcome second = modify(*other->privateCloudDatabase(), {update});
  ASSERT_FALSE(second.error);
  EXPECT_NE(second.saved[0].recordChangeTag(), first.saved[0].recordChangeTag());
  EXPECT_EQ(modify(privateDatabase(), {first.saved[0]}).recordError(record.recordID())->code(),
            kCloudErrorServerRecordChanged);
}

TEST_P(CloudStoreTest, ReplacingAnAssetWaitsForAFetchCopyingIt) {
  std::string source = scratch.path("doc.txt");
  ASSERT_TRUE(writeFileAtomically(source, "first"));
  // Two more stores on the folder, as other processes would open it.
  auto reader = openService();
  auto writer = openService();
  ASSERT_TRUE(reader && writer);
  CloudRecord record = newRecord("Item|A");
  record.setObjectForKey("file", CloudAsset{source});
  CloudModifyRecordsRequest save{{record}, {}, Policy::AllKeys};
  CloudCancellation never;
  ASSERT_FALSE(writer->modifyRecords(CloudDatabaseScope::Private, save, never).error);
  ASSERT_TRUE(writeFileAtomically(source, "second"));

  std::atomic<bool> replaced = false;
  std::thread replacing;
  CloudFetchRecordsRequest request;
  request.recordIDs = {record.recordID()};
  request.progress = [&](const RecordID&, double) {
    if (replacing.joinable()) return;
    replacing = std::thread([&] {
      EXPECT_FALSE(writer->modifyRecords(CloudDatabaseScope::Private, save, never).error);
      replaced = true;
    });
    // Room for the replacement to finish (and remove the stored file) while
    // the fetch is about to copy it.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    while (!replaced && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  };
  CloudFetchRecordsResult fetched = reader->fetchRecords(CloudDatabaseScope::Private, request, never);
  replacing.join();
  ASSERT_EQ(fetched.records.size(), 1u) 
      << (fetched.recordErrors.empty() ? std::string() : fetched.recordErrors.begin()->second.description());
  EXPECT_EQ(readFile(fetched.records.at(record.recordID()).objectForKey("file")->asset()->filePath), "first");
  EXPECT_TRUE(replaced);
  EXPECT_EQ(storedAssetCount(), 1u) << "the replaced file is gone";
}

QLT_CLOUD_BACKEND_TESTS(CloudStoreTest);

}  // namespace
}  // namespace qlt
