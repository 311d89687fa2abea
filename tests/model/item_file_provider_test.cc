#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "folder_fixture.h"
#include "model/cloud_share.h"
#include "model/folder.h"
#include "model/item.h"
#include "platform/files/file_path.h"

namespace qlt {
namespace {

namespace fs = std::filesystem;

RecordSystemFields othersShare(const std::string& name) {
  return {"cloudkit.share", RecordID(name, RecordZoneID("Quillet", "_otherUser")), "tag", std::nullopt, std::nullopt};
}

using SharedPathsTest = FolderFixture;

// Identifiers and names arrive from cloud records and property lists; none
// of them may lead outside the directory it names an entry of.
TEST_F(SharedPathsTest, CraftedIdentifiersAndNamesAreRefusedAndWriteNothing) {
  const std::string sharedPath = *shared->folderPath();
  const std::string base = manager->libraryFolderPath();
  const std::string tooLong(256, 'x');
  for (const std::string& bad : {std::string(""), std::string("."), std::string(".."), std::string("../../escape"),
                                 std::string("a/b"), std::string("a\0b", 3), tooLong}) {
    SCOPED_TRACE(bad);
    auto item = std::dynamic_pointer_cast<Item>(context->insertNewObject("Item"));
    item->setValueForKey("identifier", bad);
    item->setValueForKey("filename", "file.txt");
    item->setObjectForKey("folder", root);
    storeCloudShare(*item, othersShare("S-item"));
    Error error;
    EXPECT_FALSE(item->fileURL(&error));
    EXPECT_TRUE(error.is(kCocoaErrorDomain, kCocoaFileWriteInvalidFileNameError)) << error.description();
    EXPECT_FALSE(item->fileURL()) << "the same answer without an error";

    auto folder = std::dynamic_pointer_cast<Folder>(context->insertNewObject("Folder"));
    folder->setValueForKey("identifier", bad);
    folder->setValueForKey("name", "Team");
    folder->setCloudShare(othersShare("S-folder"));
    root->addChildrenObject(folder);
    folder->setParent(root);
    error = Error();
    EXPECT_FALSE(folder->folderPath(&error));
    EXPECT_TRUE(error.is(kCocoaErrorDomain, kCocoaFileWriteInvalidFileNameError)) << error.description();
    EXPECT_FALSE(folder->createFolder());

    item->setValueForKey("identifier", "ITEM-1");
    item->setValueForKey("filename", bad);
    error = Error();
    EXPECT_FALSE(item->fileURL(&error)) << "a filename is one component too";
    EXPECT_TRUE(error.is(kCocoaErrorDomain, kCocoaFileWriteInvalidFileNameError)) << error.description();
    context->deleteObject(item);
    context->deleteObject(folder);
  }
  EXPECT_FALSE(fs::exists(base + "/escape"));
  EXPECT_FALSE(fs::exists(fs::path(base).parent_path() / "escape"));
  EXPECT_TRUE(fs::is_empty(sharedPath));

  auto good = std::dynamic_pointer_cast<Item>(context->insertNewObject("Item"));
  good->setValueForKey("identifier", "ITEM-2");
  good->setValueForKey("filename", "file.txt");
  good->setObjectForKey("folder", root);
  storeCloudShare(*good, othersShare("S-good"));
  EXPECT_EQ(good->fileURL(), sharedPath + "/ITEM-2/file.txt");
  EXPECT_TRUE(fs::is_directory(sharedPath + "/ITEM-2"));
}

}  // namespace
}  // namespace qlt
