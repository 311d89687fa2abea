#include "util/file_manager.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "support/scoped_environment.h"
#include "support/scratch_directory.h"
#include "platform/defaults/user_defaults.h"

namespace qlt {
namespace {

namespace fs = std::filesystem;

void writeFile(const std::string& path, std::string_view contents) { std::ofstream(path) << contents; }

std::vector<std::string> entries(const std::string& directory) { return contentsOfDirectory(directory).value(); }

TEST(FileManagerTest, CaseOnlyRenameLeavesOneEntryWithTheNewName) {
  ScratchDirectory scratch;
  writeFile(scratch.path("notes.txt"), "text");
  Error error;
  ASSERT_TRUE(renameItem(scratch.path("notes.txt"), "Notes.txt", &error)) << error.description();
  EXPECT_EQ(entries(scratch.path()), std::vector<std::string>{"Notes.txt"});

  fs::create_directory(scratch.path("r\u00E9sum\u00E9"));
  writeFile(scratch.path("r\u00E9sum\u00E9/inside"), "");
  ASSERT_TRUE(renameItem(scratch.path("r\u00E9sum\u00E9/"), "RESUME", &error)) << error.description();
  EXPECT_EQ(entries(scratch.path()), (std::vector<std::string>{"Notes.txt", "RESUME"}));
  EXPECT_TRUE(fileExists(scratch.path("RESUME/inside")));

  // Nothing is looked at for the same name.
  EXPECT_TRUE(renameItem(scratch.path("missing.txt"), "missing.txt"));
}

TEST(FileManagerTest, FailedRenamesTouchNothing) {
  ScratchDirectory scratch;
  writeFile(scratch.path("a.txt"), "a");
  writeFile(scratch.path("A.TXT"), "other");
  writeFile(scratch.path("b.txt"), "b");
  const std::vector<std::string> before = entries(scratch.path());

  for (const std::string& bad : {std::string(), std::string("."), std::string(".."), std::string("../a.txt"),
                                 std::string("x/y"), std::string("a\0b", 3), std::string(256, 'n')}) {
    Error error;
    EXPECT_FALSE(renameItem(scratch.path("a.txt"), bad, &error)) << bad;
    EXPECT_EQ(error.code(), kCocoaFileWriteInvalidFileNameError) << bad;
  }
  Error error;
  EXPECT_FALSE(renameItem(scratch.path("a.txt"), "b.txt", &error));
  EXPECT_EQ(error.code(), kCocoaFileWriteFileExistsError);
  // Linux keeps "A.TXT" apart from "a.txt": the case-only rename must not
  // replace it.
  EXPECT_FALSE(renameItem(scratch.path("a.txt"), "A.TXT", &error));

  EXPECT_EQ(entries(scratch.path()), before);
  EXPECT_EQ(readFile(scratch.path("A.TXT")), "other");
}

TEST(FileManagerTest, SizeCountsVisibleFilesAtAnyDepthWithoutFollowingLinks) {
  ScratchDirectory scratch;
  writeFile(scratch.path("plain"), "12345");
  EXPECT_EQ(sizeOfFile(scratch.path("plain")), 5u);

  std::string package = scratch.path("Book.qltarchive");
  fs::create_directories(package + "/Contents/Deep");
  fs::create_directories(package + "/.hidden");
  fs::create_directory(package + "/Empty");
  EXPECT_EQ(sizeOfFile(package + "/Empty"), 0u);
  writeFile(package + "/top", "abc");
  writeFile(package + "/Contents/Deep/leaf", std::string(1000, 'x'));
  writeFile(package + "/Contents/.DS_Store", std::string(50, 'h'));
  writeFile(package + "/.hidden/secret", std::string(70, 's'));
  fs::create_symlink("../plain", package + "/link");
  fs::create_directory_symlink(scratch.path(), package + "/loop");
  uint64_t links = std::string("../plain").size() + scratch.path().size();
  EXPECT_EQ(sizeOfFile(package), 1003u + links);

  Error error;
  EXPECT_EQ(sizeOfFile(scratch.path("missing"), &error), std::nullopt);
  EXPECT_EQ(error.code(), kCocoaFileNoSuchFileError);
}

TEST(FileManagerTest, ExtendedAttributesTellMissingFromEmpty) {
  ScratchDirectory scratch;
  std::string file = scratch.path("file");
  writeFile(file, "");
  if (!setXAttrDataValue(Bytes{1}, "probe", file)) GTEST_SKIP() << "no user extended attributes here";

  EXPECT_EQ(xattrDataValue("missing", file), std::nullopt);
  ASSERT_TRUE(setXAttrDataValue({}, "empty", file));
  EXPECT_EQ(xattrDataValue("empty", file), Bytes());
  Bytes binary = {0, 'a', 0xFF, 0};
  ASSERT_TRUE(setXAttrDataValue(binary, "com.quillet.identifier", file));
  ASSERT_TRUE(setXAttrDataValue(Bytes{2}, "probe", file));

  fs::create_symlink("file", scratch.path("link"));
  std::map<std::string, Bytes> expected = {{"com.quillet.identifier", binary}, {"empty", {}}, {"probe", {2}}};
  EXPECT_EQ(extendedAttributes(scratch.path("link")), expected);

  EXPECT_TRUE(extendedAttributes(scratch.path("missing")).empty());
  EXPECT_FALSE(setXAttrDataValue(Bytes{1}, "key", scratch.path("missing")));
}

TEST(FileManagerTest, TrashHoldsItsOwnFolderAndEverythingBelow) {
  ScratchDirectory scratch;
  ScopedEnvironment data("XDG_DATA_HOME", scratch.path("data").c_str());
  fs::create_directories(scratch.path("data/Trash/files/Old Folder"));
  fs::create_directory_symlink(scratch.path("data/Trash/files"), scratch.path("shortcut"));

  EXPECT_TRUE(isPathInTrash(scratch.path("data/Trash")));
  EXPECT_TRUE(isPathInTrash(scratch.path("data/Trash/files/Old Folder/not yet there.txt")));
  EXPECT_TRUE(isPathInTrash(scratch.path("shortcut/Old Folder")));
  EXPECT_FALSE(isPathInTrash(scratch.path("data")));
  EXPECT_FALSE(isPathInTrash(scratch.path("data/Trashcan/x")));

  // Only at the top of a volume do these folders hold a trash.
  std::string uid = std::to_string(getuid());
  fs::create_directories(scratch.path(".Trash-" + uid + "/files"));
  fs::create_directories(scratch.path(".Trash/" + uid + "/files"));
  EXPECT_FALSE(isPathInTrash(scratch.path(".Trash-" + uid + "/files")));
  EXPECT_FALSE(isPathInTrash(scratch.path(".Trash/" + uid + "/files")));

  ScopedEnvironment relative("XDG_DATA_HOME", "data");
  ScopedEnvironment home("HOME", scratch.path("home").c_str());
  EXPECT_TRUE(isPathInTrash(scratch.path("home/.local/share/Trash/files/x")));
  EXPECT_FALSE(isPathInTrash(scratch.path("data/Trash/files")));
}

TEST(FileManagerTest, CloudDriveIsWhatTheUserDefaultNames) {
  ScratchDirectory scratch;
  ScopedEnvironment config("XDG_CONFIG_HOME", scratch.path("config").c_str());
  UserDefaults& defaults = UserDefaults::standard();
  fs::create_directory(scratch.path("Cloud"));
  EXPECT_FALSE(isPathInCloudDrive(scratch.path("Cloud/file")));

  ASSERT_TRUE(defaults.setObject(PropertyListArray{scratch.path("Cloud/"), "relative", 7}, kCloudDriveRootsKey));
  EXPECT_TRUE(isPathInCloudDrive(scratch.path("Cloud")));
  EXPECT_TRUE(isPathInCloudDrive(scratch.path("Cloud/sub/../file")));
  EXPECT_FALSE(isPathInCloudDrive(scratch.path("CloudOther/file")));
  EXPECT_FALSE(isPathInCloudDrive("relative/file"));
  EXPECT_TRUE(defaults.removeObjectForKey(kCloudDriveRootsKey));
}

}  // namespace
}  // namespace qlt
