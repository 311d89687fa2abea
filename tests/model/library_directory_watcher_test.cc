#include "model/library_directory_watcher.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "folder_fixture.h"
#include "model/finder_tags.h"
#include "model/tag.h"
#include "model/tag_data.h"
#include "platform/defaults/user_defaults.h"
#include "platform/files/file_system.h"
#include "support/faulty_watch_source.h"
#include "support/polling.h"

namespace qlt {
namespace {

using namespace std::chrono_literals;

std::string shellQuoted(const std::string& text) { return "'" + text + "'"; }

class LibraryDirectoryWatcherTest : public FolderFixture {
 protected:
  void TearDown() override {
    for (const char* key : {kItemImportFinderTagsKey, kItemUpdateFinderTagsKey})
      (void)UserDefaults::standard().removeObjectForKey(key);
  }
  // An item of `folder` with a file holding `contents`, saved.
  std::shared_ptr<Item> itemWithFile(const Folder::Ptr& folder, const std::string& filename,
                                     const std::string& contents = "text") {
    auto created = item(folder, filename);
    std::optional<std::string> path = created->fileURL();
    EXPECT_TRUE(path);
    if (path) std::ofstream(*path) << contents;
    return created;
  }
  std::unique_ptr<LibraryDirectoryWatcher> watch(std::unique_ptr<WatchSource> source = nullptr) {
    EXPECT_TRUE(context->save());
    Error error;
    auto watcher = LibraryDirectoryWatcher::start(manager, &error, std::move(source));
    EXPECT_TRUE(watcher) << error.description();
    return watcher;
  }
  Value sizeOf(const std::shared_ptr<Item>& item) { return reread<Item>(item)->valueForKey("size"); }
};

TEST_F(LibraryDirectoryWatcherTest, FilesChangedByOtherProgramsRefreshTheirItems) {
  Folder::Ptr folder = make(root, "Watched");
  auto note = itemWithFile(folder, "note.txt");
  auto sharedItem = item(root, "shared.txt");
  RecordSystemFields share{"cloudkit.share", RecordID("S-other", RecordZoneID("Quillet", "_otherUser")), "tag",
                           std::nullopt, std::nullopt};
  sharedItem->setValueForKey("cloudShareData", share.archivedData());
  ASSERT_TRUE(writeFileAtomically(*sharedItem->fileURL(), "text"));
  auto watcher = watch();
  ASSERT_TRUE(watcher);
  EXPECT_EQ(watcher->directories().size(), 3u);

  std::string path = *note->fileURL();
  ASSERT_EQ(std::system(("printf 'grown text' > " + shellQuoted(path) + " && touch -d 2020-01-02T03:04:05Z " + shellQuoted(path))
                            .c_str()),
            0);
  EXPECT_TRUE(eventually([&] { return sizeOf(note) == Value(int64_t{10}); }));
  EXPECT_TRUE(eventually([&] {
    auto modified = reread<Item>(note)->dateModified();
    return modified && modified->matchesToTheSecond(Date::fromTimespec({1577934245, 0}));
  }));

  // Tags set by setfattr, in the Finder-tags attribute's own bytes.
  EXPECT_TRUE(UserDefaults::standard().setBool(true, kItemImportFinderTagsKey));
  EXPECT_TRUE(UserDefaults::standard().setBool(true, kItemUpdateFinderTagsKey));
  std::optional<Bytes> tags = finderTagListData({{"Errand", 2}});
  ASSERT_TRUE(tags);
  std::ostringstream hex;
  hex << "0x";
  for (uint8_t byte : *tags) hex << "0123456789abcdef"[byte >> 4] << "0123456789abcdef"[byte & 15];
  std::string setfattr = "setfattr -n " + shellQuoted(std::string("user.") + kMetadataUserTagsXAttrKey) + " -v " +
                         hex.str() + " " + shellQuoted(path) + " 2>/dev/null";
  if (std::system(setfattr.c_str()) == 0) {
    EXPECT_TRUE(eventually([&] {
      Value data = reread<Item>(note)->valueForKey("fileProviderTagData");
      return data.data() && Tag::tagNamesFromFileProviderTagData(*data.data()) == std::vector<std::string>{"Errand"};
    }));
  }

  // What others shared lies below the shared directory, one directory per item.
  std::string sharedPath = *sharedItem->fileURL();
  ASSERT_EQ(std::system(("printf 'changed by someone' > " + shellQuoted(sharedPath)).c_str()), 0);
  EXPECT_TRUE(eventually([&] { return sizeOf(sharedItem) == Value(int64_t{18}); }));
}

TEST_F(LibraryDirectoryWatcherTest, TenThousandTouchedFilesAreOneRefreshPass) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  constexpr int kFiles = 1'000;  // the sanitizers make each item several times slower
#else
  constexpr int kFiles = 10'000;
#endif
  Folder::Ptr folder = make(root, "Many");
  std::vector<std::string> paths;
  for (int i = 0; i < kFiles; ++i) paths.push_back(*itemWithFile(folder, std::to_string(i) + ".txt", "")->fileURL());
  auto watcher = watch();
  ASSERT_TRUE(watcher);

  const timespec times[2] = {{1500000000, 0}, {1500000000, 0}};
  for (const std::string& path : paths) ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  EXPECT_TRUE(eventually([&] { return watcher->refreshPasses() > 0; }, 30s));
  std::this_thread::sleep_for(300ms);  // a second pass would have started by now
  EXPECT_EQ(watcher->refreshPasses(), 1u);
  EXPECT_EQ(watcher->savedPasses(), 1u);
  FetchRequest request(kItemEntityName);
  auto reader = manager->newBackgroundContext();
  size_t refreshed = 0;
  reader->performAndWait([&] {
    for (const ManagedObjectPtr& object : reader->fetch(request).value_or(std::vector<ManagedObjectPtr>{})) {
      auto modified = std::dynamic_pointer_cast<Item>(object)->dateModified();
      if (modified && modified->matchesToTheSecond(Date::fromTimespec(times[1]))) ++refreshed;
    }
  });
  EXPECT_EQ(refreshed, static_cast<size_t>(kFiles));
}

TEST_F(LibraryDirectoryWatcherTest, LostEventsLeadToARescanThatMissesNothing) {
  Folder::Ptr folder = make(root, "Lossy");
  auto first = itemWithFile(folder, "first.txt");
  auto second = itemWithFile(trash, "second.txt");
  auto faults = std::make_shared<FaultyWatchSource::Faults>();
  auto watcher = watch(std::make_unique<FaultyWatchSource>(faults));
  ASSERT_TRUE(watcher);

  faults->loseEvents = true;
  ASSERT_TRUE(writeFileAtomically(*first->fileURL(), "first, longer"));
  ASSERT_TRUE(writeFileAtomically(*second->fileURL(), "second, longer"));
  EXPECT_TRUE(eventually([&] { return sizeOf(first) == Value(int64_t{13}) && sizeOf(second) == Value(int64_t{14}); }));
}

}  // namespace
}  // namespace qlt
