#include <gtest/gtest.h>

#include <condition_variable>
#include <algorithm>
#include <atomic>
#include <future>
#include <thread>
#include <mutex>

#include "extension/file_provider_service_source.h"
#include "extension/library_content_fixture.h"
#include "platform/cloud/cloud_container.h"
#include "platform/cloud/cloud_error.h"
#include "platform/cloud/cloud_modify_records_operation.h"
#include "platform/cloud/embedded_cloud_container.h"
#include "platform/files/file_attributes.h"
#include "platform/files/file_coordinator.h"
#include "platform/files/file_path.h"
#include "store/library_model_constants.h"

namespace qlt {
namespace {

using namespace std::chrono_literals;

struct ContentsResult {
  std::optional<std::string> path;
  FileProviderItemPtr item;
  std::optional<Error> error;
};

class ContentsTest : public LibraryContentTest {
 protected:
  ContentsResult fetchContents(const std::string& identifier) {
    std::promise<ContentsResult> done;
    extension_->fetchContentsForItemWithIdentifier(
        identifier, [&](const std::optional<std::string>& path, FileProviderItemPtr item, const Error* error) {
          done.set_value({path, item, error ? std::optional<Error>(*error) : std::nullopt});
        });
    auto future = done.get_future();
    EXPECT_EQ(future.wait_for(20s), std::future_status::ready);
    return future.get();
  }

  std::pair<FileProviderItemPtr, std::optional<Error>> getItem(const std::string& identifier) {
    std::promise<std::pair<FileProviderItemPtr, std::optional<Error>>> done;
    extension_->itemForIdentifier(identifier, [&](FileProviderItemPtr item, const Error* error) {
      done.set_value({item, error ? std::optional<Error>(*error) : std::nullopt});
    });
    return done.get_future().get();
  }

  // In a cloud library, an item without a file whose record in a cloud
  // store of this test's own carries `contents`, dated 5000.
  std::pair<std::shared_ptr<Item>, std::shared_ptr<EmbeddedCloudContainer>> cloudItemWithoutFile(
      const std::string& contents) {
    makeCloudLibrary();
    Folder::Ptr box = folder(root_, "Box", 1);
    auto doc = item(box, "doc.txt", 1, 1, /*withFile=*/false);
    std::string asset = appendingPathComponent(scratch_.path(), "upload.txt");
    EXPECT_TRUE(writeFileAtomically(asset, contents));
    return {doc, cloudWithRecordFor(doc, asset, Date(5000))};
  }

