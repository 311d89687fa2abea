#include "cloud/extension_modify_cloud_records_operation.h"

#include <gtest/gtest.h>

#include <thread>

#include "cloud_upload_fixture.h"
#include "platform/cloud/cloud_error.h"
#include "store/cloud_record_fields.h"

namespace qlt {
namespace {

Folder::Ptr sharedBySomeoneElse(const Folder::Ptr& parent, const std::string& name, const RecordZoneID& zone) {
  Folder::Ptr folder = parent->createSubfolder(name);
  RecordSystemFields share{kCloudShareRecordType, RecordID("Share-" + name, zone), "", std::nullopt, std::nullopt};
  folder->setCloudShare(share);
  return folder;
}

size_t positionOf(const std::vector<RecordID>& ids, const RecordID& id) {
  return static_cast<size_t>(std::find(ids.begin(), ids.end(), id) - ids.begin());
}

TEST_F(CloudUploadTest, SendsPrivateBatchesOfTwoHundredThenSharedAndMirrorsTheTree) {
  std::vector<LibraryObject::Ptr> objects;
  Folder::Ptr outer = newFolder(root, "Outer");
  Folder::Ptr inner = newFolder(outer, "Inner");
  std::vector<std::shared_ptr<Item>> withFiles;
  for (int index = 0; index < 448; ++index) {
    auto item = newItem(index % 2 ? inner : root, "Item " + std::to_string(index), index < 2);
    if (index < 2) withFiles.push_back(item);
    objects.push_back(item);
  }
  objects.push_back(inner);  // given after its contents: still sent after its parent
  objects.push_back(outer);
  Folder::Ptr shared = sharedBySomeoneElse(root, "From Someone", sharedZone);
  objects.push_back(shared);
  std::vector<std::shared_ptr<Item>> sharedItems;
  for (int index = 0; index < 9; ++index) {
    auto item = newItem(shared, "Shared " + std::to_string(index));
    item->setCloudRecord(RecordSystemFields{"Item", RecordID(item->cloudRecordName(), sharedZone), "", {}, {}});
    sharedItems.push_back(item);
    objects.push_back(item);
  }
  ASSERT_TRUE(context->save());

  Outcome outcome = upload(objects, withFiles);
  ASSERT_EQ(outcome.completions, 1);
  EXPECT_FALSE(outcome.error) << outcome.error->description();

  auto requests = service->requests();
  ASSERT_EQ(requests.size(), 4u);
  std::vector<size_t> sizes;
  for (const auto& request : requests) sizes.push_back(request.recordIDs.size());
  EXPECT_EQ(sizes, (std::vector<size_t>{200, 200, 50, 10}));
  EXPECT_EQ(requests[2].scope, CloudDatabaseScope::Private);
  EXPECT_EQ(requests[3].scope, CloudDatabaseScope::Shared);
  EXPECT_LT(positionOf(requests[0].recordIDs, outer->cloudRecordID()),
            positionOf(requests[0].recordIDs, inner->cloudRecordID()));
  EXPECT_EQ(shared->cloudRecordID().zoneID, sharedZone);

  // The store now mirrors the tree.
  auto innerRecord = serverRecord(CloudDatabaseScope::Private, inner->cloudRecordID());
  ASSERT_TRUE(innerRecord);
  EXPECT_EQ(*innerRecord->objectForKey("name"), CloudValue("Inner"));
  EXPECT_EQ(innerRecord->objectForKey("parent")->reference()->recordID, outer->cloudRecordID());
  EXPECT_EQ(innerRecord->parent()->recordID, outer->cloudRecordID());
  EXPECT_EQ(*innerRecord->objectForKey(kFolderCloudRecordDepthKey), CloudValue(2));
  auto outerRecord = serverRecord(CloudDatabaseScope::Private, outer->cloudRecordID());
  ASSERT_TRUE(outerRecord);
  EXPECT_FALSE(outerRecord->parent()) << "the root folder is no plain folder";
  EXPECT_EQ(outerRecord->objectForKey("parent")->reference()->recordID, root->cloudRecordID());
  for (const auto& object : objects) {
    auto item = std::dynamic_pointer_cast<Item>(object);
    if (!item) continue;
    CloudDatabaseScope scope = item->isLocalRecord() ? CloudDatabaseScope::Private : CloudDatabaseScope::Shared;
    auto record = serverRecord(scope, item->cloudRecordID());
    ASSERT_TRUE(record) << item->cloudRecordName();
    EXPECT_EQ(*record->objectForKey("filename"), CloudValue(item->filename()));
    EXPECT_EQ(record->objectForKey("folder")->reference()->recordID, item->folder()->cloudRecordID());
  }
  auto sharedItemRecord = serverRecord(CloudDatabaseScope::Shared, sharedItems[0]->cloudRecordID());
  ASSERT_TRUE(sharedItemRecord);
  EXPECT_EQ(sharedItemRecord->parent()->recordID.zoneID, sharedZone);

  auto withAsset = serverRecord(CloudDatabaseScope::Private, withFiles[0]->cloudRecordID());
  ASSERT_TRUE(withAsset && withAsset->objectForKey(kItemCloudFileAssetKey));
  EXPECT_EQ(*withAsset->objectForKey(kItemCloudFileIsArchiveKey), CloudValue(false));
  EXPECT_EQ(*withAsset->objectForKey(kItemCloudUploadCompletedKey), CloudValue(true));
  auto reread = this->reread<Item>(withFiles[0]);
  EXPECT_TRUE(reread->valueForKey("cloudUploadCompleted").boolValue());
  EXPECT_EQ(reread->valueForKey("cloudFileUploadStatus"), Value(2));
}

TEST_F(CloudUploadTest, ItemRecordsLeaveOutLargeThumbnailsAndArchivePackages) {
  auto kept = newItem(root, "Kept");
  kept->setValueForKey("thumbnailData", Bytes(kItemCloudMaxThumbnailLength, 1));
  auto dropped = newItem(root, "Dropped");
  dropped->setValueForKey("thumbnailData", Bytes(kItemCloudMaxThumbnailLength + 1, 1));
  EXPECT_TRUE(kept->cloudRecord().objectForKey("thumbnailData"));
  EXPECT_FALSE(dropped->cloudRecord().objectForKey("thumbnailData"));

  ScopedEnvironment cache("XDG_CACHE_HOME", scratch.path("Caches").c_str());
  auto package = newItem(root, "Bundle.rtfd");
  EXPECT_TRUE(root->createFolder());
  std::filesystem::create_directories(*package->fileURL());
  std::ofstream(*package->fileURL() + "/TXT.rtf") << "{\\rtf1 hello}";
  CloudRecord record = package->cloudRecord();
  ASSERT_TRUE(addFileToCloudRecord(*package, record));
  EXPECT_EQ(*record.objectForKey(kItemCloudFileIsArchiveKey), CloudValue(true));
  EXPECT_EQ(record.objectForKey(kItemCloudFileAssetKey)->asset()->filePath,
            scratch.path("Caches/Cloud File Assets/" + package->identifier() + ".qltarchive"));
  EXPECT_EQ(package->valueForKey("cloudFileUploadStatus"), Value(1));
  auto missing = newItem(root, "Missing");
  EXPECT_FALSE(addFileToCloudRecord(*missing, record));
}

TEST_F(CloudUploadTest, ResolvesConflictsMissingAssetsAndServerDeletions) {
  auto conflicted = newItem(root, "Conflicted");
  conflicted->setValueForKey("comments", "first");
  auto withFile = newItem(root, "With File", true);
  auto existing = newItem(root, "Existing");
  auto deleted = newItem(root, "Deleted");
  ASSERT_TRUE(context->save());
  ASSERT_FALSE(upload({conflicted}).error);

  // The server changed the name since; here both name and comments change.
  CloudRecord server = *serverRecord(CloudDatabaseScope::Private, conflicted->cloudRecordID());
  server.setObjectForKey("name", CloudValue("Server Name"));
  setChangedKeyNames(server, {"name"});
  ASSERT_FALSE(store->modifyRecords(CloudDatabaseScope::Private, {{server}, {}, CloudSavePolicy::ChangedKeys},
                                    cancellation).error);
  server = *serverRecord(CloudDatabaseScope::Private, conflicted->cloudRecordID());
  conflicted->setValueForKey("name", "Local Name");
  conflicted->setValueForKey("comments", "local");
  conflicted->setDateRecordChanged(Date(0));
  ASSERT_TRUE(context->save());

  service->failNextRequestRecords({
      {conflicted->cloudRecordID(), cloudServerRecordChangedError(conflicted->cloudRecord(), server)},
      {withFile->cloudRecordID(), cloudError(kCloudErrorAssetFileNotFound)},
      {existing->cloudRecordID(), cloudError(kCloudErrorUnknownItem)},
      {deleted->cloudRecordID(), cloudError(kCloudErrorUnknownItem)},
  });
  size_t before = service->requests().size();
  RecordID deletedID = deleted->cloudRecordID();
  context->deleteObject(deleted);
  ASSERT_TRUE(context->save());
  Outcome outcome = upload({conflicted, withFile, existing}, {}, {{conflicted->cloudRecordID(), {"name", "comments"}}});
  EXPECT_FALSE(outcome.error);

  auto requests = service->requests();
  ASSERT_EQ(requests.size(), before + 2);
  EXPECT_EQ(requests.back().recordIDs.size(), 3u) << "conflict, asset and re-inserted record are sent again";
  auto merged = *serverRecord(CloudDatabaseScope::Private, conflicted->cloudRecordID());
  EXPECT_EQ(*merged.objectForKey("name"), CloudValue("Server Name")) << "the server's newer change wins";
  EXPECT_EQ(*merged.objectForKey("comments"), CloudValue("local"));
  EXPECT_EQ(changedKeyNames(merged), (std::set<std::string>{"comments"}));
  auto attached = serverRecord(CloudDatabaseScope::Private, withFile->cloudRecordID());
  ASSERT_TRUE(attached);
  EXPECT_TRUE(attached->objectForKey(kItemCloudFileAssetKey));
  EXPECT_TRUE(serverRecord(CloudDatabaseScope::Private, existing->cloudRecordID()));
  EXPECT_FALSE(serverRecord(CloudDatabaseScope::Private, deletedID)) << "a record of a deleted object is dropped";
}

TEST_F(CloudUploadTest, FreshStoreTakesUploadsAndRecordsDeletedByOthersGoBackIn) {
  // A store nobody prepared: no zone of the library yet.
  auto fresh = EmbeddedCloudStore::open(scratch.path("Fresh"), nullptr);
  ASSERT_TRUE(fresh);
  auto recording = std::make_shared<RecordingCloudService>(fresh);
  installed.reset();
  installed.emplace(kCloudContainerName, std::make_shared<RecordingCloudContainer>(recording, scratch.path("Fresh")));
  auto item = newItem(root, "Kept");
  ASSERT_TRUE(context->save());
  Outcome first = upload({item});
  ASSERT_FALSE(first.error) << first.error->description();

  // The host application fetched the record; then another client deleted it.
  CloudFetchRecordsRequest fetch;
  fetch.recordIDs = {item->cloudRecordID()};
  CloudFetchRecordsResult fetched = fresh->fetchRecords(CloudDatabaseScope::Private, fetch, cancellation);
  ASSERT_EQ(fetched.records.size(), 1u);
  item->setCloudRecord(fetched.records.at(item->cloudRecordID()));
  ASSERT_TRUE(context->save());
  CloudModifyRecordsRequest removal{{}, {item->cloudRecordID()}, CloudSavePolicy::ChangedKeys};
  ASSERT_FALSE(fresh->modifyRecords(CloudDatabaseScope::Private, removal, cancellation).error);

  size_t before = recording->requests().size();
  Outcome again = upload({item});
  EXPECT_FALSE(again.error);
  EXPECT_EQ(recording->requests().size(), before + 2) << "refused as unknown, then re-inserted";
  fetched = fresh->fetchRecords(CloudDatabaseScope::Private, fetch, cancellation);
  ASSERT_EQ(fetched.records.size(), 1u);
  EXPECT_EQ(*fetched.records.at(item->cloudRecordID()).objectForKey("name"), CloudValue("Kept"));

  before = recording->requests().size();
  EXPECT_FALSE(upload({item}).error);
  EXPECT_EQ(recording->requests().size(), before + 1) << "the next upload goes through at once";
}

TEST_F(CloudUploadTest, UnresolvedErrorsEndTheUpload) {
  auto first = newItem(root, "First");
  auto second = newItem(root, "Second");
  ASSERT_TRUE(context->save());
  Error quota = cloudError(kCloudErrorQuotaExceeded);
  faults->failRecords({first->cloudRecordID()}, quota);
  Outcome one = upload({first, second});
  ASSERT_TRUE(one.error);
  EXPECT_TRUE(one.error->is(kCloudErrorDomain, kCloudErrorQuotaExceeded));

  faults->failRecords({first->cloudRecordID(), second->cloudRecordID()}, quota);
  Outcome two = upload({first, second});
  ASSERT_EQ(two.completions, 1);
  ASSERT_TRUE(two.error);
  EXPECT_TRUE(two.error->is(kExtensionModifyCloudRecordsErrorDomain, 10001));
  EXPECT_EQ(two.error->localizedDescription(), "Not all records could be saved.");
  auto errors = std::any_cast<std::map<RecordID, Error>>(two.error->userInfoValue(kMultipleUnderlyingErrorsKey));
  ASSERT_TRUE(errors);
  EXPECT_EQ(errors->size(), 2u);
}

TEST_F(CloudUploadTest, CancellingDuringABatchFinishesOnceWithoutLaterBatches) {
  auto local = newItem(root, "Local");
  Folder::Ptr shared = sharedBySomeoneElse(root, "From Someone", sharedZone);
  ASSERT_TRUE(context->save());
  faults->withholdNextRequests(1);
  Outcome outcome = upload({local, shared}, {}, {}, [&](ExtensionModifyCloudRecordsOperation& operation) {
    while (faults->requestCount() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    operation.cancel();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(outcome.completions, 1);
  ASSERT_TRUE(outcome.error);
  EXPECT_TRUE(outcome.error->is(kCocoaErrorDomain, kCocoaUserCancelledError));
  EXPECT_EQ(faults->requestCount(), 1u);
}

}  // namespace
}  // namespace qlt
