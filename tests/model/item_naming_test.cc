#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "folder_fixture.h"
#include "model/item.h"
#include "platform/files/file_path.h"
#include "private_user_trash.h"

namespace qlt {
namespace {

namespace fs = std::filesystem;

class ItemNamingTest : public FolderFixture {
 protected:
  // An item of `folder` whose file holds `contents`.
  std::shared_ptr<Item> itemWithFile(const Folder::Ptr& folder, const std::string& filename,
                                     const std::string& contents = "x") {
    auto made = item(folder, filename);
    std::ofstream(*made->fileURL()) << contents;
    return made;
  }
  static std::string read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static std::vector<std::string> entries(const std::string& directory) {
    std::vector<std::string> names;
    if (fs::exists(directory))
      for (const auto& entry : fs::directory_iterator(directory)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  void expectNames(const std::shared_ptr<Item>& item, const std::string& name, const std::string& filename,
                   bool hidden) {
    EXPECT_EQ(item->name(), name);
    EXPECT_EQ(item->filename(), filename);
    EXPECT_EQ(item->extensionHidden(), hidden);
    EXPECT_TRUE(fs::exists(*item->fileURL())) << filename;
  }

  PrivateUserTrash userTrash;
};

TEST_F(ItemNamingTest, RenamesFollowTheShownOrHiddenExtension) {
  Folder::Ptr folder = make(root, "Docs");
  auto shown = itemWithFile(folder, "Report.pdf", "report");
  ASSERT_TRUE(shown->changeName("Summary.txt"));
  expectNames(shown, "Summary.txt", "Summary.txt", false);
  ASSERT_TRUE(shown->changeName("Summary"));
  expectNames(shown, "Summary", "Summary.txt", true);
  EXPECT_EQ(read(*shown->fileURL()), "report");

  auto hidden = itemWithFile(folder, "Report.pdf");
  hidden->setValueForKey("name", "Report");
  hidden->setValueForKey("extensionHidden", true);
  ASSERT_TRUE(hidden->changeName("Notes.txt"));
  expectNames(hidden, "Notes.txt", "Notes.txt.pdf", true);
  ASSERT_TRUE(hidden->changeName("Notes.pdf"));
  expectNames(hidden, "Notes.pdf", "Notes.pdf", false);
  EXPECT_EQ(entries(*folder->folderPath()), (std::vector<std::string>{"Notes.pdf", "Summary.txt"}));
}

TEST_F(ItemNamingTest, ClashesAreRefusedAndCaseOnlyRenamesTrashNothing) {
  Folder::Ptr folder = make(root, "Docs");
  auto first = itemWithFile(folder, "report.pdf", "mine");
  auto second = itemWithFile(folder, "Other.pdf");
  make(folder, "Archive.pdf");
  Error error;
  EXPECT_FALSE(second->canChangeName("REPORT", &error));
  EXPECT_EQ(error.domain(), kItemErrorDomain);
  EXPECT_EQ(error.code(), kItemFileExistsErrorCode);
  EXPECT_NE(error.userInfoValue(kItemExistingItemErrorUserInfoKey), nullptr);
  EXPECT_FALSE(second->canChangeName("Archive", &error));
  EXPECT_EQ(error.code(), kItemFolderExistsErrorCode);

  EXPECT_TRUE(first->canChangeName("Report.pdf"));
  ASSERT_TRUE(first->changeName("Report.pdf"));
  EXPECT_EQ(first->filename(), "Report.pdf");
  EXPECT_EQ(read(*folder->folderPath() + "/Report.pdf"), "mine");
  EXPECT_FALSE(fs::exists(*folder->folderPath() + "/report.pdf"));
  EXPECT_TRUE(entries(userTrash.files()).empty());
}

TEST_F(ItemNamingTest, AStrayFileInTheWayGoesToTheUserTrash) {
  auto mine = itemWithFile(root, "Draft.txt", "mine");
  std::ofstream(*root->folderPath() + "/Final.txt") << "stray";
  ASSERT_TRUE(mine->changeName("Final.txt"));
  EXPECT_EQ(read(*mine->fileURL()), "mine");
  EXPECT_EQ(entries(userTrash.files()), std::vector<std::string>{"Final.txt"});
  EXPECT_EQ(read(userTrash.files() + "/Final.txt"), "stray");
  EXPECT_NE(read(userTrash.info() + "/Final.txt.trashinfo").find("Path=" + *root->folderPath() + "/Final.txt"),
            std::string::npos);

  Folder::Ptr other = make(root, "Other");
  std::ofstream(*other->folderPath() + "/Final.txt") << "second stray";
  ASSERT_TRUE(mine->moveToFolder(other));
  EXPECT_EQ(read(*mine->fileURL()), "mine");
  EXPECT_EQ(entries(userTrash.files()), (std::vector<std::string>{"Final 1.txt", "Final.txt"}));
}

TEST_F(ItemNamingTest, TrashMakesNamesUniqueStampsAndRestores) {
  Folder::Ptr folder = make(root, "Docs");
  auto earlier = itemWithFile(folder, "Report.pdf", "earlier");
  ASSERT_TRUE(earlier->moveToFolder(trash));
  auto later = itemWithFile(folder, "Report.pdf", "later");
  libraryGroup->addObjectForKey("items", later);
  ASSERT_TRUE(later->moveToFolder(trash));
  EXPECT_EQ(later->filename(), "Report 1.pdf");
  EXPECT_EQ(read(*later->fileURL()), "later");
  EXPECT_TRUE(later->valueForKey("dateDeleted").date());
  EXPECT_TRUE(later->objectsForKey("groups").empty());
  EXPECT_EQ(read(*earlier->fileURL()), "earlier");

  ASSERT_TRUE(later->moveToFolder(folder));
  EXPECT_EQ(later->filename(), "Report 1.pdf");
  EXPECT_TRUE(later->valueForKey("dateDeleted").isNull());
  EXPECT_EQ(later->objectsForKey("groups").size(), 1u);
  EXPECT_EQ(entries(*folder->folderPath()), std::vector<std::string>{"Report 1.pdf"});

  libraryGroup->addObjectForKey("items", earlier);
  ASSERT_TRUE(earlier->moveToFolder(trash));  // its own place: only leaves its groups
  EXPECT_TRUE(earlier->objectsForKey("groups").empty());
}

TEST_F(ItemNamingTest, BadNamesAndClashesChangeNothing) {
  Folder::Ptr from = make(root, "From");
  Folder::Ptr to = make(root, "To");
  auto moving = itemWithFile(from, "Keep.txt", "keep");
  itemWithFile(to, "keep.TXT", "other");
  for (const std::string& name : {std::string("a/b"), std::string("..", 2), std::string("a\0b", 3),
                                  std::string(256, 'n'), std::string("keep.txt")}) {
    Error error;
    EXPECT_FALSE(moving->moveToFolder(to, name, &error)) << name;
    EXPECT_FALSE(error.description().empty());
    EXPECT_EQ(moving->folder(), from);
    EXPECT_EQ(moving->filename(), "Keep.txt");
    EXPECT_EQ(read(*from->folderPath() + "/Keep.txt"), "keep");
  }
  EXPECT_EQ(entries(*to->folderPath()), std::vector<std::string>{"keep.TXT"});
  EXPECT_FALSE(moving->moveToFolder(nullptr));

  ASSERT_TRUE(moving->changeName("x/..\0y"));
  EXPECT_EQ(moving->fileURL().value(), *from->folderPath() + "/" + moving->filename());
  EXPECT_TRUE(fs::exists(*moving->fileURL()));
}

TEST_F(ItemNamingTest, DeletionRemovesTheFileOnlyWhenItIsThere) {
  auto withFile = itemWithFile(root, "Gone.txt");
  auto withoutFile = item(root, "Missing.txt");
  std::ofstream(*root->folderPath() + "/Unrelated.txt") << "user's";
  context->deleteObject(withFile);
  context->deleteObject(withoutFile);
  ASSERT_TRUE(context->save());
  EXPECT_EQ(entries(*root->folderPath()), std::vector<std::string>{"Unrelated.txt"});
}

}  // namespace
}  // namespace qlt
