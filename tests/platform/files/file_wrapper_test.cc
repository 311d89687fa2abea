#include "platform/files/file_wrapper.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files/file_attributes.h"
#include "platform/files/file_system.h"
#include "support/scratch_directory.h"

namespace qlt {
namespace {

using Names = std::vector<std::string>;

std::unique_ptr<FileWrapper> sampleTree() {
  auto root = FileWrapper::directory();
  auto note = FileWrapper::directory();
  auto text = FileWrapper::regularFile(std::string("{\\rtf1}\0", 8));
  text->attributes().modificationTime = timespec{1700000000, 123456789};
  text->attributes().creationTime = timespec{1600000000, 42};
  text->attributes().posixPermissions = 0640;
  text->attributes().extensionHidden = true;
  text->attributes().typeCode = fourCharCode("RTF ");
  EXPECT_TRUE(note->addChild("TXT.rtf", std::move(text)));
  EXPECT_TRUE(note->addChild("Empty", FileWrapper::directory()));
  note->attributes().modificationTime = timespec{1500000000, 5};
  EXPECT_TRUE(root->addChild("Note.qltnote", std::move(note)));
  EXPECT_TRUE(root->addChild("link", FileWrapper::symbolicLink("Note.qltnote/TXT.rtf")));
  return root;
}

TEST(FileWrapperTest, NestedTreeRoundTripsWithAttributes) {
  ScratchDirectory scratch;
  std::string path = scratch.path("Out");
  for (bool atomically : {true, false}) {
    Error error;
    if (atomically) {
      ASSERT_TRUE(writeFileAtomically(path, "an older item"));
    }
    ASSERT_TRUE(sampleTree()->writeToPath(path, atomically, &error)) << error.description();
    auto read = FileWrapper::readFromPath(path, &error);
    ASSERT_TRUE(read) << error.description();
    EXPECT_EQ(read->filename(), "Out");
    ASSERT_TRUE(read->isDirectory());
    FileWrapper* note = read->child("Note.qltnote");
    ASSERT_TRUE(note && note->isDirectory());
    EXPECT_EQ(note->preferredFilename(), "Note.qltnote");
    EXPECT_EQ(note->attributes().modificationTime->tv_nsec, 5);
    EXPECT_TRUE(note->child("Empty") && note->child("Empty")->children().empty());
    FileWrapper* text = note->child("TXT.rtf");
    ASSERT_TRUE(text && text->isRegularFile());
    EXPECT_EQ(text->regularFileContents(), std::string("{\\rtf1}\0", 8));
    const FileWrapper::Attributes& attributes = text->attributes();
    EXPECT_EQ(attributes.modificationTime->tv_sec, 1700000000);
    EXPECT_EQ(attributes.modificationTime->tv_nsec, 123456789);
    EXPECT_EQ(attributes.creationTime->tv_nsec, 42);
    EXPECT_EQ(attributes.posixPermissions, 0640u);
    EXPECT_TRUE(attributes.extensionHidden);
    EXPECT_EQ(attributes.typeCode, fourCharCode("RTF "));
    EXPECT_EQ(attributes.creatorCode, 0u);
    ASSERT_TRUE(read->child("link") && read->child("link")->isSymbolicLink());
    EXPECT_EQ(read->child("link")->symbolicLinkDestination(), "Note.qltnote/TXT.rtf");
    EXPECT_EQ(contentsOfDirectory(scratch.path()), Names({"Out"}));
  }
}

TEST(FileWrapperTest, HostileNamesAndLinksAreRefusedBeforeWriting) {
  ScratchDirectory scratch;
  auto root = FileWrapper::directory();
  for (std::string name : {"..", ".", "a/b", "", "/abs"}) {
    Error error;
    EXPECT_FALSE(root->addChild(name, FileWrapper::regularFile("x"), &error)) << name;
    EXPECT_EQ(error.code(), 514) << name;
  }
  EXPECT_FALSE(root->addChild(std::string("a\0b", 3), FileWrapper::regularFile("x")));
  EXPECT_FALSE(FileWrapper::regularFile("x")->addChild("a", FileWrapper::regularFile("y")));
  EXPECT_TRUE(root->children().empty());

  ASSERT_TRUE(writeFileAtomically(scratch.path("Out"), "keep"));
  for (const char* destination : {"../../etc/passwd", "/etc/passwd", "a/../../b"}) {
    auto tree = FileWrapper::directory();
    EXPECT_TRUE(tree->addChild("fine", FileWrapper::regularFile("x")));
    EXPECT_TRUE(tree->addChild("sub", FileWrapper::directory()));
    EXPECT_TRUE(tree->child("sub")->addChild("escape", FileWrapper::symbolicLink(destination)));
    for (bool atomically : {true, false}) {
      EXPECT_FALSE(tree->writeToPath(scratch.path("Out"), atomically)) << destination;
      EXPECT_FALSE(tree->writeToPath(scratch.path("New"), atomically)) << destination;
    }
  }
  EXPECT_FALSE(FileWrapper::regularFile("x")->writeToPath(scratch.path(".."), true));
  EXPECT_EQ(readFile(scratch.path("Out")), "keep");
  EXPECT_EQ(contentsOfDirectory(scratch.path()), Names({"Out"}));
}

TEST(FileWrapperTest, ReadingSkipsEscapingLinksAndSpecialFiles) {
  ScratchDirectory scratch;
  std::string dir = scratch.path("In");
  ASSERT_TRUE(createDirectory(dir, false) && writeFileAtomically(dir + "/file.txt", "text"));
  ASSERT_EQ(symlink("file.txt", (dir + "/ok").c_str()), 0);
  ASSERT_EQ(symlink("/etc", (dir + "/absolute").c_str()), 0);
  ASSERT_EQ(symlink("../In/file.txt", (dir + "/up").c_str()), 0);
  ASSERT_EQ(mkfifo((dir + "/fifo").c_str(), 0600), 0);
  auto read = FileWrapper::readFromPath(dir);
  ASSERT_TRUE(read);
  Names names;
  for (const auto& [name, child] : read->children()) names.push_back(name);
  EXPECT_EQ(names, Names({"file.txt", "ok"}));
  Error error;
  EXPECT_EQ(FileWrapper::readFromPath(scratch.path("missing"), &error), nullptr);
  EXPECT_EQ(error.code(), kCocoaFileNoSuchFileError);
}

}  // namespace
}  // namespace qlt
