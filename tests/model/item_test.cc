#include "model/item.h"

#include <gtest/gtest.h>

#include "model_fixture.h"
#include "platform/foundation/keyed_archiver.h"

namespace qlt {
namespace {

class ItemTest : public ::testing::Test, public ModelFixture {
 protected:
  std::shared_ptr<Item> item = std::dynamic_pointer_cast<Item>(context->insertNewObject("Item"));
};

TEST_F(ItemTest, DatesAndTheOneSecondRule) {
  ASSERT_TRUE(item);
  Date start = *item->dateAdded();
  EXPECT_EQ(item->dateCreated(), start);
  EXPECT_EQ(item->dateModified(), start);
  EXPECT_EQ(item->mostRecentDate(), start);

  item->setValueForKey("metadataState", 3);
  item->setValueForKey("indexingState", 4);
  item->setDateModified(start.addingTimeInterval(0.5));
  EXPECT_EQ(item->valueForKey("metadataState"), Value(3));
  EXPECT_EQ(item->mostRecentDate(), start.addingTimeInterval(0.5)) << "stored in every case";
  item->setDateModified(start.addingTimeInterval(1.5));
  EXPECT_EQ(item->valueForKey("metadataState"), Value(0)) << "1.0 s from the stored date";
  EXPECT_EQ(item->valueForKey("indexingState"), Value(0));

  item->setDateLastViewed(start.addingTimeInterval(60));
  EXPECT_EQ(item->mostRecentDate(), start.addingTimeInterval(60));
  item->setValueForKey("dateModified", Value());
  item->setDateLastViewed(std::nullopt);
  EXPECT_EQ(item->mostRecentDate(), start) << "absent dates are ignored";
  item->setValueForKey("metadataState", 3);
  item->setDateModified(start);
  EXPECT_EQ(item->valueForKey("metadataState"), Value(0)) << "nothing stored matches nothing";
}

TEST_F(ItemTest, TypeChangesBumpTheVersionOnlyAcrossThePackageBoundary) {
  struct Step {
    const char* type;
    int64_t version;
    const char* highLevel;
  } steps[] = {{"public.plain-text", 0, "public.plain-text"}, {"net.daringfireball.markdown", 0, "public.plain-text"},
               {"com.apple.rtfd", 1, ""},                     {"com.apple.rtfd", 1, ""},
               {"public.mpeg-4-audio", 2, "public.movie"},     {"org.example.unknown", 2, ""},
               {"com.quillet.note", 2, ""},                    {"public.mp3", 3, "public.audio"}};
  for (const Step& step : steps) {
    item->setFileType(step.type);
    EXPECT_EQ(item->fileProviderIdentifierVersion(), step.version) << step.type;
    EXPECT_EQ(item->highLevelFileType(), step.highLevel) << step.type;
  }
}

TEST_F(ItemTest, SourceKeepsTheTextWithoutEscapesAndParsesBack) {
  const std::string url = "https://example.com/a%20b?q=caf%C3%A9#top";
  item->setSourceURL(url);
  EXPECT_EQ(item->valueForKey("source"), Value("https://example.com/a b?q=café#top"));
  ASSERT_TRUE(context->save());
  EXPECT_EQ(reread<Item>(item)->sourceURL(), url);

  for (auto [source, expected] : {std::pair<const char*, std::optional<std::string>>{"file:///a <b>|c#d#e",
                                                                                      "file:///a%20%3Cb%3E%7Cc#d%23e"},
                                  {"100% sure", "100%25%20sure"},
                                  {"not a url: really", std::nullopt},
                                  {"", std::nullopt}}) {
    item->setValueForKey("source", source);
    EXPECT_EQ(item->sourceURL(), expected) << source;
  }
  item->setSourceURL("https://example.com/%ZZ");
  EXPECT_EQ(item->valueForKey("source"), Value("https://example.com/%ZZ")) << "undecodable escapes stay";
}

TEST_F(ItemTest, FetchingAnUploadedItemWithoutUploadDateRepairsItsState) {
  item->setDateModified(Date(700000000));
  item->setValueForKey("cloudUploadCompleted", true);
  auto uploaded = context->insertNewObject("Item");
  uploaded->setValueForKey("cloudUploadCompleted", true);
  uploaded->setValueForKey("cloudLastUploadedModificationDate", Date(1));
  ASSERT_TRUE(context->save());

  auto repaired = reread<Item>(item);
  EXPECT_EQ(repaired->valueForKey("cloudLastUploadedModificationDate"), Value(Date(700000000)));
  EXPECT_EQ(repaired->valueForKey("cloudFileUploadStatus"), Value(2));
  EXPECT_FALSE(reread<Item>(uploaded)->hasChanges());
}

TEST_F(ItemTest, StateInfoRoundTripsAndIgnoresEqualValues) {
  EXPECT_FALSE(item->stateInfo());
  PropertyListDictionary info{{"page", 3}, {"zoom", 1.5}, {"open", true}, {"viewed", Date(12345)},
                              {"anchors", PropertyListArray{"a", PropertyListDictionary{{"y", 2}}}}};
  item->setStateInfo(info);
  ASSERT_TRUE(context->save());
  auto fetched = reread<Item>(item);
  EXPECT_EQ(fetched->stateInfo(), info);
  fetched->setStateInfo(info);
  EXPECT_FALSE(fetched->hasChanges()) << "an equal dictionary changes nothing";

  testing::internal::CaptureStderr();
  item->setValueForKey("stateInfoData", Bytes{1, 2, 3});
  EXPECT_FALSE(item->stateInfo());
  item->setValueForKey("stateInfoData", *KeyedArchiver::archivedData(ArchiveObject("not a dictionary")));
  EXPECT_FALSE(item->stateInfo());
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Couldn't unarchive stateInfo"), std::string::npos);
  item->setStateInfo(std::nullopt);
  EXPECT_TRUE(item->valueForKey("stateInfoData").isNull());
}

}  // namespace
}  // namespace qlt
