#include "util/file_snapshot.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "platform/files/extended_attributes.h"
#include "support/scratch_directory.h"

namespace qlt {
namespace {

TEST(FileSnapshotTest, ReadsTheFileALinkNamesAndNothingForMissingOrDanglingOnes) {
  ScratchDirectory scratch;
  std::string file = scratch.path("note.txt");
  std::ofstream(file) << "text";
  const struct timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 250000000}};
  ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  if (!setExtendedAttribute(file, "com.apple.metadata:_kMDItemUserTags", "tags") ||
      !setExtendedAttribute(file, "user.com.quillet.identifier", std::string("id\0x", 4)))
    GTEST_SKIP() << "no user extended attributes here";
  std::string link = scratch.path("link");
  ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);

  for (const std::string& path : {file, link}) {
    FileSnapshot snapshot = snapshotOfFile(path);
    ASSERT_TRUE(snapshot.exists) << path;
    EXPECT_EQ(snapshot.modificationTime.tv_sec, 1700000000);
    EXPECT_EQ(snapshot.modificationTime.tv_nsec, 250000000);
    EXPECT_EQ(snapshot.extendedAttributes.size(), 2u);
    EXPECT_EQ(snapshot.extendedAttribute("com.apple.metadata:_kMDItemUserTags"), (Bytes{'t', 'a', 'g', 's'}));
    EXPECT_EQ(snapshot.extendedAttribute("user.com.quillet.identifier"), (Bytes{'i', 'd', 0, 'x'}));
    EXPECT_FALSE(snapshot.extendedAttribute("com.quillet.missing"));
  }

  std::string dangling = scratch.path("dangling");
  ASSERT_EQ(::symlink(scratch.path("gone").c_str(), dangling.c_str()), 0);
  for (const std::string& path : {dangling, scratch.path("missing"), std::string()}) {
    FileSnapshot snapshot = snapshotOfFile(path);
    EXPECT_FALSE(snapshot.exists) << path;
    EXPECT_TRUE(snapshot.extendedAttributes.empty()) << path;
  }
}

}  // namespace
}  // namespace qlt
