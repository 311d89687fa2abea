#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "folder_fixture.h"
#include "model/item.h"
#include "platform/foundation/format.h"
#include "private_user_trash.h"

namespace qlt {
namespace {

namespace fs = std::filesystem;

class ItemRandomTest : public FolderFixture {
 protected:
  std::vector<Folder::Ptr> everyFolder() const {
    std::vector<Folder::Ptr> all = {root, trash};
    for (const Folder::Ptr& top : {Folder::Ptr(root), Folder::Ptr(trash)})
      for (Folder::Ptr& folder : top->allSubfolders()) all.push_back(std::move(folder));
    return all;
  }
  std::vector<std::shared_ptr<Item>> everyItem() const {
    std::vector<std::shared_ptr<Item>> all;
    for (const Folder::Ptr& folder : everyFolder())
      for (const ManagedObjectPtr& object : folder->objectsForKey("items"))
        all.push_back(std::dynamic_pointer_cast<Item>(object));
    return all;
  }

  // Every folder row has its directory and every item row its file where
  // its folder says; nothing else is on disk below the library folder but
  // the system directories; the user's trash stays empty.
  void expectDiskMatchesDatabase(int step) {
    const std::string base = manager->libraryFolderPath();
    std::set<std::string> directories, files, onDisk, filesOnDisk;
    for (const Folder::Ptr& folder : everyFolder()) {
      auto path = folder->folderPath();
      ASSERT_TRUE(path) << folder->name();
      directories.insert(fs::relative(*path, base).native());
      for (const ManagedObjectPtr& object : folder->objectsForKey("items")) {
        auto file = std::dynamic_pointer_cast<Item>(object)->fileURL();
        ASSERT_TRUE(file);
        ASSERT_EQ(fs::path(*file).parent_path(), fs::path(*path)) << step;
        files.insert(fs::relative(*file, base).native());
      }
    }
    for (const Folder::Ptr& top : {Folder::Ptr(root), Folder::Ptr(trash)}) {
      onDisk.insert(fs::relative(*top->folderPath(), base).native());
      for (const auto& entry : fs::recursive_directory_iterator(*top->folderPath()))
        (entry.is_directory() ? onDisk : filesOnDisk).insert(fs::relative(entry.path(), base).native());
    }
    ASSERT_EQ(directories, onDisk) << "after step " << step;
    ASSERT_EQ(files, filesOnDisk) << "after step " << step;
    ASSERT_TRUE(!fs::exists(userTrash.files()) || fs::is_empty(userTrash.files())) << step;
  }

  PrivateUserTrash userTrash;
};

TEST_F(ItemRandomTest, RenamesMovesTrashAndDeletionKeepDatabaseAndDiskInStep) {
  std::mt19937 random(20261207);
  const std::vector<std::string> names = {"Report.pdf", "report.PDF", "Report", "Nötes.txt", "notes.txt",
                                          "Report 1.pdf", "a/b", "..", "", std::string("x\0y", 3),
                                          std::string(300, 'n') + ".txt", "Folder"};
  auto pick = [&](size_t count) { return std::uniform_int_distribution<size_t>(0, count - 1)(random); };
  auto flipCase = [](std::string text) {
    for (char& c : text)
      c = static_cast<char>(std::isupper(static_cast<unsigned char>(c)) ? std::tolower(c) : std::toupper(c));
    return text;
  };
  int succeeded = 0;
  int created = 0;
  for (int step = 0; step < 500; ++step) {
    std::vector<Folder::Ptr> folders = everyFolder();
    std::vector<Folder::Ptr> plain(folders.begin() + 2, folders.end());
    std::vector<std::shared_ptr<Item>> items = everyItem();
    const std::string& name = names[pick(names.size())];
    int operation = static_cast<int>(pick(11));
    if (items.empty() && operation >= 2 && operation <= 6) operation = 1;
    if (plain.empty() && operation >= 7) operation = 0;
    Error error;
    bool ok = false;
    switch (operation) {
      case 0:
        ok = folders[pick(folders.size())]->createSubfolder(name, &error) != nullptr;
        break;
      case 1: {
        Folder::Ptr folder = folders[pick(folders.size())];
        std::string filename = formatString("Item %@.txt", ++created);
        auto made = item(folder, filename);
        std::ofstream(*made->fileURL()) << filename;
        ok = true;
        break;
      }
      case 2: {
        auto chosen = items[pick(items.size())];
        ok = chosen->canChangeName(name, &error) && chosen->changeName(name, &error);
        break;
      }
      case 3: {
        auto chosen = items[pick(items.size())];
        std::string flipped = flipCase(chosen->name());
        ok = chosen->canChangeName(flipped, &error) && chosen->changeName(flipped, &error);
        break;
      }
      case 4:
        ok = items[pick(items.size())]->moveToFolder(folders[pick(folders.size())], pick(3) ? "" : name, &error);
        break;
      case 5: {
        auto chosen = items[pick(items.size())];
        ok = chosen->moveToFolder(chosen->folder()->isTrashFolder() ? Folder::Ptr(root) : Folder::Ptr(trash), &error);
        break;
      }
      case 6:
        context->deleteObject(items[pick(items.size())]);
        ok = true;
        break;
      case 7:
        ok = plain[pick(plain.size())]->changeName(pick(2) ? name : flipCase(plain[0]->name()), &error);
        break;
      case 8:
        ok = plain[pick(plain.size())]->moveToFolder(folders[pick(folders.size())], &error);
        break;
      case 9:
        ok = plain[pick(plain.size())]->moveToFolder(trash, &error);
        break;
      case 10:
        ok = plain[pick(plain.size())]->remove(&error);
        break;
    }
    succeeded += ok;
    SCOPED_TRACE(formatString("step %@ operation %@ name '%@' ok %@: %@", step, operation, name, ok,
                              error.description()));
    expectDiskMatchesDatabase(step);
    if (HasFatalFailure()) return;
    if (step % 20 == 19) {
      ASSERT_TRUE(context->save());
    }
  }
  EXPECT_GT(succeeded, 250);
}

}  // namespace
}  // namespace qlt
