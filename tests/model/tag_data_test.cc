#include "model/tag_data.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/finder_tags.h"
#include "model/label.h"
#include "platform/foundation/archive_object.h"
#include "platform/files/extended_attributes.h"
#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/property_list_serialization.h"
#include "support/scratch_directory.h"

namespace qlt {
namespace {

using Names = std::vector<std::string>;
using Colors = std::vector<int64_t>;

Bytes plist(const PropertyList& value) { return *serializePropertyList(value, PropertyListFormat::Binary); }
Bytes archive(const ArchiveObject& root) { return *KeyedArchiver::archivedData(root); }

TEST(TagDataTest, FileProviderTagDataRoundTripsInTheGivenOrder) {
  auto data = fileProviderTagData({{"a", 6}, {"b", 0}, {"Ünïcode\\", 7}});
  ASSERT_TRUE(data);
  EXPECT_EQ(tagNamesFromTagData(*data), (Names{"a", "b", "Ünïcode\\"}));
  EXPECT_EQ(tagLabelColorsFromTagData(*data), (Colors{6, 0, 7}));
  EXPECT_EQ(tagNamesFromTagData(*fileProviderTagData({})), Names{});
  EXPECT_FALSE(fileProviderTagData({{std::string("\xff\xfe"), 1}})) << "a name that is not UTF-8";
}

TEST(TagDataTest, FinderTagListsSplitNamesAndColours) {
  Bytes list = plist(PropertyListArray{"Work\n4", "Home", "\n3", "7", "a\nb\n2", 12});
  EXPECT_EQ(tagNamesFromTagData(list), (Names{"Work", "Home", "7", "a"}));
  EXPECT_EQ(tagLabelColorsFromTagData(list), (Colors{4, 0, 3, 7, 2}));

  Bytes trailing = plist(PropertyListArray{"Work\n"});
  EXPECT_EQ(tagNamesFromTagData(trailing), Names{"Work"});
  EXPECT_EQ(tagLabelColorsFromTagData(trailing), Colors{}) << "the lists differ in length";

  auto written = finderTagListData({{"Work", 4}, {"Home", 0}});
  EXPECT_EQ(tagLabelColorsFromTagData(*written), (Colors{4, 0}));
}

TEST(TagDataTest, HostileDataYieldsNothingOrSkipsBadEntries) {
  testing::internal::CaptureStderr();
  EXPECT_FALSE(tagNamesFromTagData({}));
  EXPECT_FALSE(tagNamesFromTagData(Bytes{'g', 'a', 'r', 'b', 'a', 'g', 'e'}));
  Bytes truncated = archive(ArchiveObject::dictionary({{"v", 1}, {"t", ArchiveObject::array({})}}));
  truncated.resize(truncated.size() / 2);
  EXPECT_FALSE(tagLabelColorsFromTagData(truncated));
  EXPECT_FALSE(tagNamesFromTagData(archive(ArchiveObject::array({"x"}))));
  EXPECT_FALSE(tagNamesFromTagData(archive(ArchiveObject::dictionary({{"t", "not a list"}}))));
  EXPECT_FALSE(tagNamesFromTagData(archive(ArchiveObject::dictionary({{"t", Bytes{1, 2}}}))))
      << "a class outside the allowed ones";
  std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(log.find("Tags data not a dictionary: NSArray"), std::string::npos) << log;
  EXPECT_NE(log.find("Couldn't decode tags: "), std::string::npos) << log;

  Bytes mixed = archive(ArchiveObject::dictionary(
      {{"t", ArchiveObject::array({ArchiveObject::array({"ok", 2}), "loose", ArchiveObject::array({}),
                                   ArchiveObject::array({5, "x"}), ArchiveObject::array({"alone"})})}}));
  EXPECT_EQ(tagNamesFromTagData(mixed), (Names{"ok", "alone"}));
  EXPECT_EQ(tagLabelColorsFromTagData(mixed), (Colors{2, 0, 0}));

  std::vector<ArchiveObject> many(30000, ArchiveObject::array({"n", 1}));
  auto huge = tagNamesFromTagData(archive(ArchiveObject::dictionary({{"t", ArchiveObject::array(many)}})));
  EXPECT_TRUE(!huge || huge->size() == many.size());
}

TEST(TagDataTest, FinderTagsLiveInTheUserNamespace) {
  ScratchDirectory scratch;
  std::string file = scratch.path("file.txt");
  FILE* handle = std::fopen(file.c_str(), "w");
  ASSERT_TRUE(handle);
  std::fclose(handle);
  Error error;
  if (!setFinderTagNames(file, {"Work", "Home"}, &error)) GTEST_SKIP() << "no user xattrs: " << error.description();
  EXPECT_TRUE(extendedAttribute(file, "user.com.apple.metadata:_kMDItemUserTags"));
  EXPECT_EQ(tagNamesFromTagData(*finderTagsAttribute(file)), (Names{"Work", "Home"}));
  ASSERT_TRUE(setFinderTagNames(file, {}));
  EXPECT_FALSE(finderTagsAttribute(file));
}

TEST(LabelColorTypeTest, NamesAndStandardColours) {
  EXPECT_EQ(Label::localizedNameForColorType(0), "Custom");
  EXPECT_EQ(Label::localizedNameForColorType(7), "Gray");
  EXPECT_FALSE(Label::localizedNameForColorType(8));
  EXPECT_FALSE(Label::localizedNameForColorType(-1));
  EXPECT_FALSE(Label::standardColorForColorType(0));
  EXPECT_TRUE(Label::standardColorForColorType(1));
}

}  // namespace
}  // namespace qlt
