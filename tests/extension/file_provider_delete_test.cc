#include <gtest/gtest.h>

#include <future>

#include "changes/library_change_set.h"
#include "extension/file_provider_delete_operation.h"
#include "extension/library_content_fixture.h"
#include "model/cloud_share.h"
#include "platform/cloud/cloud_container.h"
#include "platform/cloud/cloud_error.h"
#include "platform/cloud/cloud_fetch_records_operation.h"
#include "platform/cloud/cloud_modify_records_operation.h"
#include "platform/cloud/embedded_cloud_container.h"
#include "platform/dispatch/notification_center.h"
#include "platform/files/file_system.h"
#include "platform/objectstore/context_changes.h"
#include "platform/files/group_container.h"
#include "platform/foundation/uniform_type.h"
#include "support/polling.h"

namespace qlt {
namespace {

class DeleteTest : public LibraryContentTest {
 protected:
  std::optional<Error> remove(const std::string& identifier, bool recursive) {
    auto result = std::make_shared<std::promise<std::optional<Error>>>();
    extension_->deleteItemWithIdentifier(identifier, std::nullopt, recursive ? uint64_t{kFileProviderDeleteItemRecursive} : uint64_t{0},
                                         [result](const Error* error) {
                                           result->set_value(error ? std::optional<Error>(*error) : std::nullopt);
                                         });
    auto future = result->get_future();
    EXPECT_EQ(future.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    return future.get();
  }

  // A folder holding `count` items, saved at once.
  Folder::Ptr folderWithItems(const std::string& name, int count) {
    Folder::Ptr made = folder(root_, name, 1000);
    context_->performAndWait([&] {
      for (int index = 0; index < count; ++index) {
        auto item = context_->insertNewObject("Item")->as<Item>();
        item->setValueForKey("filename", "Item " + std::to_string(index) + ".txt");
        item->setObjectForKey("folder", made);
      }
      EXPECT_TRUE(context_->save());
    });
    return made;
  }

  static void save(CloudDatabase& database, const std::vector<RecordID>& recordIDs) {
    std::vector<CloudRecord> records;
    for (const RecordID& recordID : recordIDs) records.emplace_back(recordID.recordName.substr(0, recordID.recordName.find('|')), recordID);
    auto request = std::make_shared<ModifyRecordsOperation>(records, std::vector<RecordID>{});
    std::promise<bool> done;
    request->modifyRecordsCompletionBlock = [&](const auto&, const auto&, const Error* error) {
      done.set_value(error == nullptr);
    };
    database.add(request);
    ASSERT_TRUE(done.get_future().get());
  }

  static bool inCloud(CloudDatabase& database, const RecordID& recordID) {
    auto request = std::make_shared<FetchRecordsOperation>(std::vector<RecordID>{recordID});
    std::promise<bool> found;
    request->fetchRecordsCompletionBlock = [&](const auto&, const Error* error) { found.set_value(error == nullptr); };
    database.add(request);
    return found.get_future().get();
  }

  std::vector<RecordID> recordIDsOf(const Folder::Ptr& folder) {
    std::vector<RecordID> recordIDs;
    context_->performAndWait([&] {
      recordIDs.push_back(folder->cloudRecordID());
      for (const RecordID& child : folder->childRecordIDs()) recordIDs.push_back(child);
    });
    return recordIDs;
  }

};

TEST_F(DeleteTest, FoldersWithContentsGoOnlyWhenRecursiveAndTheLibraryKeepsItsOwnContainers) {
  Folder::Ptr docs = folder(root_, "Docs", 1000);
  folder(docs, "Inner", 1000);
  auto report = item(docs, "Report.txt", 1000, 1000);
  std::string directory = *docs->folderPath();

  std::optional<Error> refused = remove(identifierOf(docs), false);
  ASSERT_TRUE(refused);
  EXPECT_TRUE(refused->is(kFileProviderErrorDomain, kFileProviderErrorDirectoryNotEmpty));
  EXPECT_TRUE(exists(docs) && exists(report));
  EXPECT_TRUE(fileExists(directory + "/Report.txt") && isDirectory(directory + "/Inner"));

  for (const char* container : {"NSFileProviderRootContainerItemIdentifier", "NSFileProviderTrashContainerItemIdentifier"}) {
    std::optional<Error> error = remove(container, true);
    ASSERT_TRUE(error) << container;
    EXPECT_TRUE(error->is(kFileProviderOperationErrorDomain, kFileProviderOperationCannotDeleteErrorCode));
  }
  EXPECT_FALSE(remove("Item|no-such-item", false)) << "already gone counts as deleted";

  EXPECT_FALSE(remove(identifierOf(docs), true));
  EXPECT_FALSE(exists(docs) || exists(report));
  EXPECT_FALSE(fileExists(directory));
  EXPECT_TRUE(isDirectory(*root_->folderPath()));
  EXPECT_TRUE(changeSets().first.empty()) << "no cloud, no change set";
}

TEST_F(DeleteTest, CascadesGoInBatchesOfAHundredChildrenFirst) {
  makeCloudLibrary();
  auto cloud = installCloud();
  Folder::Ptr big = folderWithItems("Big", 249);
  std::vector<RecordID> recordIDs = recordIDsOf(big);
  ASSERT_EQ(recordIDs.size(), 250u);
  save(*cloud->privateCloudDatabase(), recordIDs);

  // The folder's own record fails: it is in the last of three batches.
  cloud->faults().failRecords({recordIDs.front()}, cloudError(kCloudErrorServerRecordChanged));
  size_t before = cloud->faults().requestCount();
  std::optional<Error> failed = remove(identifierOf(big), true);
  ASSERT_TRUE(failed);
  EXPECT_TRUE(failed->is(kFileProviderErrorDomain, kFileProviderErrorCannotSynchronize));
  EXPECT_EQ(failed->itemIdentifier(), identifierOf(big));
  EXPECT_EQ(cloud->faults().requestCount() - before, 3u);
  EXPECT_TRUE(exists(big));
  EXPECT_TRUE(inCloud(*cloud->privateCloudDatabase(), recordIDs.front()));
  EXPECT_FALSE(inCloud(*cloud->privateCloudDatabase(), recordIDs.back()));
  auto [statuses, records] = changeSets();
  EXPECT_EQ(statuses, std::vector<LibraryChangeSetStatus>{LibraryChangeSetStatus::Pending});
  EXPECT_EQ(records, 250u);

  // Again: records already gone do not hold the rest back.
  before = cloud->faults().requestCount();
  EXPECT_FALSE(remove(identifierOf(big), true));
  EXPECT_EQ(cloud->faults().requestCount() - before, 3u);
  EXPECT_FALSE(exists(big));
  EXPECT_FALSE(inCloud(*cloud->privateCloudDatabase(), recordIDs.front()));
  EXPECT_EQ(changeSets().first, std::vector<LibraryChangeSetStatus>{LibraryChangeSetStatus::Pending})
      << "only the failed request's set is left";
}

TEST_F(DeleteTest, AFailedSecondBatchKeepsTheFolderAndLeavesItsChangeSetPending) {
  makeCloudLibrary();
  auto cloud = installCloud();
  Folder::Ptr folder = folderWithItems("Half", 150);
  cloud->faults().delayNextRequests(std::chrono::milliseconds(0));
  cloud->faults().failNextRequests(cloudError(kCloudErrorNetworkFailure));
  std::optional<Error> failed = remove(identifierOf(folder), true);
  ASSERT_TRUE(failed);
  EXPECT_TRUE(failed->is(kFileProviderErrorDomain, kFileProviderErrorServerUnreachable));
  EXPECT_TRUE(exists(folder));
  auto [statuses, records] = changeSets();
  EXPECT_EQ(statuses, std::vector<LibraryChangeSetStatus>{LibraryChangeSetStatus::Pending});
  EXPECT_EQ(records, 151u);
}

TEST_F(DeleteTest, CancellingWhileTheCloudIsSilentKeepsTheItem) {
  makeCloudLibrary();
  auto cloud = installCloud();
  auto report = item(root_, "Report.txt", 1000, 1000);
  cloud->faults().withholdNextRequests();
  std::promise<std::optional<Error>> result;
  auto progress = extension_->deleteItemWithIdentifier(identifierOf(report), std::nullopt, 0, [&](const Error* error) {
    result.set_value(error ? std::optional<Error>(*error) : std::nullopt);
  });
  ASSERT_TRUE(eventually([&] { return cloud->faults().requestCount() > 0; }, std::chrono::seconds(5)));
  progress->cancel();
  std::optional<Error> error = result.get_future().get();
  ASSERT_TRUE(error);
  EXPECT_TRUE(error->is(kCocoaErrorDomain, kCocoaUserCancelledError));
  EXPECT_TRUE(exists(report));
  EXPECT_TRUE(fileExists(*root_->folderPath() + "/Report.txt"));
}

TEST_F(DeleteTest, WhileTheHostRunsOnlyTheLibraryChanges) {
  makeCloudLibrary();
  auto cloud = installCloud();
  auto report = item(root_, "Report.txt", 1000, 1000);
  auto lock = ApplicationLock::acquire(scratch_.path(), std::string(kProductIdentifierPrefix));
  ASSERT_TRUE(lock);
  size_t before = cloud->faults().requestCount();
  EXPECT_FALSE(remove(identifierOf(report), false));
  EXPECT_FALSE(exists(report));
  EXPECT_EQ(cloud->faults().requestCount(), before);
  EXPECT_TRUE(changeSets().first.empty());
}

TEST_F(DeleteTest, SomeoneElsesItemGoesFromTheSharedDatabase) {
  makeCloudLibrary();
  auto cloud = installCloud();
  RecordZoneID othersZone("Quillet", "_otherUser");
  ASSERT_TRUE(cloud->ensureZone(CloudDatabaseScope::Shared, othersZone));
  auto theirs = item(root_, "Theirs.txt", 1000, 1000, false);
  RecordID recordID;
  context_->performAndWait([&] {
    storeCloudShare(*theirs, RecordSystemFields{kCloudShareRecordType, RecordID("S-item", othersZone), "tag", {}, {}});
    theirs->setCloudRecord(RecordSystemFields{"Item", RecordID(theirs->cloudRecordName(), othersZone), "", {}, {}});
    recordID = theirs->cloudRecordID();
    EXPECT_TRUE(context_->save());
  });
  save(*cloud->sharedCloudDatabase(), {recordID});
  EXPECT_FALSE(remove(identifierOf(theirs), false));
  EXPECT_FALSE(inCloud(*cloud->sharedCloudDatabase(), recordID));
  EXPECT_FALSE(exists(theirs));
}

TEST_F(DeleteTest, AnItemTrashedElsewhereWhileItsFolderIsDeletedKeepsItsRowAndFile) {
  Folder::Ptr docs = folder(root_, "Docs", 1000);
  auto report = item(docs, "Report.txt", 1000, 1000);
  auto notes = item(docs, "Notes.txt", 1000, 1000);
  const std::string directory = *docs->folderPath();
  // Once the deletion has read the folder and its items, another context
  // (the host, say) moves one of them to the trash.
  std::string trashed;
  bool once = false;
  const void* ours = context_.get();
  auto token = NotificationCenter::defaultCenter().addObserver(
      kContextWillSaveNotification, nullptr, [&](const Notification& notification) {
        if (notification.object == ours || once) return;
        once = true;
        context_->performAndWait([&] {
          ASSERT_TRUE(report->moveToFolder(trash_));
          ASSERT_TRUE(context_->save());
          trashed = *report->fileURL();
        });
      });
  std::optional<Error> error = remove(identifierOf(docs), true);
  NotificationCenter::defaultCenter().removeObserver(token);
  ASSERT_TRUE(once);
  EXPECT_FALSE(error) << error->description();
  EXPECT_FALSE(exists(docs) || exists(notes));
  EXPECT_FALSE(fileExists(directory));
  EXPECT_TRUE(exists(report)) << "it had left the folder";
  EXPECT_EQ(readFile(trashed).value_or(""), "contents");
}

}  // namespace
}  // namespace qlt
