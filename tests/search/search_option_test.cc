#include "search/search_option.h"

#include <gtest/gtest.h>

#include "platform/foundation/keyed_archiver.h"
#include "search/search_option_archive.h"
#include "search_library_fixture.h"

namespace qlt {
namespace {

using namespace search_condition;
using Names = std::set<std::string>;

class SearchOptionTest : public SearchLibraryFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library);
    work = insert("Tag", "Work");
    home = insert("Tag", "Home");
    red = insert("Label", "Red");
    blue = insert("Label", "Blue");

    ManagedObjectPtr report = item("Report for the quarterly meeting", paris(2026, 3, 3, 10, 0));
    report->addObjectForKey("tags", work);
    report->setObjectForKey("label", red);
    report->setValueForKey("fileType", "com.adobe.pdf");
    report->setValueForKey("highLevelFileType", "pdf");
    report->setValueForKey("size", 5000);
    report->setValueForKey("favorite", true);
    ManagedObjectPtr chart = insert("ItemAttachment", "Chart.png");
    chart->setValueForKey("fileType", "public.png");
    chart->setValueForKey("highLevelFileType", "image");
    report->addObjectForKey("attachments", chart);
    ManagedObjectPtr checklist = insert("ItemTextInfo");
    checklist->setValueForKey("hasChecklistItems", true);
    checklist->setValueForKey("outstandingChecklistItems", "buy milk");
    report->setObjectForKey("textInfo", checklist);

    ManagedObjectPtr annual = item("Annual report 2025", paris(2026, 3, 4, 0, 0));
    annual->addObjectForKey("tags", home);
    annual->setValueForKey("fileType", "public.jpeg");
    annual->setValueForKey("highLevelFileType", "image");
    annual->setValueForKey("size", 100);
    ManagedObjectPtr plain = insert("ItemTextInfo");
    plain->setValueForKey("hasChecklistItems", false);
    annual->setObjectForKey("textInfo", plain);

    item("Notes", paris(2026, 3, 16, 0, 0))->setValueForKey("fileType", "net.daringfireball.markdown");
    ManagedObjectPtr old = item("Old note", paris(2026, 3, 15, 23, 59));
    old->addObjectForKey("tags", work);
    old->addObjectForKey("tags", home);
    old->setObjectForKey("label", blue);
    item("Fresh", paris(2026, 5, 15, 8, 0));
    bundle = insert("Bundle", "Quarter");
    report->addObjectForKey("groups", bundle);
    annual->setObjectForKey("sharedItem", insert("SharedItem"));
    ASSERT_TRUE(context->save());
  }

  std::string id(const ManagedObjectPtr& object) { return *object->valueForKey("identifier").string(); }

  ManagedObjectPtr work, home, red, blue, bundle;
  const Names all{"Report for the quarterly meeting", "Annual report 2025", "Notes", "Old note", "Fresh"};
};

Names without(Names names, const Names& removed) {
  for (const auto& name : removed) names.erase(name);
  return names;
}

TEST_F(SearchOptionTest, TextConditionsMatchWordsPhrasesAndWildcards) {
  auto typed = splitTypedSearch("Name: *report* ");
  ASSERT_TRUE(typed);
  EXPECT_EQ(typed->key, "name");
  SearchOption wildcard = SearchOption::forKeySearchText(typed->key, typed->value);
  EXPECT_EQ(wildcard.conditionType(), kIs);
  EXPECT_EQ(selected(wildcard), (Names{"Report for the quarterly meeting", "Annual report 2025"}));
  EXPECT_EQ(SearchOption::forKeySearchText("name", "report").conditionType(), kContains);

  EXPECT_EQ(selected(SearchOption::forName("quarterly report")), (Names{"Report for the quarterly meeting"}));
  EXPECT_EQ(selected(SearchOption::forName("\"quarterly report\"")), Names{});
  EXPECT_EQ(selected(SearchOption::forText("name", "NOTE", kEndsWith)), (Names{"Old note"}));
  EXPECT_EQ(selected(SearchOption::forText("name", "annual", kBeginsWith)), (Names{"Annual report 2025"}));
  EXPECT_EQ(selected(SearchOption::forText("name", "notes", kIsNot)), without(all, {"Notes"}));
  EXPECT_EQ(selected(SearchOption::forText("name", "report", kDoesNotContain)), (Names{"Notes", "Old note", "Fresh"}));
  EXPECT_FALSE(SearchOption::forName("").predicate(clock)) << "an empty text selects nothing";
  EXPECT_FALSE(SearchOption::forText("name", "x", kOn).predicate(clock));
}

