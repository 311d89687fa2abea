#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/foundation/format.h"
#include "platform/foundation/localized_strings.h"
#include "platform/foundation/log.h"
#include "platform/foundation/uuid.h"

namespace qlt {
namespace {

TEST(FormatTest, PlaceholdersConsumeArgumentsInOrder) {
  EXPECT_EQ(formatString("%@ %ld", "Untitled", 2L), "Untitled 2");
  EXPECT_EQ(formatString("Loading library for domain “%@”", std::string("Default")),
            "Loading library for domain “Default”");
  EXPECT_EQ(formatString("%.1f%% of %d", 12.345, 7), "12.3% of 7");
  EXPECT_EQ(formatString("%@ and %@", "one"), "one and %@");
  EXPECT_EQ(formatString("flag %@", true), "flag YES");
  EXPECT_EQ(formatString("trailing %"), "trailing %");
  EXPECT_EQ(formatString("%@", 0.1), "0.1");
  EXPECT_EQ(formatString("%@", Error("D", 5, "text")), "Error Domain=D Code=5 \"text\"");
}

TEST(UUIDTest, CanonicalUpperCaseAndUnique) {
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    std::string uuid = newUUIDString();
    ASSERT_TRUE(isUUIDString(uuid)) << uuid;
    EXPECT_EQ(uuid[14], '4');
    for (char c : uuid) EXPECT_FALSE(c >= 'a' && c <= 'z') << uuid;
    seen.insert(uuid);
  }
  EXPECT_EQ(seen.size(), 1000u);
  EXPECT_FALSE(isUUIDString("not-a-uuid"));
  EXPECT_FALSE(isUUIDString("0123456789AB-CDEF-0123-4567-89ABCDEF012"));
}

TEST(LocalizedStringsTest, KeyComesBackWhenNoTableHasIt) {
  auto& strings = LocalizedStrings::shared();
  strings.setLanguage("de");
  strings.addTable("de", "Localizable", {{"Deleted Items", "Gelöschte Objekte"}});
  EXPECT_EQ(localizedString("Deleted Items"), "Gelöschte Objekte");
  EXPECT_EQ(localizedString("Unable to restore file."), "Unable to restore file.");
  EXPECT_EQ(strings.lookup("Deleted Items", "Other"), "Deleted Items");

  std::string path = testing::TempDir() + "/strings.json";
  std::ofstream(path) << R"({"%@ copy": "%@ Kopie", "n": 3})";
  ASSERT_TRUE(strings.loadTableFile("de", "Localizable", path));
  EXPECT_EQ(localizedFormat("%@ copy", "Note"), "Note Kopie");
  std::ofstream(path) << "[1,2";
  Error error;
  EXPECT_FALSE(strings.loadTableFile("de", "Localizable", path, &error));
  EXPECT_EQ(error.code(), kCocoaFileReadCorruptFileError);
  strings.setLanguage("en");
  EXPECT_EQ(localizedString("Deleted Items"), "Deleted Items");
}

TEST(LogTest, LinesGoToTheRedirectedStandardErrorUntilItsFileCloses) {
  std::string path = testing::TempDir() + "/log-test.log";
  struct stat before {};
  ASSERT_EQ(fstat(STDERR_FILENO, &before), 0);
  std::FILE* file = redirectStandardErrorToFile(path);
  ASSERT_TRUE(file);
  log("Cannot load library: %@", Error("D", 1, "broken"));
  logLine("second line");
  closeLogFile(file);
  logLine("after the log file closed");

  struct stat after {};
  ASSERT_EQ(fstat(STDERR_FILENO, &after), 0);
  EXPECT_TRUE(after.st_dev == before.st_dev && after.st_ino == before.st_ino) << "standard error is given back";
  std::ifstream in(path);
  std::stringstream contents;
  contents << in.rdbuf();
  EXPECT_EQ(contents.str(), "Cannot load library: Error Domain=D Code=1 \"broken\"\nsecond line\n");

  // A redirection to a file that cannot be opened leaves standard error alone.
  EXPECT_FALSE(redirectStandardErrorToFile(testing::TempDir() + "/missing/folder/log"));
  ASSERT_EQ(fstat(STDERR_FILENO, &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
}

TEST(LogTest, AProcessWithoutStandardErrorNeverHandsDescriptorTwoToAnotherFile) {
  int saved = ::dup(STDERR_FILENO);
  ASSERT_GE(saved, 0);
  ::close(STDERR_FILENO);
  std::string path = testing::TempDir() + "/log-without-stderr.log";
  std::FILE* file = redirectStandardErrorToFile(path);
  logLine("to the log");
  closeLogFile(file);
  int next = ::open(path.c_str(), O_RDONLY);
  struct stat atTwo {};
  bool twoOpen = ::fstat(STDERR_FILENO, &atTwo) == 0;
  ::dup2(saved, STDERR_FILENO);
  ::close(saved);
  if (next >= 0) ::close(next);

  EXPECT_TRUE(file);
  EXPECT_TRUE(twoOpen);
  EXPECT_NE(next, STDERR_FILENO) << "a file opened after the log closed must not become standard error";
  std::ifstream in(path);
  std::stringstream contents;
  contents << in.rdbuf();
  EXPECT_EQ(contents.str(), "to the log\n");
}

}  // namespace
}  // namespace qlt
