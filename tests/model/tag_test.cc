#include "model/tag.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "model/finder_tags.h"
#include "model/label.h"
#include "model/tag_data.h"
#include "model_fixture.h"
#include "platform/foundation/property_list_serialization.h"
#include "support/scoped_environment.h"
#include "platform/defaults/user_defaults.h"
#include "store/library_model_constants.h"

namespace qlt {
namespace {

class TagTest : public ::testing::Test, public ModelFixture {
 protected:
  TagTest() : lib(LibraryObject::libraryObject(*context, "Library", "Library")) {}

  Tag::Ptr tag(const std::string& name) { return Tag::tagWithName(name, lib); }
  // A new tag even when one of a name equal ignoring case exists.
  Tag::Ptr newTag(const std::string& name, const std::string& identifier) {
    auto tag = context->insertNewObject("Tag")->as<Tag>();
    tag->setValueForKey("name", name);
    tag->setValueForKey("identifier", identifier);
    tag->setObjectForKey("library", lib);
    return tag;
  }
  ManagedObjectPtr item(const std::vector<Tag::Ptr>& tags = {}) {
    auto item = context->insertNewObject("Item");
    for (const auto& tag : tags) item->addObjectForKey("tags", tag);
    return item;
  }
  std::set<std::string> names() {
    std::set<std::string> result;
    auto tags = context->fetch(FetchRequest("Tag"));
    for (const auto& object : *tags) result.insert(*object->valueForKey("name").string());
    return result;
  }

