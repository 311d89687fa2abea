#include "search/search_group_query.h"

#include <gtest/gtest.h>

#include "model/folder_fixture.h"
#include "model/search_group.h"

namespace qlt {
namespace {

using Names = std::vector<std::string>;
using Field = SearchGroup::Field;

class SearchGroupQueryTest : public FolderFixture {
 protected:
  void SetUp() override {
    FolderFixture::SetUp();
    if (HasFatalFailure()) return;
    projects = make(root, "Projects");
    work = context->insertNewObject("Tag");
    work->setValueForKey("name", "Budget");
    filed("Quarterly report", projects)->addObjectForKey("tags", work);
    filed("Report draft", projects)->setValueForKey("comments", "for the board");
    filed("Holiday photos", root)->setValueForKey("comments", "report card inside");
    filed("Budget notes", root);
    item(trash, "Old report")->setValueForKey("comments", "report");
    ASSERT_TRUE(context->save());
    search = std::dynamic_pointer_cast<SearchGroup>(context->insertNewObject("SearchGroup"));
    search->setObjectForKey("library", libraryObject);
    search->setTargetGroup(nullptr);
    search->setSearchAll(false);
    search->setValueForKey("matchAll", true);
  }

  std::shared_ptr<Item> filed(const std::string& name, const Folder::Ptr& folder) {
    auto made = item(folder, name);
    libraryGroup->addObjectForKey("items", made);
    return made;
  }

  Names found(SearchItemQuery* out = nullptr) {
    Error error;
    auto query = searchGroupItemQuery(*search, SearchClock::system(), &error);
    EXPECT_TRUE(query) << error.description();
    if (!query) return {};
    if (out) *out = *query;
    auto items = context->fetch(query->request, &error);
    EXPECT_TRUE(items) << error.description();
    Names names;
    for (const auto& object : items.value_or(std::vector<ManagedObjectPtr>{}))
      names.push_back(*object->valueForKey("name").string());
    return names;
  }

  Folder::Ptr projects;
  ManagedObjectPtr work;
  std::shared_ptr<SearchGroup> search;
};

TEST_F(SearchGroupQueryTest, TypedTextBecomesAnOptionAndFieldsBecomeAlternatives) {
  search->setSearchText("name:report");
  SearchItemQuery query;
  EXPECT_EQ(found(&query), (Names{"Quarterly report", "Report draft"}));
  EXPECT_EQ(query.request.predicate->description().find("comments"), std::string::npos);

  search->setSearchText("report");
  EXPECT_EQ(found(), (Names{"Budget notes", "Holiday photos", "Quarterly report", "Report draft"}))
      << "a text with no field to search narrows nothing";
  search->setSearchesField(Field::Name, true);
  search->setSearchesField(Field::Tags, true);
  EXPECT_FALSE(search->searchAll());
  search->setSearchText("budget");
  EXPECT_EQ(found(&query), (Names{"Budget notes", "Quarterly report"}));
  EXPECT_NE(std::find(query.prefetchedRelationships.begin(), query.prefetchedRelationships.end(), "tags"),
            query.prefetchedRelationships.end());

  search->setSearchAll(true);
  search->setSearchText("report");
  EXPECT_EQ(found(), (Names{"Holiday photos", "Quarterly report", "Report draft"}))
      << "comments count, the trash does not";
  search->setSearchAll(false);
  for (Field field : {Field::Name, Field::Comments, Field::Source, Field::Contents, Field::Tags, Field::Labels})
    EXPECT_FALSE(search->searchesField(field));
}

TEST_F(SearchGroupQueryTest, OptionsCombineWithTheTextByMatchAllWithinTheTarget) {
  search->setSearchesField(Field::Name, true);
  ASSERT_TRUE(setSearchGroupOptions(*search, {SearchOption::forTag(work->valueForKey("identifier").string()->c_str()),
                                              SearchOption::forComments("board")}));
  search->setSearchText("notes");
  EXPECT_EQ(found(), Names{}) << "all three at once match nothing";
  search->setValueForKey("matchAll", false);
  EXPECT_EQ(found(), (Names{"Budget notes", "Quarterly report", "Report draft"}));

  search->setTargetGroup(projects);
  EXPECT_EQ(found(), (Names{"Quarterly report", "Report draft"}));
  search->setSearchText("");
  ASSERT_TRUE(setSearchGroupOptions(*search, {}));
  EXPECT_EQ(found(), (Names{"Quarterly report", "Report draft"})) << "the folder's items, never the trash's";
}

TEST_F(SearchGroupQueryTest, InvalidGroupsShowTheLibraryGroupAndBadOptionsAreReported) {
  search->setSearchesField(Field::Name, true);
  search->setSearchText("holiday");
  search->setTargetGroup(projects);
  context->deleteObject(projects);
  ASSERT_TRUE(context->save());
  EXPECT_FALSE(isValidSearchGroup(*search, {}));
  EXPECT_EQ(found(), (Names{"Budget notes", "Holiday photos"})) << "the library group's items by name";

  SearchOption wrong = SearchOption::forName("x");
  wrong.setConditionType(search_condition::kOn);
  search->setTargetGroup(nullptr);
  EXPECT_FALSE(isValidSearchGroup(*search, {wrong}));
  search->setValueForKey("searchOptionsData", Bytes{'n', 'o', 'p', 'e'});
  Error error;
  EXPECT_FALSE(searchGroupItemQuery(*search, SearchClock::system(), &error));
  EXPECT_FALSE(error.description().empty());
}

TEST_F(SearchGroupQueryTest, EqualSortKeysKeepOneStableOrder) {
  for (const char* name : {"Same", "Same", "Same"}) filed(name, root)->setValueForKey("comments", "tie");
  search->setSearchesField(Field::Comments, true);
  search->setSearchText("tie");
  ASSERT_TRUE(context->save());
  Error error;
  auto query = searchGroupItemQuery(*search, SearchClock::system(), &error);
  ASSERT_TRUE(query);
  auto first = context->fetchObjectIDs(query->request);
  auto second = context->fetchObjectIDs(query->request);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(first->size(), 3u);
  EXPECT_EQ(*first, *second);
}

}  // namespace
}  // namespace qlt
