#include "search/search_option_argument.h"

#include <gtest/gtest.h>

namespace qlt {
namespace {

using namespace search_condition;

TEST(SearchOptionArgumentTest, EachKindOfValueIsReadFromItsOwnNotation) {
  auto pattern = searchOptionFromArgument("name:*report*");
  ASSERT_TRUE(pattern);
  EXPECT_EQ(pattern->conditionType(), kIs);
  EXPECT_EQ(searchOptionFromArgument("tag:work")->key(), "tags.name");

  auto day = searchOptionFromArgument("modified:2026-03-03");
  ASSERT_TRUE(day);
  EXPECT_EQ(day->conditionType(), kOn);
  EXPECT_EQ(searchOptionFromArgument("before:2026-03-03")->conditionType(), kBefore);
  auto period = searchOptionFromArgument("added:2m");
  ASSERT_TRUE(period && period->periodValue());
  EXPECT_EQ(period->key(), "dateAdded");
  EXPECT_EQ(period->periodValue()->quantity, 2);
  EXPECT_EQ(period->periodValue()->unit, SearchOptionPeriod::Unit::Month);

  auto notLabel = searchOptionFromArgument("label:!ABC");
  ASSERT_TRUE(notLabel);
  EXPECT_EQ(notLabel->conditionType(), kIsNot);
  EXPECT_EQ(notLabel->libraryObjectIdentifier(), "ABC");
  EXPECT_EQ(searchOptionFromArgument("tags:")->identifier(), "tags:");
  EXPECT_EQ(searchOptionFromArgument("favorite:no")->numberValue(), 0);
  auto size = searchOptionFromArgument("size:>1000");
  ASSERT_TRUE(size);
  EXPECT_EQ(size->conditionType(), kGreaterThan);
  EXPECT_EQ(size->numberValue(), 1000);
}

TEST(SearchOptionArgumentTest, BadArgumentsSayWhatWasExpected) {
  for (const char* bad : {"no colon", "colour:red", "name:", "modified:yesterday", "modified:0d", "favorite:maybe",
                          "size:>", "size:-4", ":x"}) {
    Error error;
    EXPECT_FALSE(searchOptionFromArgument(bad, &error)) << bad;
    EXPECT_EQ(error.domain(), kSearchOptionArgumentErrorDomain) << bad;
    EXPECT_FALSE(error.localizedDescription().empty()) << bad;
  }
  EXPECT_FALSE(searchOptionFromArgument("colour:red")) << "the result does not depend on asking for the error";
}

}  // namespace
}  // namespace qlt
