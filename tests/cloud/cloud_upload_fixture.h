#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <optional>
#include <vector>

#include "cloud/extension_modify_cloud_records_operation.h"
#include "cloud/item_cloud_assets.h"
#include "model/folder.h"
#include "model/group_classes.h"
#include "model/item.h"
#include "model/model_fixture.h"
#include "platform/cloud/cloud_container.h"
#include "platform/cloud/embedded_cloud_store.h"
#include "support/scoped_environment.h"
#include "store/library_model_constants.h"

namespace qlt {

// Forwards to an embedded store, noting every save request and failing the
// records named in `recordErrors` of the next request with their errors
// (the rest of that request goes through; named records it does not hold
// are reported too, like records the server already dropped).
class RecordingCloudService : public CloudService {
 public:
  struct Request {
    CloudDatabaseScope scope;
    std::vector<RecordID> recordIDs;
  };

  explicit RecordingCloudService(std::shared_ptr<EmbeddedCloudStore> store) : store_(std::move(store)) {}

  void failNextRequestRecords(CloudPartialErrors errors) {
    std::lock_guard lock(mutex_);
    nextErrors_ = std::move(errors);
  }
  std::vector<Request> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

  CloudModifyRecordsResult modifyRecords(CloudDatabaseScope scope, const CloudModifyRecordsRequest& request,
                                         const CloudCancellation& cancellation) override {
    CloudPartialErrors injected;
    {
      std::lock_guard lock(mutex_);
      Request noted{scope, {}};
      for (const CloudRecord& record : request.recordsToSave) noted.recordIDs.push_back(record.recordID());
      requests_.push_back(noted);
      injected.swap(nextErrors_);
    }
    CloudModifyRecordsRequest forwarded = request;
    std::erase_if(forwarded.recordsToSave,
                  [&](const CloudRecord& record) { return injected.count(record.recordID()) > 0; });
    CloudModifyRecordsResult result = store_->modifyRecords(scope, forwarded, cancellation);
    if (!injected.empty() && !result.error) {
      for (auto& [recordID, error] : injected) result.recordErrors.insert_or_assign(recordID, error);
    }
    return result;
  }
  CloudFetchRecordsResult fetchRecords(CloudDatabaseScope scope, const CloudFetchRecordsRequest& request,
                                       const CloudCancellation& cancellation) override {
    return store_->fetchRecords(scope, request, cancellation);
  }
  CloudModifyRecordZonesResult modifyRecordZones(CloudDatabaseScope scope, const std::vector<RecordZoneID>& save,
                                                 const std::vector<RecordZoneID>& remove,
                                                 const CloudCancellation& cancellation) override {
    return store_->modifyRecordZones(scope, save, remove, cancellation);
  }
  CloudFetchRecordZonesResult fetchAllRecordZones(CloudDatabaseScope scope,
                                                  const CloudCancellation& cancellation) override {
    return store_->fetchAllRecordZones(scope, cancellation);
  }
  CloudFetchZoneChangesResult fetchZoneChanges(CloudDatabaseScope scope, const CloudFetchZoneChangesRequest& request,
                                               const CloudCancellation& cancellation) override {
    return store_->fetchZoneChanges(scope, request, cancellation);
  }

 private:
  std::shared_ptr<EmbeddedCloudStore> store_;
  mutable std::mutex mutex_;
  std::vector<Request> requests_;
  CloudPartialErrors nextErrors_;
};

class RecordingCloudContainer : public CloudContainer {
 public:
  RecordingCloudContainer(std::shared_ptr<RecordingCloudService> service, std::string location)
      : service_(service),
        location_(std::move(location)),
        private_(std::make_shared<CloudDatabase>(service, CloudDatabaseScope::Private)),
        shared_(std::make_shared<CloudDatabase>(service, CloudDatabaseScope::Shared)) {}
  const std::string& containerIdentifier() const override { return identifier_; }
  std::shared_ptr<CloudDatabase> privateCloudDatabase() override { return private_; }
  std::shared_ptr<CloudDatabase> sharedCloudDatabase() override { return shared_; }
  std::string storeLocation() const override { return location_; }

