#include "model/library_write_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "model/folder_answers.h"
#include "model/folder_fixture.h"
#include "platform/files/file_path.h"
#include "platform/objectstore/store_coordinator.h"
#include "platform/objectstore/persistent_store.h"
#include "platform/sqlite/database.h"

namespace qlt {
namespace {

namespace fs = std::filesystem;

class LibraryWriteLockTest : public FolderFixture {
 protected:
  // The lock file as another process sees it: flock on a description of
  // its own conflicts with this process's.
  int otherProcessLockFile() {
    return ::open(appendingPathComponent(manager->libraryFilePath(), "Writer.lock").c_str(),
                  O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  }

  static bool takenElsewhere(int fd) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      flock(fd, LOCK_UN);
      return false;
    }
    return errno == EWOULDBLOCK;
  }

  static bool tryOnAnotherThread() {
    return std::async(std::launch::async, [] { return LibraryWriteLock(LibraryWriteLock::TryOnly{}).owns(); }).get();
  }
};

TEST_F(LibraryWriteLockTest, ThreadsAndProcessesTakeTurnsAndAThreadMayNest) {
  int other = otherProcessLockFile();
  ASSERT_GE(other, 0);
  {
    LibraryWriteLock turn;
    ASSERT_TRUE(turn.owns());
    EXPECT_TRUE(takenElsewhere(other));
    EXPECT_FALSE(tryOnAnotherThread());
    {
      LibraryWriteLock nested(LibraryWriteLock::TryOnly{});
      EXPECT_TRUE(nested.owns());
    }
    EXPECT_TRUE(takenElsewhere(other)) << "the outer scope still holds it";
  }
  EXPECT_FALSE(takenElsewhere(other));
  EXPECT_TRUE(tryOnAnotherThread());

  // Another process holds it: trying fails at once, waiting waits.
  ASSERT_EQ(flock(other, LOCK_EX), 0);
  EXPECT_FALSE(tryOnAnotherThread());
  auto waiting = std::async(std::launch::async, [] { return LibraryWriteLock().owns(); });
  EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  ASSERT_EQ(flock(other, LOCK_UN), 0);
  EXPECT_TRUE(waiting.get());
  ::close(other);
}

// A fetched folder whose directory is missing makes it again only when no
// other writer is at work: that writer may be moving it.
TEST_F(LibraryWriteLockTest, AMissingDirectoryIsMadeAgainOnlyInTheWritersTurn) {
  Folder::Ptr moving = make(root, "Moving");
  ASSERT_TRUE(context->save());
  const std::string path = *moving->folderPath();
  fs::remove(path);

  int other = otherProcessLockFile();
  ASSERT_EQ(flock(other, LOCK_EX), 0);
  reread<Folder>(moving);
  EXPECT_FALSE(fs::exists(path));
  ASSERT_EQ(flock(other, LOCK_UN), 0);
  ::close(other);

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
