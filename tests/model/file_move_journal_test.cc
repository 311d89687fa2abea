#include "model/file_move_journal.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "model/folder_fixture.h"
#include "model/item.h"
#include "store/library.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"

namespace qlt {
namespace {

class FileMoveJournalTest : public FolderFixture {
 protected:
  // The entries written so far now look left by a process that is gone.
  void orphanEntries() {
    pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ASSERT_GT(child, 0);
    ::waitpid(child, nullptr, 0);
    const std::string folder = appendingPathComponent(manager->libraryFilePath(), "Moves");
    for (const std::string& name : contentsOfDirectory(folder).value_or(std::vector<std::string>())) {
      const std::string path = appendingPathComponent(folder, name);
      nlohmann::json entry = nlohmann::json::parse(*readFile(path));
      entry["pid"] = child;
      ASSERT_TRUE(writeFileAtomically(path, entry.dump()));
    }
  }

  std::shared_ptr<Item> savedItem(const Folder::Ptr& folder, const std::string& filename) {
    auto made = item(folder, filename);
    EXPECT_TRUE(writeFileAtomically(*made->fileURL(), filename));
    return made;
  }

  int recover() {
    auto reader = manager->newBackgroundContext();
    int undone = 0;
    reader->performAndWait([&] { undone = FileMoveJournal::recover(*reader); });
    return undone;
  }
};

// A process killed between moving files and saving leaves files where no
// row says they are; the next load puts them back, removes what only it
// made, and keeps what it saved.
TEST_F(FileMoveJournalTest, WhatADeadProcessLeftUnsavedIsUndoneAndWhatItSavedStays) {
  Folder::Ptr projects = make(root, "Projects");
  auto moved = savedItem(root, "Moved.txt");
  auto deleted = savedItem(root, "Deleted.txt");
  auto renamed = savedItem(projects, "Draft.txt");
  ASSERT_TRUE(context->save());
  const std::string rootPath = *root->folderPath();

  ASSERT_TRUE(moved->moveToFolder(projects));
  ASSERT_TRUE(renamed->canChangeName("Final.txt") && renamed->changeName("Final.txt"));
  context->deleteObject(deleted);
  Folder::Ptr fresh = make(root, "Fresh");
  Folder::Ptr occupied = make(root, "Occupied");
  ASSERT_TRUE(writeFileAtomically(*occupied->folderPath() + "/someone's.txt", "not ours"));
  auto note = Item::newNoteItemFromString("Unsaved note", std::dynamic_pointer_cast<Library>(libraryObject), root);
  ASSERT_TRUE(note);
  const std::string notePath = *note->fileURL();
  ASSERT_TRUE(fileExists(notePath));
  ASSERT_FALSE(fileExists(rootPath + "/Deleted.txt")) << "set aside";

  orphanEntries();
  EXPECT_GE(recover(), 5);
  EXPECT_TRUE(fileExists(rootPath + "/Moved.txt"));
  EXPECT_FALSE(fileExists(rootPath + "/Projects/Moved.txt"));
  EXPECT_TRUE(fileExists(rootPath + "/Projects/Draft.txt"));
  EXPECT_FALSE(fileExists(rootPath + "/Projects/Final.txt"));
  EXPECT_EQ(readFile(rootPath + "/Deleted.txt").value_or(""), "Deleted.txt") << "the deletion was not saved";
  EXPECT_FALSE(fileExists(rootPath + "/Fresh"));
  EXPECT_TRUE(fileExists(rootPath + "/Occupied/someone's.txt")) << "nothing but an empty directory is removed";
  EXPECT_FALSE(fileExists(notePath));
  EXPECT_EQ(recover(), 0) << "each entry is undone once";
  context->rollback();

  // Saved, the same changes stay, and a saved deletion's file goes.
  ASSERT_TRUE(moved->moveToFolder(projects));
  context->deleteObject(deleted);
  ASSERT_TRUE(context->save());
  orphanEntries();
  EXPECT_EQ(recover(), 0);
  EXPECT_TRUE(fileExists(rootPath + "/Projects/Moved.txt"));
  EXPECT_FALSE(fileExists(rootPath + "/Deleted.txt"));
  EXPECT_TRUE(contentsOfDirectory(appendingPathComponent(manager->libraryFilePath(), "Moves"))
                  .value_or(std::vector<std::string>{"left"})
                  .empty());
}

// Another context trashes an item of a folder after this one read the
// folder; deleting the folder from the rows read before must not take the
// item along, and a deletion that is not saved gives back what it set aside.
TEST_F(FileMoveJournalTest, AFolderDeletedFromAStaleViewLeavesWhatMovedOutAndPutsBackItsDirectory) {
  Folder::Ptr old = make(root, "Old");
  auto report = savedItem(old, "Report.txt");
  auto stays = savedItem(old, "Stays.txt");
  ASSERT_TRUE(context->save());
  const std::string oldPath = *old->folderPath();
  ASSERT_EQ(old->objectsForKey("items").size(), 2u);

  auto other = manager->newBackgroundContext();
  std::string trashed;
  other->performAndWait([&] {
    auto theirs = std::dynamic_pointer_cast<Item>(other->existingObjectWithID(report->objectID()));
    auto theirTrash = std::dynamic_pointer_cast<Folder>(other->existingObjectWithID(trash->objectID()));
    ASSERT_TRUE(theirs && theirTrash);
    ASSERT_TRUE(theirs->moveToFolder(theirTrash));
    ASSERT_TRUE(other->save());
    trashed = *theirs->fileURL();
  });
  ASSERT_TRUE(fileExists(trashed));

  context->deleteObject(old);
  EXPECT_FALSE(fileExists(oldPath)) << "set aside";
  Error error;
  EXPECT_FALSE(context->save(&error)) << "the trashed item was deleted with the folder";
  context->rollback();
  old->deletionWasNotSaved();
  stays->deletionWasNotSaved();
  report->deletionWasNotSaved();
  EXPECT_EQ(readFile(oldPath + "/Stays.txt").value_or(""), "Stays.txt");
  EXPECT_EQ(readFile(trashed).value_or(""), "Report.txt");

  // Read again, the folder goes with what is in it now.
  context->refreshAllObjects();
  ASSERT_EQ(old->objectsForKey("items").size(), 1u);
  context->deleteObject(old);
  ASSERT_TRUE(context->save(&error)) << error.description();
  EXPECT_FALSE(fileExists(oldPath));
  EXPECT_EQ(readFile(trashed).value_or(""), "Report.txt");
  other->performAndWait([&] {
    other->refreshAllObjects();
    EXPECT_TRUE(other->existingObjectWithID(report->objectID()));
    EXPECT_FALSE(other->existingObjectWithID(stays->objectID()));
  });
}

// A deletion whose row was saved all the same (another process kept it)
// does not take its file: it goes back.
TEST_F(FileMoveJournalTest, WhatADeletionSetAsideGoesOnlyWithItsRow) {
  auto kept = savedItem(root, "Kept.txt");
  ASSERT_TRUE(context->save());
  const std::string path = *kept->fileURL();
  context->deleteObject(kept);
  ASSERT_FALSE(fileExists(path));
  FileMoveJournal::finish(kept->identifier(), false);
  EXPECT_EQ(readFile(path).value_or(""), "Kept.txt");
  context->rollback();

  context->deleteObject(kept);
  ASSERT_FALSE(fileExists(path));
  context->rollback();
  const std::string elsewhere = *root->folderPath() + "/Moved elsewhere.txt";
  EXPECT_TRUE(FileMoveJournal::putBack(kept->identifier(), elsewhere));
  EXPECT_EQ(readFile(elsewhere).value_or(""), "Kept.txt") << "where the row says it is now";
  EXPECT_FALSE(fileExists(path));
}

}  // namespace
}  // namespace qlt
