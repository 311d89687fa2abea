#include <gtest/gtest.h>

#include "platform/cloud/cloud_error.h"
#include "platform/cloud/cloud_test_support.h"
#include "platform/cloud/embedded_cloud_record_coding.h"
#include "platform/files/file_system.h"
#include "platform/foundation/property_list_serialization.h"

namespace qlt {
namespace {

TEST(CloudRecordTest, FieldsTrackChangedKeysAndCopiesAreIndependent) {
  CloudRecord record("Item", RecordID("Item|A", RecordZoneID()));
  record.setObjectForKey("b", 1);
  record.setObjectForKey("a", "x");
  record.removeObjectForKey("c");
  EXPECT_EQ(record.allKeys(), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(record.changedKeys(), (std::set<std::string>{"a", "b", "c"}));
  EXPECT_FALSE(record.parentChanged());

  CloudRecord copy = record;
  copy.setObjectForKey("a", "y");
  copy.clearChangedKeys();
  EXPECT_EQ(*record.objectForKey("a")->string(), "x");
  EXPECT_EQ(record.changedKeys().size(), 3u);
  EXPECT_FALSE(copy.hasSameContents(record));

  // Integers and Booleans stay apart.
  EXPECT_EQ(CloudValue(1).type(), CloudValue::Type::Integer);
  EXPECT_EQ(CloudValue(true).type(), CloudValue::Type::Boolean);
  EXPECT_NE(CloudValue(1), CloudValue(true));
  EXPECT_TRUE(CloudRecord("cloudkit.share", RecordID()).isShare());
}

TEST(CloudRecordTest, ErrorAccessorsOnlyAnswerForTheirErrors) {
  CloudRecord client("Item", RecordID("Item|A", RecordZoneID()));
  CloudRecord server = client;
  server.setObjectForKey("name", "server");
  Error changed = cloudServerRecordChangedError(client, server);
  EXPECT_EQ(*cloudServerRecord(changed)->objectForKey("name")->string(), "server");
  EXPECT_FALSE(cloudPartialErrors(changed));
  Error partial = cloudPartialFailureError({{client.recordID(), changed}});
  EXPECT_EQ(cloudPartialErrors(partial)->at(client.recordID()).code(), kCloudErrorServerRecordChanged);
  EXPECT_FALSE(cloudClientRecord(partial));

  Error foreign(kCocoaErrorDomain, kCloudErrorServerRecordChanged);
  foreign.setUserInfoValue(kCloudRecordChangedErrorServerRecordKey, std::string("not a record"));
  EXPECT_FALSE(cloudServerRecord(foreign));
  EXPECT_FALSE(isCloudError(foreign, kCloudErrorServerRecordChanged));
}

TEST(CloudRecordTest, DamagedStoredBodiesAreRejected) {
  std::map<std::string, CloudValue> fields{{"list", CloudList{CloudReference{RecordID("R", RecordZoneID())}, 2.5}}};
  auto body = encodeCloudRecordBody(fields, CloudReference{RecordID("P", RecordZoneID())});
  ASSERT_TRUE(body);
  std::map<std::string, CloudValue> decoded;
  std::optional<CloudReference> parent;
  ASSERT_TRUE(decodeCloudRecordBody(*body, decoded, parent));
  EXPECT_EQ(decoded, fields);
  EXPECT_EQ(parent->recordID.recordName, "P");

  Error error;
  EXPECT_FALSE(decodeCloudRecordBody(Bytes{'b', 'p', 'l', 'i', 's', 't'}, decoded, parent, &error));
  EXPECT_FALSE(error.domain().empty());
  PropertyListDictionary bad{{"fields", PropertyListDictionary{{"x", PropertyListDictionary{{"t", "asset"}}}}}};
  auto badBody = serializePropertyList(PropertyList(bad), PropertyListFormat::Binary);
  EXPECT_FALSE(decodeCloudRecordBody(*badBody, decoded, parent, &error));
}

using CloudLimitsTest = CloudStoreTest;

TEST_P(CloudLimitsTest, OversizedRequestsAndDamagedOrMissingStoresFailCleanly) {
  std::vector<RecordID> many;
  for (int index = 0; index < 401; ++index) many.push_back(recordID("Item|" + std::to_string(index)));
  EXPECT_EQ(fetch(privateDatabase(), many).error->code(), kCloudErrorLimitExceeded);

  Error error;
  if (GetParam() == CloudBackend::Embedded) {
    ASSERT_TRUE(createDirectory(scratch.path("Damaged"), true));
    ASSERT_TRUE(writeFileAtomically(scratch.path("Damaged/CloudStore.sqlite"), std::string(4096, 'x')));
    EXPECT_FALSE(EmbeddedCloudContainer::open("iCloud.test", scratch.path("Damaged"), &error));
    EXPECT_EQ(error.domain(), kCloudErrorDomain);
    return;
  }
  std::string missing = "postgresql:///nowhere?host=" + scratch.path("nosrv") + "&user=quillet&password=secret";
  EXPECT_FALSE(PostgresCloudContainer::open("iCloud.test", missing, "missing", scratch.path("D"), &error));
  EXPECT_TRUE(isCloudError(error, kCloudErrorNetworkUnavailable)) << error.description();
  EXPECT_EQ(error.description().find("secret"), std::string::npos) << "the URI stays out of errors";
}

QLT_CLOUD_BACKEND_TESTS(CloudLimitsTest);

}  // namespace
}  // namespace qlt
