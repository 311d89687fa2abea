#include "util/hashtags.h"

#include <gtest/gtest.h>

namespace qlt {
namespace {

std::vector<std::string> names(std::string_view text, bool numeric) {
  std::vector<std::string> result;
  for (const Hashtag& tag : tagNamesAndRangesFromHashtags(text, numeric)) result.push_back(tag.name);
  return result;
}

TEST(HashtagsTest, NamesComeFromWordsStartingWithAHash) {
  const char* text = "Plan #work_items and#not #2024 #a#b";
  EXPECT_EQ(names(text, false), (std::vector<std::string>{"work items", "a", "b"}));
  EXPECT_EQ(names(text, true), (std::vector<std::string>{"work items", "2024", "a", "b"}));
  EXPECT_EQ(names("#caf\u00e9! #\u65e5\u672c\n#end.", false),
            (std::vector<std::string>{"caf\u00e9", "\u65e5\u672c", "end"}));
  EXPECT_TRUE(names("# ## #! #_", false).size() == 1);

  auto tags = tagNamesAndRangesFromHashtags("\U0001F600 #tag", false);
  ASSERT_EQ(tags.size(), 1u);
  EXPECT_EQ(tags[0].range, (TextRange{3, 4}));
}

}  // namespace
}  // namespace qlt
