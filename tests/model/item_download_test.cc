#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "folder_fixture.h"
#include "formats/archive_file.h"
#include "model/item_file_versions.h"
#include "platform/cloud/cloud_record.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "store/library_model_constants.h"

namespace qlt {
namespace {

class ItemDownloadTest : public FolderFixture {
 protected:
  // A record of `target` whose asset is a new file with `contents`, dated
  // after anything on disk.
  CloudRecord recordWithFile(const std::shared_ptr<Item>& target, const std::string& contents) {
    std::string asset = appendingPathComponent(manager->groupContainerPath(), "asset " + std::to_string(++assets_));
    EXPECT_TRUE(writeFileAtomically(asset, contents));
    CloudRecord record("Item", target->cloudRecordID());
    record.setObjectForKey("dateModified", Date::now().addingTimeInterval(3600));
    record.setObjectForKey(kItemCloudFileAssetKey, CloudAsset{asset});
    return record;
  }

  std::vector<std::string> versionContents(const std::shared_ptr<Item>& target) {
    std::vector<std::string> contents;
    for (const std::string& path : ItemFileVersions::ofSharedLibrary().versionsOfItem(target->identifier()))
      contents.push_back(readFile(path).value_or("<unreadable>"));
    return contents;
  }

  int assets_ = 0;
};

TEST_F(ItemDownloadTest, AReplacedFileKeepsItsPreviousContentsAsTheNewestOfTenVersions) {
  auto doc = item(make(root, "Box"), "doc.txt");
  ASSERT_TRUE(writeFileAtomically(*doc->fileURL(), "version 0"));
  Error error;
  for (int round = 1; round <= 12; ++round)
    ASSERT_TRUE(doc->updateFileFromRecord(recordWithFile(doc, "version " + std::to_string(round)), &error))
        << error.description();
  EXPECT_EQ(readFile(*doc->fileURL()), std::optional<std::string>("version 12"));
  std::vector<std::string> expected;
  for (int round = 2; round <= 11; ++round) expected.push_back("version " + std::to_string(round));
  EXPECT_EQ(versionContents(doc), expected);
  std::string folder = appendingPathComponent(manager->libraryFilePath(), "Versions.noindex/" + doc->identifier());
  std::vector<std::string> names = contentsOfDirectory(folder).value_or(std::vector<std::string>{});
  ASSERT_EQ(names.size(), 10u);
  EXPECT_EQ(names.back(), "000012 doc.txt");

  // A first download has nothing to keep.
  auto fresh = item(root, "fresh.txt");
  ASSERT_TRUE(fresh->updateFileFromRecord(recordWithFile(fresh, "new"), &error));
  EXPECT_TRUE(versionContents(fresh).empty());
}

TEST_F(ItemDownloadTest, ARestoredPackageKeepsThePreviousPackage) {
  auto bundle = item(root, "Notes.rtfd");
  std::string destination = *bundle->fileURL();
  ASSERT_TRUE(createDirectory(destination, true));
  ASSERT_TRUE(writeFileAtomically(destination + "/TXT.rtf", "old text"));

  std::string source = appendingPathComponent(manager->groupContainerPath(), "Source.rtfd");
  ASSERT_TRUE(createDirectory(source, true));
  ASSERT_TRUE(writeFileAtomically(source + "/TXT.rtf", "new text"));
  Error error;
  auto archive = ArchiveFile::withURL(source, &error);
  ASSERT_TRUE(archive) << error.description();
  std::string archivePath = appendingPathComponent(manager->groupContainerPath(), "package.qltarchive");
  ASSERT_TRUE(archive->writeArchiveToURL(archivePath, &error)) << error.description();
  CloudRecord record("Item", bundle->cloudRecordID());
  record.setObjectForKey("dateModified", Date::now().addingTimeInterval(3600));
  record.setObjectForKey(kItemCloudFileAssetKey, CloudAsset{archivePath});
  record.setObjectForKey(kItemCloudFileIsArchiveKey, true);

  ASSERT_TRUE(bundle->updateFileFromRecord(record, &error)) << error.description();
  EXPECT_EQ(readFile(destination + "/TXT.rtf"), std::optional<std::string>("new text"));
  auto versions = ItemFileVersions::ofSharedLibrary().versionsOfItem(bundle->identifier());
  ASSERT_EQ(versions.size(), 1u);
  EXPECT_EQ(readFile(versions[0] + "/TXT.rtf"), std::optional<std::string>("old text"));
}

// A link cannot carry the attributes kept as extended attributes; each
// failure is logged and the rest are still applied.
TEST_F(ItemDownloadTest, AttributeFailuresAreLoggedOneByOne) {
  auto alias = item(root, "alias");
  std::string link = appendingPathComponent(manager->groupContainerPath(), "link asset");
  ASSERT_EQ(symlink("somewhere else", link.c_str()), 0);
  CloudRecord record("Item", alias->cloudRecordID());
  record.setObjectForKey("dateModified", Date(1000));
  record.setObjectForKey(kItemCloudFileAssetKey, CloudAsset{link});
  alias->setDateCreated(Date(500));

  testing::internal::CaptureStderr();
  Error error;
  bool written = alias->updateFileFromRecord(record, &error);
  std::string logged = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(written) << error.description();
  size_t failures = 0;
  for (size_t at = logged.find("Error changing metadata on updated file: "); at != std::string::npos;
       at = logged.find("Error changing metadata on updated file: ", at + 1))
    ++failures;
  EXPECT_EQ(failures, 2u) << "creation date and hidden extension: " << logged;
}

TEST(ItemFileVersionsTest, RefusesIdentifiersThatAreNotOnePathComponent) {
  ItemFileVersions versions("/nonexistent/Versions.noindex");
  for (const char* identifier : {"", ".", "..", "a/b"}) {
    Error error;
    EXPECT_FALSE(versions.addVersionOfItem(identifier, "/etc/hostname", &error)) << identifier;
    EXPECT_EQ(error.code(), EINVAL) << identifier;
    EXPECT_TRUE(versions.versionsOfItem(identifier).empty());
  }
}

}  // namespace
}  // namespace qlt
