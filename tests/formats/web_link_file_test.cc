#include "formats/web_link_file.h"

#include <gtest/gtest.h>

#include "formats/info_file.h"
#include "formats/url_cleaned_for_import.h"
#include "platform/files/file_attributes.h"
#include "platform/files/file_system.h"
#include "platform/files/property_list_file.h"
#include "platform/foundation/property_list_serialization.h"
#include "support/scratch_directory.h"

namespace qlt {
namespace {

URLComponents url(std::string_view text) {
  auto parsed = URLComponents::fromString(text);
  EXPECT_TRUE(parsed) << text;
  return parsed.value_or(*URLComponents::fromString("invalid:"));
}

std::vector<std::string> strings(const std::optional<std::vector<URLComponents>>& urls) {
  std::vector<std::string> result;
  for (const URLComponents& found : urls.value_or(std::vector<URLComponents>{})) result.push_back(found.string());
  return result;
}

TEST(WebLinkFileTest, WritesAndReadsTheLinkAndItsRenameFlag) {
  ScratchDirectory scratch;
  WebLinkFile link;
  Error error;
  EXPECT_FALSE(link.webLinkData(&error));
  EXPECT_TRUE(error.is(kWebLinkFileErrorDomain, kWebLinkFileNoURLErrorCode));
  EXPECT_EQ(error.localizedDescription(), "No URL.");

  link.setURL(url("https://example.com/a?b=c"));
  ASSERT_TRUE(link.writeToURL(scratch.path("plain.webloc"), &error)) << error.description();
  auto contents = *readFile(scratch.path("plain.webloc"));
  EXPECT_TRUE(contents.starts_with("<?xml"));
  EXPECT_EQ(*readPropertyListFromFile(scratch.path("plain.webloc")),
            PropertyList(PropertyListDictionary{{"URL", "https://example.com/a?b=c"}}));
  EXPECT_TRUE(attributesOfItem(scratch.path("plain.webloc"))->extensionHidden);

  link.setRenameOnFirstLoad(true);
  ASSERT_TRUE(setExtensionHidden(scratch.path("plain.webloc"), false));
  ASSERT_TRUE(link.writeToURL(scratch.path("plain.webloc")));
  EXPECT_FALSE(attributesOfItem(scratch.path("plain.webloc"))->extensionHidden);
  EXPECT_EQ(*readPropertyListFromFile(scratch.path("plain.webloc")),
            PropertyList(PropertyListDictionary{{"URL", "https://example.com/a?b=c"}, {"QLTRenameOnFirstLoad", true}}));

  auto read = WebLinkFile::withFileURL(scratch.path("plain.webloc"), &error);
  ASSERT_TRUE(read) << error.description();
  EXPECT_EQ(read->URL()->string(), "https://example.com/a?b=c");
  EXPECT_TRUE(read->renameOnFirstLoad());
  EXPECT_EQ(read->summaryString(), "example.com/a");
}

TEST(WebLinkFileTest, MalformedFilesAreRefused) {
  ScratchDirectory scratch;
  auto write = [&](const PropertyList& list, PropertyListFormat format = PropertyListFormat::XML) {
    EXPECT_TRUE(writePropertyListToFile(list, scratch.path("x.webloc"), format));
    return scratch.path("x.webloc");
  };
  auto failure = [](const std::string& path) {
    Error error;
    EXPECT_FALSE(WebLinkFile::withFileURL(path, &error));
    return error;
  };
  EXPECT_TRUE(failure(write(PropertyListArray{"https://a.com"})).is(kWebLinkFileErrorDomain, 10002));
  EXPECT_TRUE(failure(write(PropertyListDictionary{{"Other", "x"}})).is(kWebLinkFileErrorDomain, 10001));
  EXPECT_TRUE(failure(write(PropertyListDictionary{{"URL", 42}})).is(kWebLinkFileErrorDomain, 10002));
  PropertyListDictionary badFlag{{"URL", "https://a.com"}, {"QLTRenameOnFirstLoad", PropertyListArray{}}};
  EXPECT_TRUE(failure(write(badFlag)).is(kWebLinkFileErrorDomain, 10002));

  auto invalid = WebLinkFile::withFileURL(write(PropertyListDictionary{{"URL", "not a url"}, {"Other", 1}}));
  ASSERT_TRUE(invalid);
  EXPECT_FALSE(invalid->URL());
  auto binary =
      WebLinkFile::withFileURL(write(PropertyListDictionary{{"URL", "http://b.org"}}, PropertyListFormat::Binary));
  ASSERT_TRUE(binary && binary->URL());
  EXPECT_FALSE(binary->renameOnFirstLoad());

  ASSERT_TRUE(writeFileAtomically(scratch.path("x.webloc"), std::string("bplist00\x01\x02\xff garbage", 20)));
  EXPECT_EQ(failure(scratch.path("x.webloc")).code(), kCocoaPropertyListReadCorruptError);
  ASSERT_TRUE(writeFileAtomically(scratch.path("x.webloc"), std::string(kWebLinkFileMaximumSize + 1, ' ')));
  EXPECT_TRUE(failure(scratch.path("x.webloc")).is(kWebLinkFileErrorDomain, 10002));
  EXPECT_EQ(failure(scratch.path("absent.webloc")).code(), kCocoaFileNoSuchFileError);
}

TEST(WebLinkFileTest, NamesSummariesAndAcceptedSchemes) {
  EXPECT_EQ(WebLinkFile::suggestedNameForURL(url("https://www.example.com/path")), "www.example.com.webloc");
  EXPECT_EQ(WebLinkFile::suggestedNameForURL(url("mailto:someone@example.com")), "Untitled Web Link.webloc");

  EXPECT_EQ(WebLinkFile::summaryStringForURL(url("https://example.com/")), "example.com");
  EXPECT_EQ(WebLinkFile::summaryStringForURL(url("https://user@example.com:8080/news?x=1#top")),
            "example.com:8080/news");
  EXPECT_EQ(WebLinkFile::summaryStringForURL(url("https://example.com/a#top")), "example.com/a#top");
  EXPECT_EQ(WebLinkFile::summaryStringForURL(url("mailto:a@b.c")), "mailto:a@b.c");

  EXPECT_TRUE(WebLinkFile::canInitWithURL(url("https://a.com")));
  EXPECT_FALSE(WebLinkFile::canInitWithURL(url("HTTP://a.com")));
  EXPECT_FALSE(WebLinkFile::canInitWithURL(url("ftp://a.com")));
  EXPECT_FALSE(URLComponents::fromString("http://a b.com"));
  EXPECT_FALSE(URLComponents::fromString("http://a.com/%zz"));
}

TEST(WebLinkFileTest, ReaderAddressesAreCleaned) {
  EXPECT_EQ(URLCleanedForImport(url("safari-reader://example.com/story?id=3")).string(),
            "http://example.com/story?id=3");
  EXPECT_EQ(URLCleanedForImport(url("about:reader?url=https%3A%2F%2Fexample.com%2Fa%3Fb%3Dc")).string(),
            "https://example.com/a?b=c");
  EXPECT_EQ(URLCleanedForImport(url("about:reader?other=1")).string(), "about:reader?other=1");
  EXPECT_EQ(URLCleanedForImport(url("ftp://example.com/f")).string(), "ftp://example.com/f");
  EXPECT_EQ(URLCleanedForImport(url("file:///tmp/safari-reader")).string(), "file:///tmp/safari-reader");
}

TEST(WebLinkFileTest, PasteboardAddresses) {
  Pasteboard pasteboard;
  pasteboard.urls = {url("https://a.com"), url("https://a.com"), url("ftp://b.com")};
  pasteboard.url = url("safari-reader://c.com/");
  PropertyListArray addresses, titles, urlsWithTitles;
  addresses.emplace_back("https://d.com");
  addresses.emplace_back(3);
  titles.emplace_back("D");
  urlsWithTitles.emplace_back(std::move(addresses));
  urlsWithTitles.emplace_back(std::move(titles));
  pasteboard.webURLsWithTitles = PropertyList(std::move(urlsWithTitles));
  pasteboard.attributedStrings = std::vector<AttributedText>{{{{"about:reader?url=https%3A%2F%2Fe.com", {}}}}};
  EXPECT_EQ(strings(WebLinkFile::webLinkURLsOnPasteboard(pasteboard)),
            (std::vector<std::string>{"http://c.com/", "https://a.com", "https://d.com", "https://e.com"}));

  Pasteboard text;
  text.attributedStrings = std::vector<AttributedText>{{{{"Read ", {}}, {"this", "https://f.com"}}}};
  EXPECT_EQ(strings(WebLinkFile::webLinkURLsOnPasteboard(text)), std::vector<std::string>{});
  text.attributedStrings = std::vector<AttributedText>{{{{"Read ", "https://f.com"}, {"this", "https://f.com"}}}};
  EXPECT_EQ(strings(WebLinkFile::webLinkURLsOnPasteboard(text)), std::vector<std::string>{"https://f.com"});
  text.attributedStrings = std::vector<AttributedText>{{{{"http://g.com and more", {}}}}};
  EXPECT_EQ(strings(WebLinkFile::webLinkURLsOnPasteboard(text)), std::vector<std::string>{});
  text.attributedStrings = std::vector<AttributedText>{};
  EXPECT_FALSE(WebLinkFile::webLinkURLsOnPasteboard(text));
}

TEST(InfoFileTest, PagesLieInThePlatformDirectory) {
  InfoFile info("/Library/Welcome.qltinfo");
  EXPECT_EQ(info.indexFileURL(), "/Library/Welcome.qltinfo/Mac/index.html");
  EXPECT_EQ(info.darkStylesFileURL(), "/Library/Welcome.qltinfo/Mac/dark.html");
  EXPECT_EQ(infoFileType(), "com.quillet.info");
}

}  // namespace
}  // namespace qlt