TEST_F(SearchOptionTest, DatesAreWholeLocalDaysAndPeriodsCountBackFromTomorrow) {
  Date march3 = paris(2026, 3, 3, 18, 30);
  EXPECT_EQ(selected(SearchOption::forDate(march3, "dateModified", kOn)), (Names{"Report for the quarterly meeting"}));
  EXPECT_EQ(selected(SearchOption::forDate(march3, "before", kBefore)), Names{});
  EXPECT_EQ(selected(SearchOption::forDate(march3, "after", kAfter)), (Names{"Notes", "Old note", "Fresh"}))
      << "after the day means past its end, so midnight of the next day is not after it";
  EXPECT_EQ(selected(SearchOption::forDate(march3, "dateModified", kOnOrBefore)),
            (Names{"Report for the quarterly meeting"}));
  EXPECT_EQ(selected(SearchOption::forDate(march3, "dateModified", kOnOrAfter)), all);

  SearchOption twoMonths = SearchOption::forDatePeriod("dateModified", SearchOptionPeriod::Unit::Month, 2);
  EXPECT_EQ(twoMonths.valueType(), SearchValueType::Period);
  EXPECT_EQ(selected(twoMonths), (Names{"Notes", "Fresh"}));
  EXPECT_EQ(selected(SearchOption::forDatePeriod("dateModified", SearchOptionPeriod::Unit::Day, 1)), (Names{"Fresh"}));
  EXPECT_EQ(selected(SearchOption::forDatePeriod("dateModified", SearchOptionPeriod::Unit::Year, 1)), all);
}

TEST_F(SearchOptionTest, RelationshipsMatchByIdentifierOrByTheirNames) {
  EXPECT_EQ(selected(SearchOption::forTag(id(work))), (Names{"Report for the quarterly meeting", "Old note"}));
  SearchOption notWork = SearchOption::forTag(id(work));
  notWork.setConditionType(kIsNot);
  notWork.setLibraryObjectIdentifier(id(work));
  EXPECT_EQ(selected(notWork), (Names{"Annual report 2025", "Notes", "Fresh"}));
  EXPECT_EQ(selected(SearchOption::forUntaggedItems()), (Names{"Notes", "Fresh"}));

  EXPECT_EQ(selected(SearchOption::forLabel(id(red))), (Names{"Report for the quarterly meeting"}));
  SearchOption notRed = SearchOption::forLabel(id(red));
  notRed.setConditionType(kIsNot);
  notRed.setLibraryObjectIdentifier(id(red));
  EXPECT_EQ(selected(notRed), without(all, {"Report for the quarterly meeting"}));
  EXPECT_EQ(selected(SearchOption::forLabel("")), (Names{"Annual report 2025", "Notes", "Fresh"}));

  EXPECT_EQ(selected(SearchOption::forKeySearchText("tags.name", "work")),
            (Names{"Report for the quarterly meeting", "Old note"}));
  EXPECT_EQ(selected(SearchOption::forText("tags.name", "work", kIsNot)), (Names{"Annual report 2025", "Notes", "Fresh"}));
  EXPECT_EQ(selected(SearchOption::forText("label.name", "lu", kContains)), (Names{"Old note"}));
  EXPECT_EQ(selected(SearchOption::forAttachmentName("chart")), (Names{"Report for the quarterly meeting"}));
  EXPECT_EQ(selected(SearchOption::forAttachmentKind("image")), (Names{"Report for the quarterly meeting"}));
  EXPECT_EQ(selected(SearchOption::forBundle(id(bundle))), (Names{"Report for the quarterly meeting"}));
  EXPECT_EQ(selected(SearchOption::forSharedItems()), (Names{"Annual report 2025"}));
  SearchOption unshared = SearchOption::forSharedItems();
  unshared.setNumberValue(0);
  EXPECT_EQ(selected(unshared), without(all, {"Annual report 2025"}));
}

