#include "search/index_search.h"

#include <gtest/gtest.h>

#include "model/folder_fixture.h"
#include "model/search_group.h"
#include "platform/dispatch/main_queue.h"
#include "platform/dispatch/notification_center.h"

namespace qlt {
namespace {

using Field = SearchGroup::Field;

TEST(IndexSearchStringTest, WordsBecomePrefixesAndOperatorsOrPhrasesStayAsTheyAre) {
  EXPECT_EQ(indexSearchString("quarterly report"), "quarterly* report*");
  EXPECT_EQ(indexSearchString("rep* draft"), "rep* draft*");
  EXPECT_EQ(indexSearchString("cats AND dogs"), "cats AND dogs");
  EXPECT_EQ(indexSearchString("\"exact words\""), "\"exact words\"");
  EXPECT_FALSE(indexSearchString("  ,. "));
}

class SearchGroupSettingsTest : public FolderFixture {
 protected:
  void SetUp() override {
    FolderFixture::SetUp();
    if (HasFatalFailure()) return;
    search = std::dynamic_pointer_cast<SearchGroup>(context->insertNewObject("SearchGroup"));
    search->setObjectForKey("library", libraryObject);
    ASSERT_TRUE(context->save());
    for (const char* name : {kSearchGroupSettingsDidChangeNotification, kSearchGroupDidUpdateNotification})
      tokens.push_back(NotificationCenter::defaultCenter().addObserver(
          name, nullptr, [this, name](const Notification&) { ++posted[name]; }));
  }
  void TearDown() override {
    for (ObserverToken token : tokens) NotificationCenter::defaultCenter().removeObserver(token);
  }
  int count(const char* name) {
    dispatchMainSync([] {});
    return posted[name];
  }

  std::shared_ptr<SearchGroup> search;
  std::vector<ObserverToken> tokens;
  std::map<std::string, int> posted;
};

TEST_F(SearchGroupSettingsTest, FieldsAnnounceTheirSettingsAndRestartOnlyARunningSearch) {
  EXPECT_EQ(search->groupType(), 500);
  EXPECT_EQ(search->targetGroup(), nullptr);
  search->setTargetGroup(nullptr);
  EXPECT_EQ(search->targetGroup(), libraryGroup);

  search->setSearchAll(false);
  EXPECT_EQ(count(kSearchGroupSettingsDidChangeNotification), 1);
  search->setSearchAll(false);
  EXPECT_EQ(count(kSearchGroupSettingsDidChangeNotification), 1) << "an unchanged value does nothing";
  search->setSearchesField(Field::Contents, false);
  EXPECT_EQ(count(kSearchGroupSettingsDidChangeNotification), 2) << "field setters announce every call";
  EXPECT_EQ(count(kSearchGroupDidUpdateNotification), 0) << "not searching";

  search->startSearch();
  search->setSearchText("report");
  EXPECT_EQ(count(kSearchGroupDidUpdateNotification), 1);
  for (Field field : {Field::Name, Field::Comments, Field::Source, Field::Contents, Field::Tags})
    search->setSearchesField(field, true);
  EXPECT_FALSE(search->searchAll());
  search->setSearchesField(Field::Labels, true);
  EXPECT_TRUE(search->searchAll()) << "all six fields on";

  EXPECT_EQ(indexSearchStrings(*search, {}), std::vector<std::string>{"report*"});
  search->setSearchText("contents:budget plan");
  EXPECT_EQ(indexSearchStrings(*search, {SearchOption::forContents("\"two words\"")}),
            (std::vector<std::string>{"\"two words\"", "budget* plan*"}));
  search->setSearchesField(Field::Contents, false);
  search->setSearchText("report");
  EXPECT_TRUE(indexSearchStrings(*search, {}).empty());
}

}  // namespace
}  // namespace qlt
