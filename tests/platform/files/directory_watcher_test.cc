#include "platform/files/directory_watcher.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "support/faulty_watch_source.h"
#include "support/polling.h"
#include "support/scratch_directory.h"

namespace qlt {
namespace {

using namespace std::chrono_literals;

void writeFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

// Keeps every batch the watcher reports.
class Recorder {
 public:
  DirectoryWatcher::Handler handler() {
    return [this](const DirectoryChanges& changes) {
      std::lock_guard lock(mutex_);
      batches_.push_back(changes);
    };
  }
  size_t batchCount() const {
    std::lock_guard lock(mutex_);
    return batches_.size();
  }
  bool reported(const std::string& path) const {
    std::lock_guard lock(mutex_);
    return std::any_of(batches_.begin(), batches_.end(), [&](const DirectoryChanges& batch) {
      return std::binary_search(batch.paths.begin(), batch.paths.end(), path);
    });
  }
  bool rescanReported() const {
    std::lock_guard lock(mutex_);
    return std::any_of(batches_.begin(), batches_.end(), [](const DirectoryChanges& b) { return b.rescan; });
  }
  std::vector<DirectoryChanges> batches() const {
    std::lock_guard lock(mutex_);
    return batches_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<DirectoryChanges> batches_;
};

class DirectoryWatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(scratch.path("tree/a/b"));
    writeFile(scratch.path("tree/a/b/file.txt"), "one");
  }
  std::unique_ptr<DirectoryWatcher> watch(std::unique_ptr<WatchSource> source = nullptr,
                                          DirectoryWatcher::Timing timing = {}) {
    auto watcher = std::make_unique<DirectoryWatcher>(std::vector<std::string>{scratch.path("tree")},
                                                      recorder.handler(), std::move(source), timing);
    Error error;
    EXPECT_TRUE(watcher->start(&error)) << error.description();
    return watcher;
  }

  ScratchDirectory scratch;
  Recorder recorder;
};

TEST_F(DirectoryWatcherTest, FollowsChangesNewDirectoriesAndRenamedDirectories) {
  auto watcher = watch();
  EXPECT_EQ(watcher->watchedDirectoryCount(), 3u);

  writeFile(scratch.path("tree/a/b/file.txt"), "longer contents");
  EXPECT_TRUE(eventually([&] { return recorder.reported(scratch.path("tree/a/b/file.txt")); }));

  // A directory made with files already inside is reported whole and watched.
  std::filesystem::create_directories(scratch.path("staging/new/deeper"));
  writeFile(scratch.path("staging/new/deeper/early.txt"), "x");
  std::filesystem::rename(scratch.path("staging/new"), scratch.path("tree/a/new"));
  EXPECT_TRUE(eventually([&] { return recorder.reported(scratch.path("tree/a/new/deeper/early.txt")); }));
  writeFile(scratch.path("tree/a/new/deeper/late.txt"), "y");
  EXPECT_TRUE(eventually([&] { return recorder.reported(scratch.path("tree/a/new/deeper/late.txt")); }));

  // Renamed directories keep their watches under the new names.
  std::filesystem::rename(scratch.path("tree/a"), scratch.path("tree/renamed"));
  writeFile(scratch.path("tree/renamed/b/file.txt"), "after the rename");
  EXPECT_TRUE(eventually([&] { return recorder.reported(scratch.path("tree/renamed/b/file.txt")); }));

  // Extended attributes count as changes; directories moved away are let go.
  ASSERT_EQ(setxattr(scratch.path("tree/renamed/b/file.txt").c_str(), "user.xdg.tags", "Red", 3, 0), 0);
  std::filesystem::rename(scratch.path("tree/renamed/new"), scratch.path("gone"));
  EXPECT_TRUE(eventually([&] { return watcher->watchedDirectoryCount() == 3u; }));
  EXPECT_FALSE(recorder.rescanReported());
}

TEST_F(DirectoryWatcherTest, TenThousandTouchedFilesMakeOneBatch) {
  constexpr int kFiles = 10'000;
  for (int i = 0; i < kFiles; ++i) writeFile(scratch.path("tree/a/" + std::to_string(i)), "");
  auto watcher = watch();
  for (int i = 0; i < kFiles; ++i)
    ASSERT_EQ(utimensat(AT_FDCWD, scratch.path("tree/a/" + std::to_string(i)).c_str(), nullptr, 0), 0);
  EXPECT_TRUE(eventually([&] { return recorder.batchCount() > 0; }));
  std::this_thread::sleep_for(300ms);  // a second batch would have come by now
  std::vector<DirectoryChanges> batches = recorder.batches();
  ASSERT_EQ(batches.size(), 1u);
  EXPECT_EQ(batches[0].paths.size(), size_t{kFiles});
}

TEST_F(DirectoryWatcherTest, LostEventsAskForARescanAndTheWatchesAreRebuilt) {
  auto faults = std::make_shared<FaultyWatchSource::Faults>();
  auto watcher = watch(std::make_unique<FaultyWatchSource>(faults));
  faults->loseEvents = true;
  std::filesystem::create_directories(scratch.path("tree/unseen"));
  EXPECT_TRUE(eventually([&] { return recorder.rescanReported(); }));
  // The directory whose creation was lost is watched after the rescan.
  EXPECT_TRUE(eventually([&] { return watcher->watchedDirectoryCount() == 4u; }));
  writeFile(scratch.path("tree/unseen/file"), "z");
  EXPECT_TRUE(eventually([&] { return recorder.reported(scratch.path("tree/unseen/file")); }));
}

TEST_F(DirectoryWatcherTest, DirectoriesBeyondTheWatchLimitArePolled) {
  auto faults = std::make_shared<FaultyWatchSource::Faults>();
  faults->watchLimit = 2;
  DirectoryWatcher::Timing timing;
  timing.pollInterval = 50ms;
  auto watcher = watch(std::make_unique<FaultyWatchSource>(faults), timing);
  EXPECT_EQ(watcher->watchedDirectoryCount(), 2u);
  EXPECT_EQ(watcher->polledDirectoryCount(), 1u);

  std::string polledFile = scratch.path("tree/a/b/file.txt");
  writeFile(polledFile, "changed while polled");
  EXPECT_TRUE(eventually([&] { return recorder.reported(polledFile); }));
  std::filesystem::create_directories(scratch.path("tree/a/b/inner"));
  writeFile(scratch.path("tree/a/b/inner/new.txt"), "n");
  EXPECT_TRUE(eventually([&] { return recorder.reported(scratch.path("tree/a/b/inner/new.txt")); }));
  EXPECT_EQ(watcher->polledDirectoryCount(), 2u);
}

}  // namespace
}  // namespace qlt
