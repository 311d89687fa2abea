#include "extension/log_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <string>

#include "platform/files/file_attributes.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/foundation/log.h"
#include "support/scratch_directory.h"

namespace qlt {
namespace {

struct RotationCase {
  int oldLogs;
  int expectedDeleted;
};

class LogRotationTest : public ::testing::TestWithParam<RotationCase> {};

// Old logs whose creation dates do not follow their names: log i was
// created (i * 7 mod n) hours after a fixed date, so the deleted ones must be
// picked by date.
TEST_P(LogRotationTest, DeletesTheOldestByCreationDateAndLeavesOtherFilesAlone) {
  const auto [count, expectedDeleted] = GetParam();
  ScratchDirectory scratch;
  std::string folder = logFolderPath(scratch.path());
  ASSERT_EQ(folder, scratch.path("Library/File Provider/Logs"));
  ASSERT_TRUE(createDirectory(folder, true));

  std::vector<std::pair<long, std::string>> logsByAge;
  for (int i = 0; i < count; ++i) {
    std::string path = appendingPathComponent(folder, "File Provider_old-" + std::to_string(i) + ".log");
    ASSERT_TRUE(writeFileAtomically(path, "old"));
    long hours = (i * 7) % count;
    ASSERT_TRUE(setCreationTime(path, {1'600'000'000 + hours * 3600, 0}));
    logsByAge.emplace_back(hours, path);
  }
  // Older than every log, but neither counted nor deleted.
  std::string other = appendingPathComponent(folder, "Other.log");
  std::string hidden = appendingPathComponent(folder, ".File Provider_hidden.log");
  for (const std::string& path : {other, hidden}) {
    ASSERT_TRUE(writeFileAtomically(path, "keep"));
    ASSERT_TRUE(setCreationTime(path, {1'000'000'000, 0}));
  }

  auto newLog = prepareNewLogFile(scratch.path());
  ASSERT_TRUE(newLog);
  EXPECT_TRUE(std::regex_match(lastPathComponent(*newLog),
                               std::regex(R"(File Provider_\d{4}-\d{2}-\d{2}-\d{6}\.log)")))
      << *newLog;
  EXPECT_EQ(deletingLastPathComponent(*newLog), folder);

  std::sort(logsByAge.begin(), logsByAge.end());
  for (int i = 0; i < count; ++i)
    EXPECT_EQ(fileExists(logsByAge[i].second), i >= expectedDeleted) << logsByAge[i].second;
  EXPECT_TRUE(fileExists(other));
  EXPECT_TRUE(fileExists(hidden));
}

INSTANTIATE_TEST_SUITE_P(OldLogCounts, LogRotationTest,
                         ::testing::Values(RotationCase{9, 0}, RotationCase{10, 1}, RotationCase{12, 3}));

TEST(LogFileTest, CreatesTheFolderAndSendsStandardErrorToTheNewFile) {
  ScratchDirectory scratch;
  std::FILE* stream = redirectStandardErrorToNewLogFile(scratch.path());
  ASSERT_TRUE(stream);
  log("Hello %@", "log");
  auto names = contentsOfDirectory(logFolderPath(scratch.path()));
  ASSERT_TRUE(names);
  ASSERT_EQ(names->size(), 1u);
  auto contents = readFile(appendingPathComponent(logFolderPath(scratch.path()), names->front()));
  closeLogFile(stream);
  EXPECT_EQ(contents, "Hello log\n");
}

}  // namespace
}  // namespace qlt
