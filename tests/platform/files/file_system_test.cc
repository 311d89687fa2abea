#include "platform/files/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/files/extended_attributes.h"
#include "platform/files/file_attributes.h"
#include "platform/files/file_error.h"
#include "support/scratch_directory.h"

namespace qlt {
namespace {

using Names = std::vector<std::string>;

bool sameTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

TEST(FileSystemTest, ExtendedAttributesRoundTrip) {
  ScratchDirectory scratch;
  std::string file = scratch.path("f");
  ASSERT_TRUE(writeFileAtomically(file, "x"));
  EXPECT_EQ(extendedAttributeNames(file), Names());
  std::string binary("\0\xff\x01z", 4);
  ASSERT_TRUE(setExtendedAttribute(file, "com.x.a", binary));
  ASSERT_TRUE(setExtendedAttribute(file, "user.com.x.b", std::string(3000, 'v')));
  EXPECT_EQ(extendedAttributeNames(file), Names({"com.x.a", "com.x.b"}));
  EXPECT_EQ(extendedAttribute(file, "user.com.x.a"), binary);
  EXPECT_EQ(extendedAttribute(file, "com.x.b"), std::string(3000, 'v'));
  std::string huge(1 << 20, 'h');
  Error error;
  if (!setExtendedAttribute(file, "com.x.huge", huge, &error)) EXPECT_EQ(error.domain(), kPOSIXErrorDomain);
  else EXPECT_EQ(extendedAttribute(file, "com.x.huge"), huge);
  ASSERT_TRUE(removeExtendedAttribute(file, "com.x.a"));
  EXPECT_TRUE(removeExtendedAttribute(file, "com.x.a"));
  EXPECT_EQ(extendedAttribute(file, "com.x.a", &error), std::nullopt);
  EXPECT_EQ(error.code(), ENODATA);

  ASSERT_TRUE(setExtendedAttribute(scratch.path(), "dir", "d"));
  EXPECT_EQ(extendedAttribute(scratch.path(), "dir"), "d");
  EXPECT_EQ(extendedAttributeNames(scratch.path("missing"), &error), std::nullopt);
  EXPECT_EQ(error.code(), ENOENT);
  EXPECT_FALSE(setExtendedAttribute(file, "", "v", &error));
  EXPECT_FALSE(setExtendedAttribute(scratch.path("missing"), "a", "v"));
}

TEST(FileSystemTest, DatesKeepNanosecondsAndCreationDate) {
  ScratchDirectory scratch;
  std::string file = scratch.path("f");
  ASSERT_TRUE(writeFileAtomically(file, "12345"));
  auto fresh = attributesOfItem(file);
  ASSERT_TRUE(fresh);
  EXPECT_EQ(fresh->size, 5u);
  EXPECT_EQ(fresh->type, FileAttributes::Type::Regular);
  EXPECT_LE(fresh->creationDate(), fresh->modificationDate());
  EXPECT_LT(Date::now().timeIntervalSince(fresh->creationDate()), 60);
  EXPECT_FALSE(fresh->extensionHidden);
  EXPECT_EQ(fresh->typeCode, 0u);
  EXPECT_EQ(fresh->creatorCode, 0u);

  struct timespec modified {1700000000, 123456789}, accessed {1600000000, 1}, created {1500000000, 999999999};
  ASSERT_TRUE(setModificationTime(file, modified));
  ASSERT_TRUE(setAccessTime(file, accessed));
  ASSERT_TRUE(setCreationTime(file, created));
  ASSERT_TRUE(setExtensionHidden(file, true));
  ASSERT_TRUE(setTypeCode(file, fourCharCode("TEXT")));
  ASSERT_TRUE(setCreatorCode(file, fourCharCode("QLT ")));
  auto read = attributesOfItem(file);
  ASSERT_TRUE(read);
  EXPECT_TRUE(sameTime(read->modificationTime, modified));
  EXPECT_TRUE(sameTime(read->accessTime, accessed));
  EXPECT_TRUE(sameTime(read->creationTime, created));
  EXPECT_TRUE(read->extensionHidden);
  EXPECT_EQ(read->typeCode, 0x54455854u);
  EXPECT_EQ(read->creatorCode, fourCharCode("QLT "));
  ASSERT_TRUE(setExtensionHidden(file, false) && setTypeCode(file, 0));
  EXPECT_EQ(extendedAttributeNames(file)->size(), 2u);

  Error error;
  EXPECT_FALSE(setModificationTime(file, {1, 1000000000}, &error));
  EXPECT_FALSE(setPosixPermissions(file, 010000, &error));
  EXPECT_EQ(attributesOfItem(scratch.path("missing"), &error), std::nullopt);
  EXPECT_TRUE(error.is(kCocoaErrorDomain, kCocoaFileNoSuchFileError));
  ASSERT_NE(error.underlyingError(), nullptr);
  EXPECT_TRUE(error.underlyingError()->is(kPOSIXErrorDomain, ENOENT));
}

TEST(FileSystemTest, WritingCopyingMovingAndRemoving) {
  ScratchDirectory scratch;
  std::string tree = scratch.path("Note.qltnote");
  ASSERT_TRUE(createDirectory(tree + "/Sub/Deeper", true));
  EXPECT_TRUE(createDirectory(tree + "/Sub", true));
  Error error;
  EXPECT_FALSE(createDirectory(tree + "/Sub", false, &error));
  EXPECT_EQ(error.code(), kCocoaFileWriteFileExistsError);
  EXPECT_TRUE(isPackage(tree));
  EXPECT_FALSE(isPackage(tree + "/Sub"));

  std::string file = tree + "/Sub/text.txt";
  ASSERT_TRUE(writeFileAtomically(file, "old"));
  ASSERT_TRUE(setPosixPermissions(file, 0600));
  ASSERT_TRUE(writeFileAtomically(file, "new contents"));
  EXPECT_EQ(readFile(file), "new contents");
  EXPECT_EQ(attributesOfItem(file)->posixPermissions, 0600u);
  EXPECT_EQ(contentsOfDirectory(tree + "/Sub"), Names({"Deeper", "text.txt"}));
  EXPECT_FALSE(writeFileAtomically(scratch.path("none/x"), "x", &error));
  EXPECT_EQ(error.code(), kCocoaFileNoSuchFileError);
  ASSERT_TRUE(setExtendedAttribute(file, "com.x.tag", "t"));
  ASSERT_TRUE(setCreationTime(file, {1400000000, 5}));
  ASSERT_EQ(symlink("text.txt", (tree + "/Sub/link").c_str()), 0);
  ASSERT_TRUE(setModificationTime(tree + "/Sub", {1300000000, 7}));

  std::string copy = scratch.path("Copy.qltnote");
  ASSERT_TRUE(copyItem(tree, copy, &error)) << error.description();
  EXPECT_EQ(readFile(copy + "/Sub/link"), "new contents");
  EXPECT_EQ(extendedAttribute(copy + "/Sub/text.txt", "com.x.tag"), "t");
  auto copied = attributesOfItem(copy + "/Sub/text.txt");
  EXPECT_TRUE(sameTime(copied->creationTime, {1400000000, 5}));
  EXPECT_TRUE(sameTime(copied->modificationTime, attributesOfItem(file)->modificationTime));
  EXPECT_EQ(copied->posixPermissions, 0600u);
  EXPECT_TRUE(sameTime(attributesOfItem(copy + "/Sub")->modificationTime, {1300000000, 7}));
  EXPECT_FALSE(copyItem(tree, copy, &error));
  EXPECT_EQ(error.code(), kCocoaFileWriteFileExistsError);
  EXPECT_FALSE(copyItem(tree, tree + "/Sub/Inside"));
  EXPECT_FALSE(fileExists(tree + "/Sub/Inside"));

  EXPECT_FALSE(moveItem(copy, tree, &error));
  EXPECT_EQ(error.code(), kCocoaFileWriteFileExistsError);
  ASSERT_TRUE(moveItem(copy, scratch.path("Moved")));
  EXPECT_FALSE(fileExists(copy));
  ASSERT_TRUE(replaceItem(tree, scratch.path("Moved")));
  EXPECT_FALSE(fileExists(scratch.path("Moved")));
  EXPECT_EQ(readFile(tree + "/Sub/text.txt"), "new contents");
  ASSERT_TRUE(writeFileAtomically(scratch.path("New"), "newer"));
  EXPECT_FALSE(replaceExistingItem(scratch.path("Gone"), scratch.path("New"), &error));
  EXPECT_EQ(error.code(), kCocoaFileNoSuchFileError);
  EXPECT_FALSE(fileExists(scratch.path("Gone")));
  ASSERT_TRUE(replaceExistingItem(tree + "/Sub/text.txt", scratch.path("New")));
  EXPECT_EQ(readFile(tree + "/Sub/text.txt"), "newer");
  EXPECT_FALSE(fileExists(scratch.path("New")));
  ASSERT_TRUE(removeItem(tree));
  EXPECT_FALSE(removeItem(tree, &error));
  EXPECT_EQ(error.code(), kCocoaFileNoSuchFileError);
  EXPECT_EQ(contentsOfDirectory(scratch.path()), Names());
}

}  // namespace
}  // namespace qlt
