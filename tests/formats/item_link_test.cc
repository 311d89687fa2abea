#include "formats/item_link.h"

#include <gtest/gtest.h>

#include <vector>

namespace qlt {
namespace {

constexpr const char* kI = "0F8E1C2A-3B4D-4E5F-8A9B-0C1D2E3F4A5B";
constexpr const char* kJ = "11111111-2222-4333-8444-555555555555";
constexpr const char* kK = "AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE";

TEST(ItemLinkTest, LinksAreMadeReadAndCarryTheReferringItem) {
  std::string link = itemLinkURL(kI);
  EXPECT_EQ(link, std::string("quillet://link?item=") + kI);
  EXPECT_TRUE(isItemLink(link));
  EXPECT_EQ(fromItemIdentifier(link), std::nullopt);
  EXPECT_EQ(linkedItemIdentifier(link), kI);

  std::string fromJ = URLWithFromItemIdentifier(link, kJ);
  EXPECT_EQ(fromJ, link + "&from=" + kJ);
  std::string fromK = URLWithFromItemIdentifier(fromJ, kK);
  EXPECT_EQ(fromK, link + "&from=" + kK) << "only the last referring item stays";
  EXPECT_EQ(fromItemIdentifier(fromK), kK);
  EXPECT_EQ(fromItemIdentifier("quillet://link?from=X&item=Y&from=Z"), "Z");

  std::optional<ItemLink> parsed = parseItemLink(fromK);
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->item, kI);
  EXPECT_EQ(parsed->from, kK);
}

TEST(ItemLinkTest, OtherURLsAreNotItemLinks) {
  EXPECT_FALSE(isItemLink("quillet://link?from=X")) << "no item";
  EXPECT_EQ(fromItemIdentifier("quillet://link?from=X"), std::nullopt);
  EXPECT_FALSE(isItemLink(std::string("https://link?item=") + kI));
  EXPECT_FALSE(isItemLink(std::string("quillet://note?item=") + kI));
  EXPECT_EQ(URLWithFromItemIdentifier("https://example.com/a?b=c", kJ), "https://example.com/a?b=c");
  EXPECT_EQ(linkedItemIdentifier("quillet://link?item="), std::nullopt);
  EXPECT_EQ(linkedItemIdentifier("https://example.com/?item=X"), "X") << "the scheme is not examined here";
}

TEST(ItemLinkTest, MalformedAndHostileLinksGiveAClearError) {
  const std::string item = std::string("item=") + kI;
  for (const std::string& hostile : std::vector<std::string>{
           "https://link?" + item,
           std::string("file:///etc/passwd"),
           "quillet://other?" + item,
           "quillet://user@link?" + item,
           "quillet://link:80?" + item,
           "quillet://link/extra?" + item,
           "quillet://link?" + item + "#fragment",
           std::string("quillet://link"),
           std::string("quillet://link?from=") + kJ,
           "quillet://link?" + item + "&" + item,
           "quillet://link?" + item + "&from=" + kJ + "&from=" + kK,
           "quillet://link?" + item + "&extra=1",
           std::string("quillet://link?item=Folder|") + kI,
           std::string("quillet://link?item=%2E%2E%2F%2E%2E%2Fetc%2Fpasswd"),
           std::string("quillet://link?item=..%2F") + kI,
           std::string("quillet://link?item=") + kI + "%2F",
           std::string("quillet://link?item=") + kI + "&from=%2E%2E",
           std::string("quillet://link?item"),
           std::string("not a url at all"),
       }) {
    Error error;
    EXPECT_FALSE(parseItemLink(hostile, &error)) << hostile;
    EXPECT_TRUE(error.is(kItemLinkErrorDomain, kItemLinkMalformedErrorCode)) << hostile;
    EXPECT_TRUE(error.localizedDescription().starts_with("The link is not an item link: ")) << hostile;
  }
}

}  // namespace
}  // namespace qlt
