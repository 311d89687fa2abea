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

}  // namespace
}  // namespace qlt