  // A cloud store of this test's own holding the item's record with `asset`.
  std::shared_ptr<EmbeddedCloudContainer> cloudWithRecordFor(const std::shared_ptr<Item>& item,
                                                              const std::string& asset, Date modified) {
    auto cloud = EmbeddedCloudContainer::open(kCloudContainerName, appendingPathComponent(scratch_.path(), "cloud"));
    EXPECT_TRUE(cloud->ensureZone(CloudDatabaseScope::Private, LibraryManager::libraryZoneID()));
    RecordID recordID;
    context_->performAndWait([&] { recordID = item->cloudRecordID(); });
    CloudRecord record("Item", recordID);
    record.setObjectForKey("dateModified", modified);
    record.setObjectForKey(kItemCloudFileAssetKey, CloudAsset{asset});
    record.setObjectForKey(kItemCloudFileIsArchiveKey, false);
    auto save = std::make_shared<ModifyRecordsOperation>(std::vector<CloudRecord>{record}, std::vector<RecordID>{});
    std::optional<Error> failure;
    save->modifyRecordsCompletionBlock = [&](const auto&, const auto&, const Error* error) {
      if (error) failure = *error;
    };
    cloud->privateCloudDatabase()->add(save);
    save->waitUntilFinished();
    EXPECT_FALSE(failure) << failure->description();
    return cloud;
  }
};

TEST_F(ContentsTest, ContentsAreCopiedUnderTheIdentifierAndReplacedOnTheNextRequest) {
  Folder::Ptr box = folder(root_, "Box", 1);
  auto note = item(box, "note.txt", 1, 1);
  auto bare = item(box, "README", 1, 1);
  std::string noteID = identifierOf(note);

  ContentsResult first = fetchContents(noteID);
  ASSERT_FALSE(first.error) << first.error->description();
  EXPECT_EQ(lastPathComponent(*first.path), note->identifier() + ".txt");
  EXPECT_EQ(readFile(*first.path), std::optional<std::string>("contents"));
  EXPECT_EQ(first.item->itemIdentifier(), noteID);

  ASSERT_TRUE(writeFileAtomically(*first.path, "stale copy"));
  ContentsResult second = fetchContents(noteID);
  EXPECT_EQ(second.path, first.path);
  EXPECT_EQ(readFile(*second.path), std::optional<std::string>("contents"));
  context_->performAndWait([&] {
    context_->refreshObject(note, false);
    EXPECT_TRUE(note->valueForKey("fileProviderMaterialized").boolValue());
  });

  ContentsResult noExtension = fetchContents(identifierOf(bare));
  EXPECT_EQ(lastPathComponent(*noExtension.path), bare->identifier());

  // No file and no cloud: no such item. So too for an earlier incarnation.
  auto gone = item(box, "gone.txt", 1, 1, /*withFile=*/false);
  ContentsResult missing = fetchContents(identifierOf(gone));
  EXPECT_TRUE(missing.error && missing.error->is(kFileProviderErrorDomain, kFileProviderErrorNoSuchItem));
  context_->performAndWait([&] {
    note->setValueForKey("fileProviderIdentifierVersion", 1);
    EXPECT_TRUE(context_->save());
  });
  auto [stale, staleError] = getItem(noteID);
  EXPECT_FALSE(stale);
  EXPECT_TRUE(staleError && staleError->is(kFileProviderErrorDomain, kFileProviderErrorNoSuchItem));
  auto [current, currentError] = getItem(noteID + "|1");
  ASSERT_TRUE(current) << currentError->description();
  EXPECT_EQ(current->filename(), "note.txt");
}

TEST_F(ContentsTest, AMissingFileIsDownloadedFromTheCloudIntoTheLibrary) {
  auto [doc, cloud] = cloudItemWithoutFile("from the cloud");
  ScopedCloudContainer installed(kCloudContainerName, cloud);

  ContentsResult result = fetchContents(identifierOf(doc));
  ASSERT_FALSE(result.error) << result.error->description();
  EXPECT_EQ(readFile(*result.path), std::optional<std::string>("from the cloud"));
  context_->performAndWait([&] {
    context_->refreshObject(doc, false);
    EXPECT_EQ(readFile(*doc->fileURL()), std::optional<std::string>("from the cloud"));
    EXPECT_EQ(doc->valueForKey("cloudFileDownloadStatus").numberValue(), 1.0);
    EXPECT_EQ(doc->valueForKey("cloudFileUploadStatus").numberValue(), 2.0);
    auto modified = attributesOfItem(*doc->fileURL())->modificationDate();
    EXPECT_NEAR(modified.timeIntervalSinceReferenceDate(), 5000, 1e-3);
  });
}

TEST_F(ContentsTest, CloudErrorsReachTheServiceConverted) {
  auto [doc, cloud] = cloudItemWithoutFile("x");
  ScopedCloudContainer installed(kCloudContainerName, cloud);
  const std::string identifier = identifierOf(doc);

  struct Case {
    long cloudCode;
    long expected;
  };
  for (Case c : {Case{kCloudErrorQuotaExceeded, kFileProviderErrorInsufficientQuota},
                 Case{kCloudErrorNotAuthenticated, kFileProviderErrorNotAuthenticated},
                 Case{kCloudErrorAccountTemporarilyUnavailable, kFileProviderErrorNotAuthenticated},
                 Case{kCloudErrorNetworkFailure, kFileProviderErrorServerUnreachable},
                 Case{kCloudErrorZoneNotFound, kFileProviderErrorCannotSynchronize}}) {
    cloud->faults().failNextRequests(cloudError(c.cloudCode));
    ContentsResult result = fetchContents(identifier);
    ASSERT_TRUE(result.error) << c.cloudCode;
    EXPECT_TRUE(result.error->is(kFileProviderErrorDomain, c.expected)) << result.error->description();
    ASSERT_TRUE(result.error->underlyingError());
    EXPECT_EQ(result.error->underlyingError()->code(), c.cloudCode);
    if (c.expected == kFileProviderErrorCannotSynchronize) {
      EXPECT_EQ(result.error->itemIdentifier(), std::optional<std::string>(identifier));
    }
  }
}

TEST_F(ContentsTest, ACloudThatNeverAnswersEndsInTheResponseTimeOut) {
  auto [doc, cloud] = cloudItemWithoutFile("x");
  ScopedCloudContainer installed(kCloudContainerName, cloud);
  double previous = FileProviderOperation::defaultResponseTimeoutInterval();
  FileProviderOperation::setDefaultResponseTimeoutInterval(0.2);
  cloud->faults().withholdNextRequests(1);

  ContentsResult result = fetchContents(identifierOf(doc));
  FileProviderOperation::setDefaultResponseTimeoutInterval(previous);
  ASSERT_TRUE(result.error);
  EXPECT_TRUE(result.error->is(kCocoaErrorDomain, kCocoaUserCancelledError)) << result.error->description();
  EXPECT_NE(logText().find("timed out waiting for iCloud."), std::string::npos);
}

// Answers a fetch with progress 0.5, then waits for the test before the
// record arrives.
class HalfwayService : public CloudService {
 public:
  explicit HalfwayService(std::shared_ptr<CloudService> real) : real_(std::move(real)) {}
  CloudModifyRecordsResult modifyRecords(CloudDatabaseScope scope, const CloudModifyRecordsRequest& request,
                                         const CloudCancellation& cancellation) override {
    return real_->modifyRecords(scope, request, cancellation);
  }
  CloudFetchRecordsResult fetchRecords(CloudDatabaseScope scope, const CloudFetchRecordsRequest& request,
                                       const CloudCancellation& cancellation) override {
    for (const RecordID& id : request.recordIDs) request.progress(id, 0.5);
    halfway.set_value();
    proceed.get_future().wait();
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
    return real_->fetchZoneChanges(scope, request, cancellation);
  }
  std::promise<void> halfway;
  std::promise<void> proceed;

