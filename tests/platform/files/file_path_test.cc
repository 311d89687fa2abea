#include "platform/files/file_path.h"

#include <gtest/gtest.h>

#include <vector>

namespace qlt {
namespace {

TEST(FilePathTest, ComponentsAndExtensions) {
  EXPECT_EQ(appendingPathComponent("/a/", "/b"), "/a/b");
  EXPECT_EQ(appendingPathComponent("", "b"), "b");
  EXPECT_EQ(appendingPathComponent("/", "b"), "/b");
  EXPECT_EQ(lastPathComponent("/a/b.txt/"), "b.txt");
  EXPECT_EQ(lastPathComponent("/"), "/");
  EXPECT_EQ(deletingLastPathComponent("/a/b"), "/a");
  EXPECT_EQ(deletingLastPathComponent("/a"), "/");
  EXPECT_EQ(deletingLastPathComponent("a"), "");
  EXPECT_EQ(pathExtension("/x.y/archive.tar.GZ"), "GZ");
  for (const char* none : {"/x.y/name", ".hidden", "name.", "/a/.b"}) EXPECT_EQ(pathExtension(none), "") << none;
  EXPECT_EQ(deletingPathExtension("/x.y/a.b.c"), "/x.y/a.b");
  EXPECT_EQ(deletingPathExtension("/x.y/.hidden"), "/x.y/.hidden");
  EXPECT_EQ(appendingPathExtension("/d/note/", "qltnote"), "/d/note.qltnote");
  EXPECT_EQ(standardizingPath("/a//b/./c/../d/"), "/a/b/d");
  EXPECT_EQ(standardizingPath("/../a"), "/a");
}

TEST(FilePathTest, ContainmentRefusesEscapes) {
  EXPECT_TRUE(isDescendant("/a/b/../c", "/a"));
  EXPECT_FALSE(isDescendant("/a/../b", "/a"));
  EXPECT_FALSE(isDescendant("/a", "/a/"));
  EXPECT_FALSE(isDescendant("/ab", "/a"));
  EXPECT_EQ(pathInside("/lib", "a/../b"), "/lib/b");
  for (const std::string& bad : std::vector<std::string>{"..", "../x", "a/../../x", "/etc/passwd", "", ".", std::string("a\0b", 3)}) {
    Error error;
    EXPECT_EQ(pathInside("/lib", bad, &error), std::nullopt) << bad;
    EXPECT_EQ(error.code(), kCocoaFileWriteInvalidFileNameError) << bad;
  }
  for (const std::string& bad : std::vector<std::string>{"", ".", "..", "a/b", std::string("a\0b", 3), std::string(256, 'x')})
    EXPECT_FALSE(isValidFilename(bad)) << bad;
  EXPECT_TRUE(isValidFilename("..."));
}

TEST(FilePathTest, FileURLsEscapeAndRoundTrip) {
  std::string path = "/tmp/a b/100%/#1?/é";
  std::string url = fileURLFromPath(path);
  EXPECT_EQ(url, "file:///tmp/a%20b/100%25/%231%3F/%C3%A9");
  EXPECT_EQ(pathFromFileURL(url), path);
  EXPECT_EQ(fileURLFromPath("/tmp/d", true), "file:///tmp/d/");
  EXPECT_EQ(pathFromFileURL("FILE://localhost/tmp/d/?q#f"), "/tmp/d");
  for (const char* bad : {"http://x/a", "file://host/a", "file:///a%2", "file:///a%zz", "file:///a%00b", "file:"}) {
    Error error;
    EXPECT_EQ(pathFromFileURL(bad, &error), std::nullopt) << bad;
    EXPECT_EQ(error.domain(), kCocoaErrorDomain) << bad;
  }
}

}  // namespace
}  // namespace qlt
