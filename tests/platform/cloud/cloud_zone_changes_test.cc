#include <gtest/gtest.h>

#include <chrono>

#include "platform/cloud/cloud_fetch_zone_changes_operation.h"
#include "platform/cloud/cloud_test_support.h"

namespace qlt {
namespace {

using namespace std::chrono_literals;

struct ZoneChanges {
  std::vector<CloudRecord> changed;
  std::vector<RecordID> deleted;
  ServerChangeToken token;
  bool moreComing = false;
  std::optional<Error> error;

  std::vector<std::string> changedNames() const {
    std::vector<std::string> names;
    for (const CloudRecord& record : changed) names.push_back(record.recordID().recordName);
    return names;
  }
};

ZoneChanges fetchChanges(CloudDatabase& database, const RecordZoneID& zone, std::optional<ServerChangeToken> token,
                         size_t limit = 0) {
  ZoneChanges outcome;
  auto operation = std::make_shared<FetchRecordZoneChangesOperation>(zone, std::move(token));
  operation->resultsLimit = limit;
  operation->fetchRecordZoneChangesCompletionBlock = [&](const std::vector<CloudRecord>& changed,
                                                         const std::vector<RecordID>& deleted,
                                                         const ServerChangeToken& next, bool more, const Error* error) {
    outcome = {changed, deleted, next, more, error ? std::optional<Error>(*error) : std::nullopt};
  };
  database.add(operation);
  operation->waitUntilFinished();
  return outcome;
}

using CloudZoneChangesTest = CloudStoreTest;

TEST_P(CloudZoneChangesTest, ChangesSinceATokenComeOnceInBatchesWithDeletions) {
  std::string assetPath = scratch.path("file.txt");
  ASSERT_TRUE(writeFileAtomically(assetPath, "bytes"));
  CloudRecord a = newRecord("Item|A");
  a.setObjectForKey("file", CloudAsset{assetPath});
  ASSERT_FALSE(modify(privateDatabase(), {a, newRecord("Item|B"), newRecord("Item|C")}).error);

  ZoneChanges first = fetchChanges(privateDatabase(), zone, std::nullopt, 2);
  ASSERT_FALSE(first.error) << first.error->description();
  EXPECT_EQ(first.changedNames(), (std::vector<std::string>{"Item|A", "Item|B"}));
  EXPECT_TRUE(first.moreComing);
  ASSERT_TRUE(first.changed[0].objectForKey("file")->asset());
  EXPECT_EQ(first.changed[0].objectForKey("file")->asset()->filePath, "") << "zone changes carry no files";
  ZoneChanges rest = fetchChanges(privateDatabase(), zone, first.token, 2);
  EXPECT_EQ(rest.changedNames(), std::vector<std::string>{"Item|C"});
  EXPECT_FALSE(rest.moreComing);
  ZoneChanges none = fetchChanges(privateDatabase(), zone, rest.token);
  EXPECT_TRUE(none.changed.empty() && none.deleted.empty());

  // A record changed twice comes once, as it is now; a deletion by name.
  CloudRecord b = fetch(privateDatabase(), {recordID("Item|B")}).records.at(recordID("Item|B"));
  b.setObjectForKey("name", "one");
  b = modify(privateDatabase(), {b}).saved.at(0);
  b.setObjectForKey("name", "two");
  ASSERT_FALSE(modify(privateDatabase(), {b}).error);
  ASSERT_FALSE(modify(privateDatabase(), {}, {recordID("Item|C")}).error);
  ZoneChanges later = fetchChanges(privateDatabase(), zone, rest.token);
  ASSERT_EQ(later.changedNames(), std::vector<std::string>{"Item|B"});
  EXPECT_EQ(*later.changed[0].objectForKey("name")->string(), "two");
  EXPECT_EQ(later.deleted, std::vector<RecordID>{recordID("Item|C")});

  // Saved again after its deletion, a record is a change again.
  ASSERT_FALSE(modify(privateDatabase(), {newRecord("Item|C")}).error);
  ZoneChanges revived = fetchChanges(privateDatabase(), zone, later.token);
  EXPECT_EQ(revived.changedNames(), std::vector<std::string>{"Item|C"});
  EXPECT_TRUE(revived.deleted.empty());

  EXPECT_EQ(fetchChanges(privateDatabase(), RecordZoneID("Missing", kCurrentUserDefaultName), std::nullopt)
                .error->code(),
            kCloudErrorZoneNotFound);
  EXPECT_EQ(fetchChanges(privateDatabase(), zone, ServerChangeToken(Bytes{'x'})).error->code(),
            kCloudErrorInvalidArguments);
}

QLT_CLOUD_BACKEND_TESTS(CloudZoneChangesTest);

}  // namespace
}  // namespace qlt
