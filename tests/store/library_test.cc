#include "store/library.h"

#include <gtest/gtest.h>

#include "library_fixture.h"

namespace qlt {
namespace {

class LibraryTest : public ::testing::Test, public LibraryFixture {};

TEST_F(LibraryTest, ACloudRecordNeverTurnsTheFirstCloudStoreBackOff) {
  ASSERT_TRUE(library) << loadError.description();
  view().performAndWait([&] {
    CloudRecord record = library->cloudRecord();
    record.setObjectForKey("firstCloudStoreCompleted", CloudValue(false));
    library->updateFromCloudRecord(record);
    EXPECT_FALSE(library->boolForKey("firstCloudStoreCompleted")) << "still off: nothing to keep";

    library->setValueForKey("firstCloudStoreCompleted", true);
    library->updateFromCloudRecord(record);
    EXPECT_TRUE(library->boolForKey("firstCloudStoreCompleted"));
    EXPECT_EQ(*record.objectForKey("firstCloudStoreCompleted"), CloudValue(false)) << "the caller's record is kept";
    record.removeObjectForKey("firstCloudStoreCompleted");
    library->updateFromCloudRecord(record);
    EXPECT_TRUE(library->boolForKey("firstCloudStoreCompleted"));
  });
}

TEST_F(LibraryTest, ServerChangeTokensSurviveASaveAndEmptyOnesStoreNothing) {
  ASSERT_TRUE(library) << loadError.description();
  RecordZoneID zone("Quillet", kCurrentUserDefaultName);
  RecordZoneID other("Shared", "someone-else");
  view().performAndWait([&] {
    EXPECT_FALSE(library->privateDatabaseServerChangeToken());
    EXPECT_FALSE(library->changeTokensByRecordZone());
    library->setPrivateDatabaseServerChangeToken(ServerChangeToken({1, 2}));
    library->setSharedDatabaseServerChangeToken(ServerChangeToken({3}));
    library->setCloudNotificationsServerChangeToken(ServerChangeToken({4}));
    library->setServerChangeTokenForRecordZoneID(ServerChangeToken({5}), zone);
    library->setServerChangeTokenForRecordZoneID(ServerChangeToken({6}), other);
    library->setServerChangeTokenForRecordZoneID(std::nullopt, other);
    ASSERT_TRUE(view().save());
    view().refreshAllObjects();

    EXPECT_EQ(library->privateDatabaseServerChangeToken(), ServerChangeToken({1, 2}));
    EXPECT_EQ(library->sharedDatabaseServerChangeToken(), ServerChangeToken({3}));
    EXPECT_EQ(library->cloudNotificationsServerChangeToken(), ServerChangeToken({4}));
    EXPECT_EQ(library->changeTokensByRecordZone(),
              (Library::ChangeTokensByRecordZone{{zone, ServerChangeToken({5})}}));

    library->setPrivateDatabaseServerChangeToken(std::nullopt);
    EXPECT_TRUE(library->valueForKey("privateDatabaseServerChangeTokenData").isNull());
    library->setChangeTokensByRecordZone({});
    EXPECT_TRUE(library->valueForKey("changeTokensByRecordZoneData").isNull());
    EXPECT_FALSE(library->changeTokensByRecordZone());

    library->setValueForKey("sharedDatabaseServerChangeTokenData", Bytes{1, 2, 3});
    EXPECT_FALSE(library->sharedDatabaseServerChangeToken()) << "undecodable data reads as no token";
  });
}

}  // namespace
}  // namespace qlt