 private:
  std::string identifier_ = kCloudContainerName;
  std::shared_ptr<RecordingCloudService> service_;
  std::string location_;
  std::shared_ptr<CloudDatabase> private_;
  std::shared_ptr<CloudDatabase> shared_;
};

struct GroupClassesRegisteredForCloud {
  GroupClassesRegisteredForCloud() { registerGroupClasses(); }
};

// A library and an embedded cloud store of its own, installed as the
// library's container, with the library zone and one zone shared by
// someone else.
class CloudUploadTest : public ::testing::Test, private GroupClassesRegisteredForCloud, public ModelFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library) << loadError.description();
    Error error;
    faults = std::make_shared<CloudFaultInjector>();
    store = EmbeddedCloudStore::open(scratch.path("Cloud"), faults, &error);
    ASSERT_TRUE(store) << error.description();
    ASSERT_TRUE(store->saveZone(CloudDatabaseScope::Private, LibraryManager::libraryZoneID()));
    ASSERT_TRUE(store->saveZone(CloudDatabaseScope::Shared, sharedZone));
    service = std::make_shared<RecordingCloudService>(store);
    installed.emplace(kCloudContainerName, std::make_shared<RecordingCloudContainer>(service, scratch.path("Cloud")));
    root = std::dynamic_pointer_cast<Folder>(LibraryObject::libraryObject(*context, "RootFolder", "RootFolder"));
    ASSERT_TRUE(root);
  }

  struct Outcome {
    int completions = 0;
    std::optional<Error> error;
  };

  // Runs the upload to its end.
  Outcome upload(const std::vector<LibraryObject::Ptr>& objects, const std::vector<std::shared_ptr<Item>>& assets = {},
                 std::map<RecordID, std::set<std::string>> changedKeys = {},
                 std::function<void(ExtensionModifyCloudRecordsOperation&)> whileRunning = nullptr) {
    auto operation = ExtensionModifyCloudRecordsOperation::make(objects, assets);
    EXPECT_TRUE(operation);
    EXPECT_EQ(operation->progress()->localizedDescription(), "Saving to iCloud…");
    Outcome outcome;
    std::mutex mutex;
    std::condition_variable done;
    operation->setChangedKeysByRecordID(std::move(changedKeys));
    operation->setCloudOperationCompletionBlock([&](const Error* error) {
      std::lock_guard lock(mutex);
      ++outcome.completions;
      if (error) outcome.error = *error;
      done.notify_all();
    });
    operation->start();
    if (whileRunning) whileRunning(*operation);
    std::unique_lock lock(mutex);
    done.wait(lock, [&] { return outcome.completions > 0; });
    return outcome;
  }

  std::shared_ptr<Item> newItem(const Folder::Ptr& folder, const std::string& filename, bool withFile = false) {
    auto item = std::dynamic_pointer_cast<Item>(context->insertNewObject("Item"));
    item->setValueForKey("filename", filename);
    item->setValueForKey("name", filename);
    item->setObjectForKey("folder", folder);
    if (withFile) {
      EXPECT_TRUE(folder->createFolder());
      std::ofstream(*item->fileURL()) << "contents of " << filename;
    }
    return item;
  }
  Folder::Ptr newFolder(const Folder::Ptr& parent, const std::string& name) {
    Folder::Ptr folder = parent->createSubfolder(name);
    EXPECT_TRUE(folder);
    return folder;
  }
  std::optional<CloudRecord> serverRecord(CloudDatabaseScope scope, const RecordID& recordID) {
    CloudFetchRecordsRequest request;
    request.recordIDs = {recordID};
    CloudFetchRecordsResult result = store->fetchRecords(scope, request, cancellation);
    auto found = result.records.find(recordID);
    if (found == result.records.end()) return std::nullopt;
    return found->second;
  }

  RecordZoneID sharedZone{"Shared Library", "someone-else"};
  std::shared_ptr<CloudFaultInjector> faults;
  std::shared_ptr<EmbeddedCloudStore> store;
  std::shared_ptr<RecordingCloudService> service;
  std::optional<ScopedCloudContainer> installed;
  Folder::Ptr root;
  CloudCancellation cancellation;
};

}  // namespace qlt
