#include "model/stationery.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "folder_fixture.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "private_user_trash.h"
#include "store/library.h"

namespace qlt {
namespace {

class StationeryTest : public FolderFixture {
 protected:
  std::shared_ptr<Stationery> make(const std::string& filename, bool extensionHidden, const std::string& contents = "") {
    auto stationery = std::dynamic_pointer_cast<Stationery>(context->insertNewObject("Stationery"));
    stationery->setValueForKey("filename", filename);
    stationery->setValueForKey("name", extensionHidden ? deletingPathExtension(filename) : filename);
    stationery->setValueForKey("extensionHidden", extensionHidden);
    stationery->setValueForKey("active", true);
    stationery->setObjectForKey("library", libraryObject);
    if (!contents.empty()) std::ofstream(*stationery->fileURL()) << contents;
    return stationery;
  }
  PrivateUserTrash userTrash;
};

TEST_F(StationeryTest, TheFileIsNamedByTheIdentifierAndRenamingFollowsTheExtensionRules) {
  auto letter = make("Letter.rtf", true);
  std::string path = manager->libraryStationeryFolderPath() + "/" + letter->identifier() + ".rtf";
  EXPECT_EQ(letter->fileURL(), path);
  EXPECT_EQ(letter->nameForNewItem(), "New Letter");
  EXPECT_EQ(letter->filenameForNewItem(), "New Letter.rtf");

  ASSERT_TRUE(letter->changeName("Memo"));
  EXPECT_EQ(letter->filename(), "Memo.rtf");
  EXPECT_EQ(letter->name(), "Memo");
  EXPECT_EQ(letter->fileURL(), path) << "the file on disk keeps its name";
  ASSERT_TRUE(letter->changeName("Memo.txt"));
  EXPECT_EQ(letter->filename(), "Memo.txt.rtf");
  EXPECT_EQ(letter->name(), "Memo.txt");

  auto shown = make("Letter.rtf", false);
  ASSERT_TRUE(shown->changeName("Memo"));
  EXPECT_EQ(shown->filename(), "Memo.rtf");
  EXPECT_EQ(shown->name(), "Memo");
  EXPECT_TRUE(shown->extensionHidden());
  shown->setExtensionHidden(false);
  EXPECT_EQ(shown->name(), "Memo.rtf");

  auto other = make("memo.RTF", false);
  auto mine = make("Note.rtf", true);
  Error error;
  EXPECT_FALSE(mine->canChangeName("Memo", &error));
  EXPECT_TRUE(error.is(kStationeryErrorDomain, kStationeryItemWithNameExistsErrorCode));
  EXPECT_EQ(error.localizedDescription(), "A stationery item with that name already exists.");
  EXPECT_TRUE(mine->canChangeName("Fresh"));
  EXPECT_FALSE(other->canChangeName("MEMO.rtf")) << "the shown stationery above is Memo.rtf";
  auto solo = make("Solo.doc", false);
  EXPECT_TRUE(solo->canChangeName("SOLO.doc")) << "its own file name does not count";
}

TEST_F(StationeryTest, SwitchingOffTheDefaultStationeryClearsTheDefault) {
  auto letter = make("Letter.rtf", true);
  auto library = std::dynamic_pointer_cast<Library>(libraryObject);
  library->setDefaultStationery(letter);
  EXPECT_TRUE(letter->isDefault());
  auto others = Stationery::activeStationery(*context);
  EXPECT_EQ(others.size(), 1u);
  letter->setActive(false);
  EXPECT_FALSE(letter->isDefault());
  EXPECT_EQ(library->objectForKey("defaultStationery"), nullptr);
  EXPECT_TRUE(Stationery::activeStationery(*context).empty());
  EXPECT_EQ(Stationery::stationeryWithIdentifier(*context, letter->identifier()), letter);
}

TEST_F(StationeryTest, DeletedStationeryLandsInTheUserTrashUnderItsVisibleName) {
  auto letter = make("Letter.rtf", true, "{\\rtf1 Dear}");
  std::string path = *letter->fileURL();
  context->deleteObject(letter);
  EXPECT_FALSE(fileExists(path));
  EXPECT_EQ(readFile(userTrash.files() + "/Letter.rtf"), std::optional<std::string>("{\\rtf1 Dear}"));
  std::optional<std::string> info = readFile(userTrash.info() + "/Letter.rtf.trashinfo");
  ASSERT_TRUE(info);
  std::string expectedPath = manager->libraryStationeryFolderPath() + "/Letter.rtf";
  EXPECT_TRUE(std::regex_match(*info, std::regex("\\[Trash Info\\]\nPath=.*\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n")))
      << *info;
  EXPECT_NE(info->find("Path=/"), std::string::npos) << "an absolute path";

  auto missing = make("Gone.rtf", true);
  context->deleteObject(missing);  // nothing on disk: nothing happens
}

TEST_F(StationeryTest, FilesAndPackagesTravelInTheCloudRecord) {
  auto letter = make("Letter.txt", true, "plain template");
  CloudRecord record = letter->cloudRecord();
  const CloudValue* asset = record.objectForKey(kStationeryCloudFileAssetKey);
  ASSERT_TRUE(asset && asset->asset());
  EXPECT_EQ(asset->asset()->filePath, *letter->fileURL());
  EXPECT_EQ(*record.objectForKey(kStationeryCloudFileAssetIsArchiveKey)->boolean(), false);

  auto package = make("Report.rtfd", true);
  std::string packagePath = *package->fileURL();
  ASSERT_TRUE(createDirectory(packagePath, true));
  std::ofstream(packagePath + "/TXT.rtf") << "{\\rtf1 report}";
  CloudRecord packageRecord = package->cloudRecord();
  EXPECT_EQ(*packageRecord.objectForKey(kStationeryCloudFileAssetIsArchiveKey)->boolean(), true);
  const CloudValue* archive = packageRecord.objectForKey(kStationeryCloudFileAssetKey);
  ASSERT_TRUE(archive && archive->asset());

  // Another device restores the package from the archive.
  ASSERT_TRUE(removeItem(packagePath));
  package->updateFromCloudRecord(packageRecord);
  EXPECT_TRUE(isDirectory(packagePath));
  EXPECT_EQ(readFile(packagePath + "/TXT.rtf"), std::optional<std::string>("{\\rtf1 report}"));

  auto none = make("Empty.txt", true);
  CloudRecord bare = none->cloudRecord();
  EXPECT_FALSE(bare.objectForKey(kStationeryCloudFileAssetKey)) << "no file, no asset";
}

}  // namespace
}  // namespace qlt