TEST_F(SearchOptionTest, FileTypesSizesAndBooleans) {
  EXPECT_EQ(selected(SearchOption::forFileType("image")), (Names{"Annual report 2025"}));
  EXPECT_EQ(selected(SearchOption::forFileType("com.adobe.pdf")), (Names{"Report for the quarterly meeting"}));
  SearchOption notImage = SearchOption::forFileType("image");
  notImage.setConditionType(kIsNot);
  notImage.setStringValue("image");
  EXPECT_EQ(selected(notImage), without(all, {"Annual report 2025"}));

  SearchOption big("size");
  big.setConditionType(kGreaterThan);
  big.setNumberValue(1000);
  EXPECT_EQ(selected(big), (Names{"Report for the quarterly meeting"}));
  big.setConditionType(kLessThan);
  EXPECT_EQ(selected(big), (Names{"Annual report 2025"}));

  EXPECT_EQ(selected(SearchOption::forFavorites()), (Names{"Report for the quarterly meeting"}));
  EXPECT_EQ(selected(SearchOption::forAttachments()), (Names{"Report for the quarterly meeting"}));
  EXPECT_EQ(selected(SearchOption::forChecklists()), (Names{"Report for the quarterly meeting"}));
  EXPECT_EQ(selected(SearchOption::forOutstandingChecklists()), (Names{"Report for the quarterly meeting"}));
  SearchOption noChecklists = SearchOption::forChecklists();
  noChecklists.setNumberValue(0);
  EXPECT_EQ(selected(noChecklists), without(all, {"Report for the quarterly meeting"}))
      << "items without text info have no checklists";
  SearchOption noAttachments = SearchOption::forAttachments();
  noAttachments.setNumberValue(0);
  EXPECT_EQ(selected(noAttachments), without(all, {"Report for the quarterly meeting"}));
}

TEST_F(SearchOptionTest, KeysDecideValueTypesConditionsAndValidity) {
  SearchOption unknown("bogus");
  EXPECT_EQ(unknown.valueType(), SearchValueType::Invalid);
  EXPECT_FALSE(unknown.predicate(clock));
  EXPECT_FALSE(unknown.isValid());

  SearchOption option = SearchOption::forName("x");
  option.setKey("favorite");
  EXPECT_EQ(option.stringValue(), "") << "a new value type clears the old value";
  EXPECT_EQ(option.numberValue(), 1);
  EXPECT_EQ(option.identifier(), "favorite:YES");
  option.setKey("dateAdded");
  option.setConditionType(kWithinLast);
  EXPECT_EQ(option.valueType(), SearchValueType::Period);
  EXPECT_TRUE(option.isValid());
  option.setConditionType(kContains);
  EXPECT_FALSE(option.isValid());
  EXPECT_EQ(searchBooleanComparisonForKey("attachments.@count"), SearchBooleanComparison::Count);
  EXPECT_EQ(SearchOption::forDate(Date(), "after", kAfter).key(), "dateModified");
  EXPECT_FALSE(splitTypedSearch("no colon here"));
  EXPECT_EQ(splitTypedSearch("tag:")->key, "tags.name");
  EXPECT_EQ(splitTypedSearch("tag:")->value, "");
}

TEST_F(SearchOptionTest, OptionsSurviveTheirArchiveAndBadArchivesAreRefused) {
  std::vector<SearchOption> options{
      SearchOption::forName("quarterly"),
      SearchOption::forDate(paris(2026, 3, 3, 9, 0), "dateModified", kOn),
      SearchOption::forDatePeriod("dateAdded", SearchOptionPeriod::Unit::Year, 3),
      SearchOption::forTag(id(work)),
      SearchOption::forChecklists(),
  };
  SearchOption size("size");
  size.setConditionType(kLessThan);
  size.setNumberValue(4096);
  options.push_back(size);
  Error error;
  auto data = archivedSearchOptions(options, &error);
  ASSERT_TRUE(data) << error.description();
  auto restored = unarchivedSearchOptions(*data, &error);
  ASSERT_TRUE(restored) << error.description();
  ASSERT_EQ(restored->size(), options.size());
  for (size_t i = 0; i < options.size(); ++i) {
    const SearchOption& a = options[i];
    const SearchOption& b = (*restored)[i];
    EXPECT_EQ(b.identifier(), a.identifier());
    EXPECT_EQ(b.persistentIdentifier(), a.persistentIdentifier());
    EXPECT_EQ(b.conditionType(), a.conditionType());
    EXPECT_EQ(b.valueType(), a.valueType());
    EXPECT_EQ(selected(b.predicate(clock)), selected(a.predicate(clock))) << a.identifier();
  }

  auto strings = KeyedArchiver::archivedData(ArchiveObject::array({std::string("name")}));
  ASSERT_TRUE(strings);
  EXPECT_FALSE(unarchivedSearchOptions(*strings, &error));
  EXPECT_EQ(error.code(), kCocoaCoderReadCorruptError);
  EXPECT_FALSE(unarchivedSearchOptions(Bytes{'b', 'a', 'd'}));
}

}  // namespace
}  // namespace qlt
