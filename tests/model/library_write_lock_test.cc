#include "model/library_write_lock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "model/folder_answers.h"
#include "model/folder_fixture.h"
#include "platform/files/file_path.h"
#include "platform/objectstore/store_coordinator.h"
#include "platform/objectstore/persistent_store.h"
#include "platform/sqlite/database.h"
#include "support/other_process_writer.h"

namespace qlt {
namespace {

namespace fs = std::filesystem;

class LibraryWriteLockTest : public FolderFixture {
 protected:
  static bool tryOnAnotherThread() {
    return std::async(std::launch::async, [] { return LibraryWriteLock(LibraryWriteLock::TryOnly{}).owns(); }).get();
  }
};

TEST_F(LibraryWriteLockTest, ThreadsAndProcessesTakeTurnsAndAThreadMayNest) {
  OtherProcessWriter other(manager->libraryFilePath());
  ASSERT_TRUE(other.opened());
  {
    LibraryWriteLock turn;
    ASSERT_TRUE(turn.owns());
    EXPECT_TRUE(other.takenElsewhere());
    EXPECT_FALSE(tryOnAnotherThread());
    {
      LibraryWriteLock nested(LibraryWriteLock::TryOnly{});
      EXPECT_TRUE(nested.owns());
    }
    EXPECT_TRUE(other.takenElsewhere()) << "the outer scope still holds it";
  }
  EXPECT_FALSE(other.takenElsewhere());
  EXPECT_TRUE(tryOnAnotherThread());

  // Another process holds it: trying fails at once, waiting waits.
  ASSERT_TRUE(other.take());
  EXPECT_FALSE(tryOnAnotherThread());
  auto waiting = std::async(std::launch::async, [] { return LibraryWriteLock().owns(); });
  EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  ASSERT_TRUE(other.release());
  EXPECT_TRUE(waiting.get());
}

// A fetched folder whose directory is missing makes it again only when no
// other writer is at work: that writer may be moving it.
TEST_F(LibraryWriteLockTest, AMissingDirectoryIsMadeAgainOnlyInTheWritersTurn) {
  Folder::Ptr moving = make(root, "Moving");
  ASSERT_TRUE(context->save());
  const std::string path = *moving->folderPath();
  fs::remove(path);

  OtherProcessWriter other(manager->libraryFilePath());
  ASSERT_TRUE(other.take());
  reread<Folder>(moving);
  EXPECT_FALSE(fs::exists(path));
  ASSERT_TRUE(other.release());

  reread<Folder>(moving);
  EXPECT_TRUE(fs::is_directory(path));
}

// A reader whose rows of the folders above are older than the store's
// (another writer renamed one, its directory with it) makes no directory at
// the place its rows give, though it remembers folder answers meanwhile, as
// a page of descriptors does.
TEST_F(LibraryWriteLockTest, AReaderWithOldRowsMakesNoDirectoryWhereTheyPoint) {
  Folder::Ptr parent = make(root, "Old");
  Folder::Ptr child = make(parent, "Child");
  ASSERT_TRUE(context->save());
  const std::string oldParentPath = *parent->folderPath();

  auto reader = manager->newBackgroundContext();
  Folder::Ptr stale;  // held, so that the reader keeps the row it read
  reader->performAndWait(
      [&] { stale = std::dynamic_pointer_cast<Folder>(reader->existingObjectWithID(parent->objectID())); });
  ASSERT_TRUE(stale);
  // Another process renames the parent: its row and its directory change,
  // and this process hears nothing of it.
  {
    std::lock_guard lock(context->coordinator()->mutex());
    ASSERT_TRUE(context->coordinator()->store().database().execute(
        "UPDATE \"Group\" SET name = 'New' WHERE identifier = '" + parent->identifier() + "'"));
  }
  fs::rename(oldParentPath, appendingPathComponent(deletingLastPathComponent(oldParentPath), "New"));

  reader->performAndWait([&] {
    FolderAnswers answers;
    auto fetched = std::dynamic_pointer_cast<Folder>(reader->existingObjectWithID(child->objectID()));
    ASSERT_TRUE(fetched);
    EXPECT_EQ(fetched->folderPath(), appendingPathComponent(oldParentPath, "Child")) << "the reader's old rows";
  });
  EXPECT_FALSE(fs::exists(oldParentPath)) << "no directory made from old rows";
}

}  // namespace
}  // namespace qlt
