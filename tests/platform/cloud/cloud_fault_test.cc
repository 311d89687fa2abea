#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "platform/cloud/cloud_container.h"
#include "platform/cloud/cloud_test_support.h"
#include "support/scoped_environment.h"
#include "platform/defaults/user_defaults.h"

namespace qlt {
namespace {

using namespace std::chrono_literals;
using CloudFaultTest = CloudStoreTest;

TEST_P(CloudFaultTest, WholeRequestFailuresWriteNothing) {
  faults().failNextRequests(cloudError(kCloudErrorNetworkFailure), 2);
  EXPECT_EQ(modify(privateDatabase(), {newRecord("Item|A")}).error->code(), kCloudErrorNetworkFailure);
  EXPECT_EQ(fetch(privateDatabase(), {recordID("Item|A")}).error->code(), kCloudErrorNetworkFailure);
  FetchOutcome after = fetch(privateDatabase(), {recordID("Item|A")});
  EXPECT_EQ(after.recordError(recordID("Item|A"))->code(), kCloudErrorUnknownItem);
  EXPECT_EQ(faults().requestCount(), 3u);
}

TEST_P(CloudFaultTest, ChosenRecordsFailInsideAPartialFailure) {
  faults().failRecords({recordID("Item|B")}, cloudError(kCloudErrorQuotaExceeded));
  ModifyOutcome outcome = modify(privateDatabase(), {newRecord("Item|A"), newRecord("Item|B")}, {},
                                 CloudSavePolicy::IfServerRecordUnchanged, false);
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->code(), kCloudErrorPartialFailure);
  EXPECT_EQ(outcome.recordError(recordID("Item|B"))->code(), kCloudErrorQuotaExceeded);
  ASSERT_EQ(outcome.saved.size(), 1u);
  EXPECT_EQ(outcome.saved[0].recordID(), recordID("Item|A"));

  // A request that does not name the record leaves the fault for a later one.
  faults().failRecords({recordID("Item|A")}, cloudError(kCloudErrorUnknownItem));
  EXPECT_EQ(fetch(privateDatabase(), {recordID("Item|B")}).recordError(recordID("Item|B"))->code(),
            kCloudErrorUnknownItem);  // never saved
  FetchOutcome fetched = fetch(privateDatabase(), {recordID("Item|A")});
  EXPECT_EQ(fetched.recordError(recordID("Item|A"))->code(), kCloudErrorUnknownItem);
  EXPECT_FALSE(fetch(privateDatabase(), {recordID("Item|A")}).error);
}

TEST_P(CloudFaultTest, DelayedAnswersArriveLate) {
  faults().delayNextRequests(200ms);
  auto start = std::chrono::steady_clock::now();
  ModifyOutcome outcome = modify(privateDatabase(), {newRecord("Item|A")});
  EXPECT_FALSE(outcome.error);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 200ms);
}

TEST_P(CloudFaultTest, WithheldAnswersWaitForCancellation) {
  faults().withholdNextRequests();
  ModifyOutcome outcome;
  auto operation = makeModify(outcome, {newRecord("Item|A")});
  privateDatabase().add(operation);
  std::this_thread::sleep_for(100ms);
  EXPECT_TRUE(operation->isExecuting());
  EXPECT_FALSE(operation->isFinished());
  operation->cancel();
  operation->waitUntilFinished();
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->code(), kCloudErrorOperationCancelled);
  EXPECT_TRUE(outcome.perRecord.empty());
  EXPECT_EQ(fetch(privateDatabase(), {recordID("Item|A")}).recordError(recordID("Item|A"))->code(),
            kCloudErrorUnknownItem);

  // Cancelled before it runs, an operation still reports the cancellation.
  ModifyOutcome early;
  auto cancelled = makeModify(early, {newRecord("Item|B")});
  cancelled->cancel();
  privateDatabase().add(cancelled);
  cancelled->waitUntilFinished();
  EXPECT_EQ(early.error->code(), kCloudErrorOperationCancelled);
}

TEST_P(CloudFaultTest, ARequestWaitingInTheServerIsCancelled) {
  if (GetParam() != CloudBackend::PostgreSQL) GTEST_SKIP() << "the embedded store answers without waiting";
  // Another session holds the zone's write lock, so a save waits there.
  ASSERT_TRUE(server->runInBackground(
      url, "BEGIN; SELECT pg_advisory_xact_lock(hashtextextended('quillet/2/Library/__defaultOwner__', 0)); "
           "SELECT pg_sleep(60)"));
  auto locks = [&] { return server->query(url, "SELECT count(*) FROM pg_locks WHERE locktype = 'advisory'"); };
  for (int attempt = 0; attempt < 100 && locks() != "1"; ++attempt) std::this_thread::sleep_for(50ms);
  ASSERT_EQ(locks(), "1");

  ModifyOutcome outcome;
  auto operation = makeModify(outcome, {newRecord("Item|A")});
  privateDatabase().add(operation);
  std::this_thread::sleep_for(200ms);
  EXPECT_TRUE(operation->isExecuting()) << "waiting for the lock";
  auto cancelled = std::chrono::steady_clock::now();
  operation->cancel();
  operation->waitUntilFinished();
  EXPECT_LT(std::chrono::steady_clock::now() - cancelled, 5s);
  ASSERT_TRUE(outcome.error);
  EXPECT_EQ(outcome.error->code(), kCloudErrorOperationCancelled);

  ASSERT_TRUE(server->query(url, "SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                                 "WHERE query LIKE '%pg_sleep%' AND pid <> pg_backend_pid()"));
  ModifyOutcome after = modify(privateDatabase(), {newRecord("Item|A")});
  EXPECT_FALSE(after.error) << after.error->description();
}

QLT_CLOUD_BACKEND_TESTS(CloudFaultTest);

TEST(CloudContainerRegistryTest, SettingChoosesTheStoreAndTestsCanInstallOne) {
  ScratchDirectory scratch;
  ScopedEnvironment config("XDG_CONFIG_HOME", scratch.path("config").c_str());
  ScopedEnvironment group("QLT_GROUP_CONTAINER", scratch.path("group").c_str());
  setCloudStoreDefaultsSuite("group.test.cloud");

  auto fallback = cloudStoreDirectory("iCloud.test");
  EXPECT_EQ(fallback, scratch.path("group/Library/Cloud Store/iCloud.test"));

  UserDefaults defaults("group.test.cloud");
  ASSERT_TRUE(defaults.setString(scratch.path("chosen"), kCloudStoreDirectoryKey));
  auto container = CloudContainer::containerWithIdentifier("iCloud.test");
  ASSERT_TRUE(container);
  EXPECT_EQ(container->storeLocation(), scratch.path("chosen"));
  EXPECT_EQ(CloudContainer::containerWithIdentifier("iCloud.test"), container);

  auto installed = EmbeddedCloudContainer::open("iCloud.test", scratch.path("installed"));
  {
    ScopedCloudContainer scope("iCloud.test", installed);
    EXPECT_EQ(CloudContainer::containerWithIdentifier("iCloud.test"), installed);
  }
  EXPECT_EQ(CloudContainer::containerWithIdentifier("iCloud.test"), container);
  setCloudStoreDefaultsSuite("group.com.quillet");
}

}  // namespace
}  // namespace qlt
