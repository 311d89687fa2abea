#include "model/folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "model/group_classes.h"
#include "model/item.h"
#include "platform/files/file_attributes.h"
#include "folder_fixture.h"
#include "platform/files/file_path.h"
#include "platform/foundation/format.h"
#include "platform/dispatch/main_queue.h"
#include "platform/dispatch/notification_center.h"
#include "util/filename_rules.h"

namespace qlt {
namespace {

namespace fs = std::filesystem;

class FolderTest : public FolderFixture {
 protected:
  static void touch(const std::string& path) { std::ofstream(path) << "x"; }

};

TEST_F(FolderTest, SystemDirectoriesFollowTheFileProviderSetting) {
  std::string folder = manager->libraryFolderPath(), package = manager->libraryFilePath();
  EXPECT_EQ(root->folderPath(), folder + "/Files");
  EXPECT_EQ(trash->folderPath(), folder + "/Deleted Files");
  EXPECT_TRUE(fs::is_directory(folder + "/Files"));
  EXPECT_TRUE(fs::is_directory(folder + "/Deleted Files"));
  EXPECT_TRUE(fs::is_directory(package + "/Shared"));
  EXPECT_EQ(root->depth(), 0u);
  EXPECT_EQ(make(root, "Top")->depth(), 1u);

  libraryObject->setValueForKey("useFileProvider", true);
  EXPECT_EQ(root->folderPath(), package + "/Files.noindex");
  EXPECT_EQ(trash->folderPath(), package + "/Deleted Files.noindex");
  fs::create_directories(package + "/Files/Old");
  ASSERT_TRUE(root->createFolder());
  EXPECT_TRUE(fs::is_directory(package + "/Files.noindex/Old")) << "the older directory is moved, not recreated";
  EXPECT_FALSE(fs::exists(package + "/Files"));
  ASSERT_TRUE(trash->createFolder());
  EXPECT_TRUE(fs::is_directory(package + "/Deleted Files.noindex"));
  for (const char* name : {"/Files.noindex", "/Deleted Files.noindex"})
    EXPECT_TRUE(attributesOfItem(package + name)->extensionHidden) << name;
}

TEST_F(FolderTest, NamesFromOutsideNeverLeaveTheParentDirectory) {
  std::string top = *root->folderPath();
  Folder::Ptr inner = make(root, "Inner");
  for (const char* name : {".", "..", "../escape", "/abs", "a/b", "..\n..", "~"}) {
    Folder::Ptr folder = make(inner, name);
    ASSERT_TRUE(folder);
    ASSERT_TRUE(folder->folderPath());
    EXPECT_EQ(deletingLastPathComponent(*folder->folderPath()), top + "/Inner") << name;
    EXPECT_TRUE(fs::is_directory(*folder->folderPath())) << name;
    Error error;
    Folder::Ptr target = make(inner, "target");
    if (target->changeName(std::string("x/../../") + name, &error)) {
      EXPECT_EQ(deletingLastPathComponent(*target->folderPath()), top + "/Inner");
      EXPECT_TRUE(fs::is_directory(*target->folderPath()));
    }
    ASSERT_TRUE(target->remove());
  }
  EXPECT_FALSE(fs::exists(top + "/escape"));
  EXPECT_FALSE(fs::exists(fs::path(top).parent_path() / "escape"));

  Folder::Ptr raw = std::dynamic_pointer_cast<Folder>(context->insertNewObject("Folder"));
  raw->setValueForKey("name", "..");
  inner->addChildrenObject(raw);
  EXPECT_FALSE(raw->folderPath()) << "a stored name that is no single component has no directory";
  Error error;
  EXPECT_FALSE(raw->createFolder(&error));
  EXPECT_TRUE(error.is(kFolderErrorDomain, kFolderNoURLErrorCode));
  ASSERT_TRUE(raw->remove());
  EXPECT_TRUE(fs::is_directory(top)) << "removing it must not remove the parent's directory";
  EXPECT_TRUE(fs::is_directory(top + "/Inner"));
}

TEST_F(FolderTest, FetchedFoldersRecreateTheirDirectoriesAndAdoptTheOlderLayout) {
  libraryObject->setValueForKey("useFileProvider", true);
  Folder::Ptr docs = make(root, "Docs");
  Folder::Ptr gone = make(docs, "Gone");
  Folder::Ptr old = make(trash, "Old");
  ASSERT_TRUE(context->save());
  std::string package = manager->libraryFilePath();
  touch(*docs->folderPath() + "/keep.txt");
  fs::remove(*gone->folderPath());
  // A library of an older version: the same directories without ".noindex".
  fs::rename(package + "/Files.noindex", package + "/Files");
  fs::rename(package + "/Deleted Files.noindex", package + "/Deleted Files");

  EXPECT_TRUE(reread<Folder>(gone)->folderExists());
  EXPECT_TRUE(fs::exists(package + "/Files.noindex/Docs/keep.txt"));
  EXPECT_TRUE(fs::is_directory(package + "/Files.noindex/Docs/Gone"));
  EXPECT_FALSE(fs::exists(package + "/Files"));
  EXPECT_TRUE(reread<Folder>(old)->folderExists());
  EXPECT_FALSE(fs::exists(package + "/Deleted Files"));
}

TEST_F(FolderTest, RenamesAndMovesSetAsideWhatNoFolderOwns) {
  std::string top = *root->folderPath();
  std::string deleted = *trash->folderPath();
  Folder::Ptr notes = make(root, "Notes");
  touch(top + "/Notes/own.txt");
  fs::create_directory(top + "/Stray");
  touch(top + "/Stray/user.txt");
  Error error;
  ASSERT_TRUE(notes->changeName("Stray", &error)) << error.description();
  EXPECT_TRUE(fs::exists(top + "/Stray/own.txt"));
  EXPECT_FALSE(fs::exists(top + "/Stray/user.txt"));
  EXPECT_TRUE(fs::exists(deleted + "/Stray/user.txt")) << "set aside, not removed";

  libraryObject->setValueForKey("useFileProvider", true);
  ASSERT_TRUE(root->createFolder() && trash->createFolder());
  top = *root->folderPath();
  deleted = *trash->folderPath();
  Folder::Ptr box = make(root, "Box");
  Folder::Ptr pad = make(root, "Pad");
  touch(top + "/Pad/own.txt");
  fs::create_directories(top + "/Box/Pad");
  touch(top + "/Box/Pad/user.txt");
  fs::create_directory(deleted + "/Pad");
  ASSERT_TRUE(pad->moveToFolder(box, &error)) << error.description();
  EXPECT_TRUE(fs::exists(top + "/Box/Pad/own.txt"));
  EXPECT_FALSE(fs::exists(top + "/Box/Pad/user.txt"));
  EXPECT_TRUE(fs::exists(deleted + "/Pad 1/user.txt")) << "under a name free in the deleted-files directory";
}

TEST_F(FolderTest, NamesAreCleanedAndAnnouncedWithTheViewContextObject) {
  EXPECT_EQ(cleanedGroupName("  Plans \n"), "Plans");
  EXPECT_EQ(cleanedGroupName("a \n\t  b"), "a b");
  EXPECT_EQ(cleanedGroupName("a  b"), "a  b");

  std::vector<const void*> posted;
  ObserverToken token = NotificationCenter::defaultCenter().addObserver(
      kGroupNameDidChangeNotification, nullptr, [&](const Notification& note) { posted.push_back(note.object); });
  Folder::Ptr folder = make(root, "Old");
  dispatchMainSync([] {});  // the notice looks the folder up before it is saved
  EXPECT_TRUE(posted.empty()) << "unsaved, so not in the view context";
  ASSERT_TRUE(context->save());
  ManagedObjectPtr seen;
  view().performAndWait([&] { seen = view().existingObjectWithID(folder->objectID()); });
  ASSERT_TRUE(folder->changeName("New"));
  dispatchMainSync([] {});
  NotificationCenter::defaultCenter().removeObserver(token);
  EXPECT_EQ(posted, std::vector<const void*>{seen.get()});
}

TEST_F(FolderTest, SubfolderNamesAvoidFoldersItemsAndUntrackedDirectories) {
  make(root, "Notes");
  item(root, "Plan");
  EXPECT_EQ(make(root, "notes")->name(), "notes 1");
  EXPECT_EQ(make(root, "Plan")->name(), "Plan 1");
  fs::create_directory(*root->folderPath() + "/Stray");
  touch(*root->folderPath() + "/Stray/keep");
  Folder::Ptr fresh = make(root, "Stray");
  EXPECT_EQ(fresh->name(), "Stray 1");
  EXPECT_TRUE(fs::exists(*root->folderPath() + "/Stray/keep"));
}

TEST_F(FolderTest, RenameChecksClashesAndKeepsContentsOnCaseOnlyChanges) {
  Folder::Ptr notes = make(root, "Notes");
  Folder::Ptr other = make(root, "Résumé");
  auto plan = item(root, "Plan.txt");
  touch(*notes->folderPath() + "/file");

  EXPECT_TRUE(notes->changeName("Notes"));
  EXPECT_TRUE(notes->changeName("  Notes\n"));
  EXPECT_EQ(notes->name(), "Notes");

  Error error;
  EXPECT_FALSE(notes->changeName("RESUME", &error));
  EXPECT_TRUE(error.is(kFolderErrorDomain, kFolderWithNameExistsErrorCode));
  auto clash = error.userInfoValue(kFolderErrorExistingFolderUserInfoKey);
  ASSERT_TRUE(clash);
  EXPECT_EQ(std::any_cast<ManagedObjectPtr>(*clash)->objectID(), other->objectID());
  EXPECT_FALSE(notes->changeName("plan.TXT", &error));
  EXPECT_TRUE(error.is(kFolderErrorDomain, kFolderItemWithNameExistsErrorCode));
  ASSERT_TRUE(error.userInfoValue(kFolderErrorExistingItemUserInfoKey));
  EXPECT_EQ(notes->name(), "Notes");
  EXPECT_TRUE(fs::exists(*root->folderPath() + "/Notes/file"));

  ASSERT_TRUE(notes->changeName("NOTES", &error)) << error.description();
  EXPECT_EQ(notes->name(), "NOTES");
  EXPECT_TRUE(fs::exists(*root->folderPath() + "/NOTES/file"));
  EXPECT_FALSE(fs::exists(*root->folderPath() + "/Notes"));

  fs::create_directory(*root->folderPath() + "/Untracked");
  ASSERT_TRUE(notes->changeName("Untracked", &error)) << error.description();
  EXPECT_TRUE(fs::exists(*root->folderPath() + "/Untracked/file"));
}

TEST_F(FolderTest, MovesRefuseCyclesAndClashesAndCarryContents) {
  Folder::Ptr a = make(root, "A");
  Folder::Ptr b = make(a, "B");
  Folder::Ptr c = make(b, "C");
  Folder::Ptr other = make(root, "Other");
  make(other, "b");
  touch(*c->folderPath() + "/file");

  Error error;
  EXPECT_FALSE(a->moveToFolder(a, &error));
  EXPECT_TRUE(error.is(kFolderErrorDomain, kFolderContainsFolderURLErrorCode));
  EXPECT_FALSE(a->moveToFolder(c, &error));
  EXPECT_TRUE(error.is(kFolderErrorDomain, kFolderContainsFolderURLErrorCode));
  EXPECT_FALSE(b->moveToFolder(other, &error));
  EXPECT_TRUE(error.is(kFolderErrorDomain, kFolderWithNameExistsErrorCode));
  EXPECT_TRUE(b->moveToFolder(a)) << "its own parent under its own name";
  EXPECT_FALSE(root->moveToFolder(a, &error));
  EXPECT_TRUE(error.is(kGroupErrorDomain, kGroupCannotBeMovedErrorCode));
  EXPECT_FALSE(root->moveToFolder(trash, &error));
  EXPECT_TRUE(error.is(kGroupErrorDomain, kGroupCannotBeRemovedErrorCode));
  EXPECT_TRUE(fs::exists(*root->folderPath() + "/A/B/C/file"));

  libraryObject->setObjectForKey("defaultImportGroup", b);
  ASSERT_TRUE(b->moveToFolder(other, "Moved", &error)) << error.description();
  EXPECT_FALSE(libraryObject->objectForKey("defaultImportGroup")) << "only the root folder keeps it";
  EXPECT_EQ(b->parentFolder()->objectID(), other->objectID());
  EXPECT_EQ(c->depth(), 3u);
  EXPECT_TRUE(fs::exists(*root->folderPath() + "/Other/Moved/C/file"));
  EXPECT_FALSE(fs::exists(*root->folderPath() + "/A/B"));
  EXPECT_TRUE(a->subfolders().empty());
  ASSERT_TRUE(context->save());
}

TEST_F(FolderTest, CloudDepthLimitCountsTheMovedSubtree) {
  libraryObject->setValueForKey("storeInCloudDatabase", true);
  Folder::Ptr deepest = root;
  std::vector<Folder::Ptr> chain;
  for (int level = 1; level <= 100; ++level) chain.push_back(deepest = make(deepest, "d"));
  Folder::Ptr tall = make(root, "tall");
  make(make(tall, "t"), "t");
  EXPECT_EQ(tall->relativeMaxDepth(), 3u);
  Error error;
  EXPECT_FALSE(tall->canMoveToFolder(*chain[97], "tall", &error));
  EXPECT_TRUE(error.is(kGroupErrorDomain, kGroupMaxDepthExceededErrorCode));
  EXPECT_TRUE(tall->canMoveToFolder(*chain[96]));
  Folder::Ptr leaf = make(root, "leaf");
  EXPECT_TRUE(leaf->canMoveToFolder(*chain[98]));
  EXPECT_FALSE(leaf->canMoveToFolder(*chain[99]));
  libraryObject->setValueForKey("storeInCloudDatabase", false);
  EXPECT_TRUE(tall->canMoveToFolder(*chain[99]));
}

TEST_F(FolderTest, TrashNamesStampsRestoresAndEmpties) {
  EXPECT_FALSE(trash->canEmpty());
  Folder::Ptr inTrash = make(trash, "Notes");
  make(trash, "Notes 1");
  EXPECT_TRUE(trash->canEmpty());
  auto groupOf = libraryObject->objectForKey("libraryGroup");
  Folder::Ptr notes = make(root, "Notes");
  Folder::Ptr sub = make(notes, "Sub");
  auto top = item(notes, "a.txt"), below = item(sub, "b.txt");
  groupOf->addObjectForKey("items", top);

  Error error;
  ASSERT_TRUE(notes->moveToFolder(trash, &error)) << error.description();
  EXPECT_EQ(notes->name(), "Notes 2");
  EXPECT_TRUE(fs::is_directory(*trash->folderPath() + "/Notes 2/Sub"));
  EXPECT_TRUE(sub->isTrashFolder());
  Value stamped = top->valueForKey("dateDeleted");
  ASSERT_TRUE(stamped.date());
  EXPECT_EQ(below->valueForKey("dateDeleted"), stamped);
  EXPECT_TRUE(top->objectsForKey("groups").empty());

  ASSERT_TRUE(sub->moveToFolder(inTrash, &error)) << error.description();
  EXPECT_EQ(below->valueForKey("dateDeleted"), stamped) << "moves inside the trash keep the first date";

  ASSERT_TRUE(notes->moveToFolder(root, &error)) << error.description();
  EXPECT_TRUE(top->valueForKey("dateDeleted").isNull());
  EXPECT_EQ(top->objectsForKey("groups").size(), 1u);
  EXPECT_FALSE(below->valueForKey("dateDeleted").isNull()) << "it stayed in the trash";

  trash->empty();
  EXPECT_FALSE(trash->canEmpty());
  EXPECT_TRUE(fs::is_empty(*trash->folderPath()));
  EXPECT_TRUE(fs::is_directory(*root->folderPath() + "/Notes 2"));
  ASSERT_TRUE(context->save());
}

TEST_F(FolderTest, RemovalLeavesDirectoriesOfOtherObjectsAlone) {
  Folder::Ptr keep = make(root, "Same");
  touch(*keep->folderPath() + "/precious");
  Folder::Ptr twin = std::dynamic_pointer_cast<Folder>(context->insertNewObject("Folder"));
  twin->setValueForKey("name", "same");
  root->addChildrenObject(twin);
  twin->setValueForKey("name", "Same");
  ASSERT_TRUE(twin->remove());
  EXPECT_TRUE(fs::exists(*keep->folderPath() + "/precious"));
  ASSERT_TRUE(keep->remove());
  EXPECT_FALSE(fs::exists(*root->folderPath() + "/Same"));
}

// The folders and items of the database, as paths relative to the library
// folder, against everything below the root and trash directories.
void expectTreesAgree(const Folder::Ptr& root, const Folder::Ptr& trash, const std::string& base, int step) {
  std::set<std::string> database, disk, items, files;
  for (const Folder::Ptr& top : {root, trash})
    for (const Folder::Ptr& folder : top->allSubfolders()) {
      auto path = folder->folderPath();
      ASSERT_TRUE(path) << folder->name();
      database.insert(fs::relative(*path, base).native());
      for (const ManagedObjectPtr& object : folder->objectsForKey("items"))
        items.insert(fs::relative(*path, base).native() + "/" + *object->valueForKey("filename").string());
      for (const Folder::Ptr& sibling : folder->parentFolder()->subfolders())
        if (sibling != folder) {
          ASSERT_FALSE(isEqualToFilename(sibling->name(), folder->name())) << step;
        }
    }
  for (const Folder::Ptr& top : {root, trash})
    for (const auto& entry : fs::recursive_directory_iterator(*top->folderPath()))
      (entry.is_directory() ? disk : files).insert(fs::relative(entry.path(), base).native());
  ASSERT_EQ(database, disk) << "after step " << step;
  ASSERT_EQ(items, files) << "after step " << step;
}

TEST_F(FolderTest, RandomOperationsKeepDatabaseAndDiskInStep) {
  std::mt19937 random(20261206);
  const std::vector<std::string> names = {"Notes", "notes", "Nötes", "NOTES", "A",       "a",    "B",
                                          "..",    ".",     "",      "x/y",   "Notes 1", "  C\t"};
  auto pick = [&](size_t count) { return std::uniform_int_distribution<size_t>(0, count - 1)(random); };
  auto everyFolder = [&] {
    std::vector<Folder::Ptr> all = root->allSubfolders();
    for (Folder::Ptr& folder : trash->allSubfolders()) all.push_back(std::move(folder));
    return all;
  };
  std::string base = manager->libraryFolderPath();
  int succeeded = 0;
  for (int step = 0; step < 400; ++step) {
    std::vector<Folder::Ptr> all = everyFolder();
    std::vector<Folder::Ptr> targets = all;
    targets.push_back(root);
    targets.push_back(trash);
    const std::string& name = names[pick(names.size())];
    int operation = all.empty() ? 0 : static_cast<int>(pick(9));
    Error error;
    bool ok = false;
    switch (operation) {
      case 0:
      case 1:
        ok = targets[pick(targets.size())]->createSubfolder(name, &error) != nullptr;
        break;
      case 2:
        ok = all[pick(all.size())]->changeName(name, &error);
        break;
      case 3: {
        Folder::Ptr folder = all[pick(all.size())];
        std::string current = folder->name();
        std::string flipped = current;
        for (char& c : flipped)
          c = static_cast<char>(std::isupper(static_cast<unsigned char>(c)) ? std::tolower(c) : std::toupper(c));
        ok = folder->changeName(flipped, &error);
        break;
      }
      case 4:
        ok = all[pick(all.size())]->moveToFolder(targets[pick(targets.size())], &error);
        break;
      case 5:
        ok = all[pick(all.size())]->moveToFolder(trash, &error);
        break;
      case 6: {
        std::vector<Folder::Ptr> trashed = trash->subfolders();
        if (!trashed.empty()) ok = trashed[pick(trashed.size())]->moveToFolder(root, &error);
        break;
      }
      case 7:
        if (pick(4) == 0) {
          trash->empty();
          ok = true;
        } else {
          ok = all[pick(all.size())]->remove(&error);
        }
        break;
      case 8: {
        Folder::Ptr folder = all[pick(all.size())];
        std::string filename = stringSanitizedForFileName(name) + ".txt";
        std::string path = *folder->folderPath() + "/" + filename;
        if (folder->subfolderWithName(filename) || folder->itemWithFilename(filename) || fs::exists(path)) break;
        touch(path);
        item(folder, filename);
        ok = true;
        break;
      }
    }
    succeeded += ok;
    SCOPED_TRACE(formatString("operation %@ name '%@' ok %@: %@", operation, name, ok, error.description()));
    expectTreesAgree(root, trash, base, step);
    if (HasFatalFailure()) return;
    if (step % 25 == 24) {
      ASSERT_TRUE(context->save());
    }
  }
  EXPECT_GT(succeeded, 150);
  ASSERT_TRUE(context->save());
  auto reread = manager->newBackgroundContext();
  auto rereadRoot =
      std::dynamic_pointer_cast<Folder>(LibraryObject::libraryObject(*reread, "RootFolder", "RootFolder"));
  auto rereadTrash =
      std::dynamic_pointer_cast<Folder>(LibraryObject::libraryObject(*reread, "TrashFolder", "TrashFolder"));
  expectTreesAgree(rereadRoot, rereadTrash, base, -1);
}

}  // namespace
}  // namespace qlt