 private:
  std::shared_ptr<CloudService> real_;
};

class HalfwayContainer : public CloudContainer {
 public:
  HalfwayContainer(std::shared_ptr<EmbeddedCloudContainer> real, std::shared_ptr<HalfwayService> service)
      : real_(std::move(real)),
        service_(std::move(service)),
        private_(std::make_shared<CloudDatabase>(service_, CloudDatabaseScope::Private)),
        shared_(std::make_shared<CloudDatabase>(service_, CloudDatabaseScope::Shared)) {}
  const std::string& containerIdentifier() const override { return real_->containerIdentifier(); }
  std::shared_ptr<CloudDatabase> privateCloudDatabase() override { return private_; }
  std::shared_ptr<CloudDatabase> sharedCloudDatabase() override { return shared_; }
  std::string storeLocation() const override { return real_->storeLocation(); }

 private:
  std::shared_ptr<EmbeddedCloudContainer> real_;
  std::shared_ptr<HalfwayService> service_;
  std::shared_ptr<CloudDatabase> private_;
  std::shared_ptr<CloudDatabase> shared_;
};

TEST_F(ContentsTest, DownloadProgressFollowsTheCloudTransfer) {
  auto [doc, cloud] = cloudItemWithoutFile("x");
  auto service = std::make_shared<HalfwayService>(cloud->service());
  ScopedCloudContainer installed(kCloudContainerName, std::make_shared<HalfwayContainer>(cloud, service));

  std::promise<std::optional<Error>> done;
  auto progress = extension_->fetchContentsForItemWithIdentifier(
      identifierOf(doc), [&](const std::optional<std::string>&, FileProviderItemPtr, const Error* error) {
        done.set_value(error ? std::optional<Error>(*error) : std::nullopt);
      });
  auto finished = done.get_future();
  ASSERT_EQ(service->halfway.get_future().wait_for(20s), std::future_status::ready)
      << (finished.wait_for(0s) == std::future_status::ready ? finished.get()->description() : "still running");
  EXPECT_EQ(progress->completedUnitCount(), 50);
  EXPECT_EQ(progress->totalUnitCount(), 100);
  service->proceed.set_value();
  std::optional<Error> failure = finished.get();
  EXPECT_FALSE(failure) << failure->description();
  EXPECT_EQ(progress->completedUnitCount(), 100);
}

TEST_F(ContentsTest, ServiceSourcesConnectTheHostApplicationToTheExtension) {
  Folder::Ptr box = folder(root_, "Box", 1);
  auto note = item(box, "note.txt", 1, 1);
  std::string noteID = identifierOf(note);

  auto sourcesFor = [&](const std::string& identifier) {
    std::promise<std::pair<size_t, std::optional<Error>>> done;
    std::vector<std::shared_ptr<FileProviderServiceSource>> kept;
    extension_->supportedServiceSourcesForItemIdentifier(identifier, [&](const auto& sources, const Error* error) {
      kept = sources;
      done.set_value({sources.size(), error ? std::optional<Error>(*error) : std::nullopt});
    });
    auto result = done.get_future().get();
    return std::make_pair(result, kept);
  };
  auto [rootAnswer, rootSources] = sourcesFor(kRootContainerItemIdentifier);
  EXPECT_EQ(rootAnswer.first, 1u);
  context_->performAndWait([&] {
    note->setValueForKey("fileProviderIdentifierVersion", 2);
    EXPECT_TRUE(context_->save());
  });
  auto [staleAnswer, staleSources] = sourcesFor(noteID);
  EXPECT_EQ(staleAnswer.first, 0u);
  ASSERT_TRUE(staleAnswer.second);
  EXPECT_TRUE(staleAnswer.second->is(kExtensionFileProviderErrorDomain, kFileProviderNoLibraryObjectErrorCode));

  // A listener serves its first connection and is then let go.
  auto source = rootSources.front();
  EXPECT_EQ(FileProviderServiceSource::serviceName(), "com.quillet-FileProvider");
  std::string endpoint = source->makeListenerEndpoint();
  EXPECT_EQ(source->pendingListenerCount(), 1u);
  auto connection = ServiceListener::connectToEndpoint(endpoint);
  ASSERT_TRUE(connection);
  EXPECT_EQ(source->pendingListenerCount(), 0u);
  EXPECT_FALSE(ServiceListener::connectToEndpoint(endpoint));
  auto providing = connection->exportedObject<FileProviding>();
  ASSERT_EQ(providing.get(), static_cast<FileProviding*>(extension_.get()));

  std::promise<FileProvidingReply> reimported;
  providing->reimportItemsBelowItemWithIdentifier(kRootContainerItemIdentifier,
                                                  [&](const FileProvidingReply& reply) { reimported.set_value(reply); });
  EXPECT_EQ(reimported.get_future().get().success, std::optional<bool>(true));
}

TEST_F(ContentsTest, FiveMaterializationsRunAtOnceAndTheSixthWaits) {
  Folder::Ptr box = folder(root_, "Box", 1);
  std::vector<std::string> paths;
  for (int i = 0; i < 6; ++i) {
    auto file = item(box, "f" + std::to_string(i) + ".txt", 1, 1);
    context_->performAndWait([&] { paths.push_back(*file->fileURL()); });
  }
  // Holding every file for writing keeps each coordinated read waiting.
  std::mutex mutex;
  std::condition_variable changed;
  int replies = 0;
  std::vector<std::string> replied;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::vector<std::thread> writers;
  std::atomic<int> holding{0};
  for (const std::string& path : paths) {
    writers.emplace_back([&, path] {
      FileCoordinator coordinator;
      EXPECT_TRUE(coordinator.coordinateWriting(path, FileCoordinator::kNoOptions, [&](const std::string&) {
        ++holding;
        released.wait();
      }));
    });
  }
  while (holding < 6) std::this_thread::sleep_for(1ms);
  for (const std::string& path : paths) {
    extension_->materializeURL(path, [&](const FileProvidingReply& reply) {
      std::lock_guard lock(mutex);
      ++replies;
      if (reply.url) replied.push_back(*reply.url);
      changed.notify_all();
    });
  }
  auto& queue = extension_->materalizationOperationQueue();
  auto executing = [&] {
    auto operations = queue.operations();
    return std::count_if(operations.begin(), operations.end(), [](const auto& op) { return op->isExecuting(); });
  };
  auto deadline = std::chrono::steady_clock::now() + 5s;
  while (executing() < 5 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(executing(), 5);
  EXPECT_EQ(queue.operationCount(), 6u);
  release.set_value();
  for (auto& writer : writers) writer.join();
  std::unique_lock lock(mutex);
  EXPECT_TRUE(changed.wait_for(lock, 10s, [&] { return replies == 6; }));
  std::sort(replied.begin(), replied.end());
  std::vector<std::string> sent = paths;
  std::sort(sent.begin(), sent.end());
  EXPECT_EQ(replied, sent);
}

}  // namespace
}  // namespace qlt