  ManagedObjectPtr lib;
};

TEST_F(TagTest, LookupsIgnoreCaseOnly) {
  ASSERT_TRUE(lib);
  auto cafe = tag("Café");
  EXPECT_EQ(cafe->groupType(), kTagGroupType);
  EXPECT_EQ(cafe->objectForKey("library")->objectID(), lib->objectID());
  EXPECT_EQ(Tag::existingTagWithName("CAFÉ", lib), cafe);
  EXPECT_FALSE(Tag::existingTagWithName("Cafe", lib)) << "diacritics count";
  auto slash = tag("a\\b*");
  EXPECT_EQ(Tag::existingTagWithName("A\\B*", lib), slash);
  EXPECT_FALSE(Tag::existingTagWithName("a\\bc", lib));

  auto found = Tag::tagsWithNames({"café", "", "New", "new", "Missing"}, lib, false);
  EXPECT_EQ(found, std::vector<Tag::Ptr>{cafe});
  found = Tag::tagsWithNames({"café", "", "New", "new"}, lib, true);
  ASSERT_EQ(found.size(), 2u) << "one tag for names equal ignoring case";
  EXPECT_EQ(found[1]->name(), "New");

  item({cafe});
  auto used = Tag::tagsWithPrefix("CA", lib);
  EXPECT_EQ(used, std::vector<Tag::Ptr>{cafe}) << "unused tags and other prefixes are left out";
}

TEST_F(TagTest, RenamingRefusesAnotherTagsNameIgnoringCase) {
  auto home = tag("Home");
  tag("HOME2");
  auto other = newTag("HOME", "other");
  Error error;
  EXPECT_FALSE(home->canChangeName(" home \n", &error));
  EXPECT_TRUE(error.is(kTagErrorDomain, kTagWithNameAlreadyExistsErrorCode));
  EXPECT_EQ(error.localizedDescription(), "A tag with the name “home” already exists.");
  EXPECT_FALSE(home->canChangeName("\u00A0HOME\u2028")) << "Unicode whitespace and newlines are trimmed";
  EXPECT_TRUE(home->canChangeName("\u3000\u0085"));
  EXPECT_EQ(tag("\u3000Home\n"), home) << "names of new tags are cleaned before the lookup";
  EXPECT_FALSE(home->changeName("home"));
  EXPECT_EQ(home->name(), "Home");
  EXPECT_TRUE(home->canChangeName("Home"));
  EXPECT_TRUE(home->canChangeName("  "));
  EXPECT_TRUE(home->changeName(""));
  EXPECT_EQ(home->name(), "Home");

  auto tagged = item({home, tag("alpha")});
  EXPECT_TRUE(home->changeName(" Zuhause "));
  EXPECT_EQ(home->name(), "Zuhause");
  EXPECT_EQ(*tagged->valueForKey("tagNames").string(), "alpha, Zuhause");
  EXPECT_TRUE(other->changeName("home")) << "a case-only change of its own name";
}

TEST_F(TagTest, MergingAndPruning) {
  auto b = newTag("x", "B");
  auto a = newTag("x", "A");
  auto upper = newTag("X", "C");
  item({a});
  auto second = item({b});
  tag("unused");
  auto searched = tag("searched");
  context->insertNewObject("SearchGroup")->setObjectForKey("targetGroup", searched);
  ASSERT_TRUE(context->save());

  testing::internal::CaptureStderr();
  Tag::consolidateDuplicateTagNames(*context);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Removing duplicate tags: (B)"), std::string::npos);
  EXPECT_TRUE(b->isDeleted());
  EXPECT_FALSE(upper->isDeleted()) << "merging compares names exactly";
  EXPECT_EQ(a->items().size(), 2u);
  EXPECT_EQ(second->objectsForKey("tags"), std::vector<ManagedObjectPtr>{a});

  Tag::removeUnusedTags(*context);
  ASSERT_TRUE(context->save());
  EXPECT_EQ(names(), (std::set<std::string>{"x", "searched"}));
}

TEST_F(TagTest, TagDataOfTagsSortedByName) {
  auto b = tag("b");
  auto a = tag("a");
  a->setFileLabelColor(6);
  std::vector<Tag::Ptr> tags{b, a};
  Tag::sortByName(tags);
  auto data = Tag::fileProviderTagData(tags);
  EXPECT_EQ(Tag::tagNamesFromFileProviderTagData(*data), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(Tag::tagLabelColorsFromFileProviderTagData(*data), (std::vector<int64_t>{6, 0}));
}

TEST_F(TagTest, ItemTagDataFollowsTheFileFinderTags) {
  ScopedEnvironment config("XDG_CONFIG_HOME", scratch.path("config").c_str());
  std::string file = scratch.path("note.txt");
  std::fclose(std::fopen(file.c_str(), "w"));
  auto data = finderTagListData({{"Work", 4}, {"Home", 0}});
  if (!setFinderTagsAttribute(file, *data)) GTEST_SKIP() << "no user extended attributes here";
  auto note = item({tag("Old")});

  EXPECT_TRUE(updateItemTagDataFromFile(note, file, lib, true));
  Bytes stored = *note->valueForKey("fileProviderTagData").data();
  EXPECT_EQ(Tag::tagNamesFromFileProviderTagData(stored), (std::vector<std::string>{"Home", "Work"}));
  EXPECT_EQ(Tag::existingTagWithName("work", lib)->fileLabelColor(), 4);
  EXPECT_EQ(note->objectsForKey("tags").size(), 1u) << "tags follow only with both defaults on";
  EXPECT_FALSE(updateItemTagDataFromFile(note, file, lib, true)) << "nothing new";

  Bytes unpaired = *serializePropertyList(PropertyListArray{"Work\n"}, PropertyListFormat::Binary);
  ASSERT_TRUE(setFinderTagsAttribute(file, unpaired));
  auto plain = item();
  plain->setValueForKey("fileProviderTagData", stored);
  EXPECT_TRUE(updateItemTagDataFromFile(plain, file, lib, true));
  EXPECT_EQ(*plain->valueForKey("fileProviderTagData").data(), *finderTagsAttribute(file))
      << "without pairs the file's data is taken as it is";
  EXPECT_TRUE(plain->objectsForKey("tags").empty());

  EXPECT_TRUE(UserDefaults::standard().setBool(true, kItemImportFinderTagsKey));
  EXPECT_TRUE(UserDefaults::standard().setBool(true, kItemUpdateFinderTagsKey));
  ASSERT_TRUE(setFinderTagsAttribute(file, *data));
  testing::internal::CaptureStderr();
  auto fresh = item({tag("Old")});
  EXPECT_TRUE(updateItemTagDataFromFile(fresh, file, lib, true));
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Updating tags from Finder for "), std::string::npos);
  std::set<std::string> tagNames;
  for (const auto& t : fresh->objectsForKey("tags")) tagNames.insert(*t->valueForKey("name").string());
  EXPECT_EQ(tagNames, (std::set<std::string>{"Work", "Home"}));
  fresh->setObjectsForKey("tags", {tag("Old")});
  EXPECT_TRUE(updateItemTagDataFromFile(fresh, file, lib, true));
  EXPECT_EQ(fresh->objectsForKey("tags").size(), 2u) << "tags follow the names even when the tag data is unchanged";
  auto shared = item({tag("Old")});
  updateItemTagDataFromFile(shared, file, lib, false);
  EXPECT_EQ(shared->objectsForKey("tags").size(), 1u) << "shared items keep their tags";
  EXPECT_TRUE(UserDefaults::standard().removeObjectForKey(kItemImportFinderTagsKey));
  EXPECT_TRUE(UserDefaults::standard().removeObjectForKey(kItemUpdateFinderTagsKey));
}

TEST_F(TagTest, LabelColorTypeSetsStandardColours) {
  auto label = context->insertNewObject("Label")->as<Label>();
  ASSERT_TRUE(label);
  EXPECT_EQ(label->groupType(), kLabelGroupType);
  EXPECT_EQ(label->colorType(), 0);
  RGBA custom{0.1, 0.2, 0.3, 1};
  label->setColor(custom);
  label->setColorType(0);
  EXPECT_EQ(label->color(), custom);
  label->setColorType(5);
  EXPECT_EQ(label->color(), *Label::standardColorForColorType(5));
  label->setColor(custom);
  label->setColorType(5);
  EXPECT_EQ(label->color(), custom) << "the same type changes nothing";
  label->setColorType(0);
  EXPECT_EQ(label->color(), custom);
}

}  // namespace
}  // namespace qlt