namespace qlt {
namespace {

TEST_F(FolderTest, ItemFilenamesAvoidOtherItemsAndPlainSubfolders) {
  Folder::Ptr folder = make(root, "Box");
  make(folder, "Name");
  auto first = item(folder, "Report.txt");
  auto second = item(folder, "Other");
  EXPECT_EQ(second->uniqueFilename("Name", *folder), "Name 1") << "a plain subfolder's name";
  EXPECT_EQ(second->uniqueFilename("report.TXT", *folder), "report 1.TXT") << "names equal as file names";
  EXPECT_EQ(first->uniqueFilename("Report.txt", *folder), "Report.txt") << "its own name stays free";
  item(folder, "report 1.txt");
  EXPECT_EQ(second->uniqueFilename("Report.txt", *folder), "Report 2.txt");
  EXPECT_EQ(second->uniqueFilename("a/b", *folder), "a-b") << "returned sanitized";
  EXPECT_EQ(second->uniqueFilename("Free:name", *folder), "Free-name") << "a free name is returned sanitized too";
  EXPECT_EQ(second->uniqueFilename("name", *folder), "name 1") << "the sanitized form is what must be free";
  EXPECT_EQ(second->uniqueFilename(" \n\u2026", *folder), "") << "nothing to make unique";
}

TEST_F(FolderTest, NamesThatSanitizeToNothingAreRefused) {
  Folder::Ptr box = make(root, "Box");
  Folder::Ptr other = make(root, "Other");
  touch(*box->folderPath() + "/keep");
  std::string rootPath = *root->folderPath();
  for (const std::string blank : {"", " \n", "\u2026", "\u00A0\u2028"}) {
    Error error;
    EXPECT_FALSE(box->canChangeName(blank, &error)) << blank;
    EXPECT_TRUE(error.is(kCocoaErrorDomain, kCocoaFileWriteInvalidFileNameError)) << error.description();
    EXPECT_FALSE(box->changeName(blank)) << blank;
    EXPECT_FALSE(box->canMoveToFolder(*other, blank)) << blank;
    EXPECT_FALSE(box->moveToFolder(other, blank)) << blank;
    EXPECT_FALSE(box->moveToFolder(trash, blank)) << blank;
    Error created;
    EXPECT_FALSE(root->createSubfolder(blank, &created)) << blank;
    EXPECT_TRUE(created.is(kCocoaErrorDomain, kCocoaFileWriteInvalidFileNameError)) << created.description();
  }
  EXPECT_EQ(box->name(), "Box");
  EXPECT_EQ(box->parentFolder(), root);
  EXPECT_TRUE(fs::exists(rootPath + "/Box/keep"));
  EXPECT_TRUE(fs::is_directory(rootPath + "/Other"));
  EXPECT_EQ(root->subfolders().size(), 2u);
}

}  // namespace
}  // namespace qlt
