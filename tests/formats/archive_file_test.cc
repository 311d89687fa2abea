#include "formats/archive_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/files/file_attributes.h"
#include "platform/files/file_system.h"
#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/property_list_serialization.h"
#include "support/scratch_directory.h"

namespace qlt {
namespace {

namespace fs = std::filesystem;

void writeText(const std::string& path, const std::string& text) { ASSERT_TRUE(writeFileAtomically(path, text)); }

std::vector<std::string> entries(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(directory))
    names.push_back(entry.path().native().substr(directory.size() + 1));
  std::sort(names.begin(), names.end());
  return names;
}

TEST(ArchiveFileTest, NestedPackageRoundTripsWithContentsDatesAndFlags) {
  ScratchDirectory scratch;
  std::string source = scratch.path("Report.rtfd");
  ASSERT_TRUE(createDirectory(source + "/sub/inner", true));
  ASSERT_TRUE(createDirectory(source + "/empty", false));
  writeText(source + "/TXT.rtf", std::string("bytes\0\x01\xff", 8));
  writeText(source + "/sub/inner/deep.txt", "deep");
  writeText(source + "/Icon\r", "icon");
  fs::create_symlink("sub/inner/deep.txt", source + "/link");
  timespec created{1000000000, 250000000}, modified{1200000000, 500000000}, inner{1100000000, 0};
  ASSERT_TRUE(setModificationTime(source + "/sub/inner/deep.txt", inner));
  ASSERT_TRUE(setCreationTime(source, created));
  ASSERT_TRUE(setModificationTime(source, modified));
  ASSERT_TRUE(setExtensionHidden(source, true));
  ASSERT_TRUE(setTypeCode(source, fourCharCode("RTFD")));
  ASSERT_TRUE(setCreatorCode(source, fourCharCode("QLTx")));

  Error error;
  auto archive = ArchiveFile::withURL(source, &error);
  ASSERT_TRUE(archive) << error.description();
  EXPECT_EQ(archive->originalFileExtension(), "rtfd");
  ASSERT_TRUE(archive->writeArchiveToURL(scratch.path("X.qltarchive"), &error)) << error.description();

  // The root object is the class named in the format, on top of NSObject.
  auto bytes = readFile(scratch.path("X.qltarchive"));
  auto list = parsePropertyList(reinterpret_cast<const uint8_t*>(bytes->data()), bytes->size());
  ASSERT_TRUE(list);
  bool foundClass = false;
  for (const PropertyList& object : *list->find("$objects")->array())
    if (auto name = object.find("$classname"); name && *name->string() == "QLTArchiveFile")
      foundClass = *object.find("$classes") == PropertyList(PropertyListArray{"QLTArchiveFile", "NSObject"});
  EXPECT_TRUE(foundClass);

  auto read = ArchiveFile::archiveFromFileAtURL(scratch.path("X.qltarchive"), &error);
  ASSERT_TRUE(read) << error.description();
  EXPECT_EQ(read->fileTypeCode(), fourCharCode("RTFD"));
  EXPECT_EQ(read->fileCreatorCode(), fourCharCode("QLTx"));
  ASSERT_TRUE(createDirectory(scratch.path("out"), false));
  std::string restored = scratch.path("out/Restored.rtfd");
  ASSERT_TRUE(read->writeToURL(restored, &error)) << error.description();

  EXPECT_EQ(entries(restored), (std::vector<std::string>{"TXT.rtf", "empty", "link", "sub", "sub/inner",
                                                         "sub/inner/deep.txt"}));
  EXPECT_EQ(*readFile(restored + "/TXT.rtf"), std::string("bytes\0\x01\xff", 8));
  EXPECT_EQ(fs::read_symlink(restored + "/link").native(), "sub/inner/deep.txt");
  EXPECT_EQ(*readFile(restored + "/link"), "deep");
  auto root = attributesOfItem(restored);
  ASSERT_TRUE(root);
  auto seconds = [](const timespec& time) { return Date::fromTimespec(time).timeIntervalSinceReferenceDate(); };
  EXPECT_NEAR(seconds(root->creationTime), seconds(created), 1e-5);
  EXPECT_NEAR(seconds(root->modificationTime), seconds(modified), 1e-5);
  EXPECT_TRUE(root->extensionHidden);
  EXPECT_EQ(root->typeCode, fourCharCode("RTFD"));
  EXPECT_EQ(root->creatorCode, fourCharCode("QLTx"));
  EXPECT_EQ(attributesOfItem(restored + "/sub/inner/deep.txt")->modificationTime.tv_sec, inner.tv_sec);
}

TEST(ArchiveFileTest, PlainFileWithoutCodesAndFailedRestore) {
  ScratchDirectory scratch;
  writeText(scratch.path("a.txt"), "text");
  auto archive = ArchiveFile::withURL(scratch.path("a.txt"));
  ASSERT_TRUE(archive);
  EXPECT_EQ(archive->fileTypeCode(), 0u);
  ASSERT_TRUE(archive->writeToURL(scratch.path("b.txt")));
  EXPECT_EQ(*readFile(scratch.path("b.txt")), "text");
  EXPECT_EQ(attributesOfItem(scratch.path("b.txt"))->typeCode, 0u);
  EXPECT_FALSE(attributesOfItem(scratch.path("b.txt"))->extensionHidden);

  Error error;
  EXPECT_FALSE(archive->writeToURL(scratch.path("missing/b.txt"), &error));
  EXPECT_TRUE(error.is(kArchiveFileErrorDomain, kArchiveFileRestoreErrorCode));
  EXPECT_EQ(error.localizedDescription(), "Unable to restore file.");
  EXPECT_FALSE(ArchiveFile::withURL(scratch.path("nothing"), &error));
  EXPECT_EQ(error.code(), kCocoaFileNoSuchFileError);
}

TEST(ArchiveFileTest, RestoringOverALinkReplacesTheLinkNotItsTarget) {
  ScratchDirectory scratch;
  ASSERT_TRUE(createDirectory(scratch.path("victim"), false));
  ASSERT_TRUE(createDirectory(scratch.path("tree/d"), true));
  fs::create_symlink(scratch.path("victim"), scratch.path("dest"));
  auto archive = ArchiveFile::withURL(scratch.path("tree"));
  ASSERT_TRUE(archive && archive->writeToURL(scratch.path("dest")));
  EXPECT_TRUE(entries(scratch.path("victim")).empty());
  EXPECT_FALSE(fs::is_symlink(scratch.path("dest")));
  EXPECT_TRUE(fs::is_directory(scratch.path("dest/d")));
}

// Stand-ins that write whatever a hostile archive might hold.
struct FakeWrapper : Codable {
  std::string type = "directory";
  ArchiveObject contents;
  std::string destination;
  ArchiveDictionary children;
  std::string className() const override { return "NSFileWrapper"; }
  void encode(KeyedArchiver& archiver) const override {
    archiver.encodeString("type", type);
    if (!contents.isNil()) archiver.encodeObject("contents", contents);
    if (!destination.empty()) archiver.encodeString("destination", destination);
    if (type == "directory") archiver.encodeObject("children", ArchiveObject(children));
  }
};

struct FakeArchive : Codable {
  ArchiveObject wrapper;
  ArchiveObject typeCode;
  std::string className() const override { return "QLTArchiveFile"; }
  void encode(KeyedArchiver& archiver) const override {
    archiver.encodeObject("dataWrapper", wrapper);
    archiver.encodeBool("fileExtensionHidden", false);
    if (!typeCode.isNil()) archiver.encodeObject("fileTypeCode", typeCode);
  }
};

std::shared_ptr<FakeWrapper> file(std::string text = "x") {
  auto wrapper = std::make_shared<FakeWrapper>();
  wrapper->type = "file";
  wrapper->contents = Bytes(text.begin(), text.end());
  return wrapper;
}

std::shared_ptr<FakeWrapper> link(std::string destination) {
  auto wrapper = std::make_shared<FakeWrapper>();
  wrapper->type = "link";
  wrapper->destination = std::move(destination);
  return wrapper;
}

std::shared_ptr<FakeWrapper> folder(std::vector<std::pair<std::string, std::shared_ptr<Codable>>> children) {
  auto wrapper = std::make_shared<FakeWrapper>();
  for (auto& [name, child] : children)
    wrapper->children.entries.emplace_back(ArchiveObject(name), ArchiveObject(child));
  return wrapper;
}

// Our archiver refuses cycles, so one is made by pointing a folder's only
// child back at the folder.
Bytes folderContainingItself() {
  auto root = std::make_shared<FakeArchive>();
  root->wrapper = ArchiveObject(folder({{"self", file()}}));
  auto list = parsePropertyList(*KeyedArchiver::archivedData(ArchiveObject(root)));
  PropertyListArray& objects = *(*list->dictionary())["$objects"].array();
  for (size_t folderUID = 0; folderUID < objects.size(); ++folderUID) {
    const PropertyList* children = objects[folderUID].find("children");
    if (!children) continue;
    PropertyList& dictionary = objects[children->uid()->value];
    (*(*dictionary.dictionary())["NS.objects"].array())[0] = PropertyListUID{folderUID};
  }
  return *serializePropertyList(*list, PropertyListFormat::Binary);
}

TEST(ArchiveFileTest, HostileArchivesAreRefusedWithNothingWritten) {
  auto nested = folder({{"inner", folder({{"../../escape", file()}})}});
  auto shared = file();
  auto textContents = file();
  textContents->contents = "not data";
  auto unknown = file();
  unknown->type = "fifo";
  auto arrayChildren = std::make_shared<FakeArchive>();
  arrayChildren->wrapper = ArchiveObject::dictionary({});
  auto badCode = std::make_shared<FakeArchive>();
  badCode->wrapper = ArchiveObject(std::shared_ptr<Codable>(file()));
  badCode->typeCode = "TEXT";
  auto hugeCode = std::make_shared<FakeArchive>();
  hugeCode->wrapper = ArchiveObject(std::shared_ptr<Codable>(file()));
  hugeCode->typeCode = 1LL << 40;

  std::vector<std::pair<const char*, ArchiveObject>> cases = {
      {"dot-dot name", ArchiveObject(folder({{"..", file()}}))},
      {"climbing name", ArchiveObject(std::shared_ptr<Codable>(nested))},
      {"absolute name", ArchiveObject(folder({{"/tmp/qlt-escape", file()}}))},
      {"name with slash", ArchiveObject(folder({{"link/through", file()}, {"link", link("sub")}}))},
      {"empty name", ArchiveObject(folder({{"", file()}}))},
      {"dot name", ArchiveObject(folder({{".", file()}}))},
      {"NUL name", ArchiveObject(folder({{std::string("a\0b", 3), file()}}))},
      {"link out", ArchiveObject(folder({{"l", link("../../outside")}}))},
      {"absolute link", ArchiveObject(folder({{"l", link("/etc")}}))},
      {"link at the top", ArchiveObject(std::shared_ptr<Codable>(link("sibling")))},
      {"shared wrapper", ArchiveObject(folder({{"a", shared}, {"b", shared}}))},
      {"text contents", ArchiveObject(std::shared_ptr<Codable>(textContents))},
      {"unknown type", ArchiveObject(std::shared_ptr<Codable>(unknown))},
      {"no wrapper", ArchiveObject()},
      {"wrapper of wrong class", ArchiveObject("a string")},
  };
  std::vector<std::pair<const char*, std::shared_ptr<Codable>>> roots = {
      {"dictionary as wrapper", arrayChildren}, {"code as string", badCode}, {"code too big", hugeCode}};
  for (auto& [name, wrapper] : cases) {
    auto root = std::make_shared<FakeArchive>();
    root->wrapper = wrapper;
    roots.emplace_back(name, root);
  }
  roots.emplace_back("root of another class", folder({}));

  std::vector<std::pair<const char*, Bytes>> archives;
  for (auto& [name, root] : roots) {
    Error error;
    auto bytes = KeyedArchiver::archivedData(ArchiveObject(root), true, &error);
    ASSERT_TRUE(bytes) << name << error.description();
    archives.emplace_back(name, std::move(*bytes));
  }
  archives.emplace_back("cycle", folderContainingItself());

  for (auto& [name, bytes] : archives) {
    SCOPED_TRACE(name);
    ScratchDirectory scratch;
    Error error;
    ASSERT_TRUE(writeFileAtomically(scratch.path("x.qltarchive"), std::string(bytes.begin(), bytes.end())));
    EXPECT_FALSE(ArchiveFile::archiveFromFileAtURL(scratch.path("x.qltarchive"), &error));
    EXPECT_EQ(error.domain(), kCocoaErrorDomain);
    EXPECT_EQ(error.code(), kCocoaCoderReadCorruptError) << error.description();
    EXPECT_EQ(entries(scratch.path()), std::vector<std::string>{"x.qltarchive"});
  }
}

TEST(ArchiveFileTest, GarbageFilesFailWithTheReadOrDecodeError) {
  ScratchDirectory scratch;
  writeText(scratch.path("tree.txt"), "hello");
  auto archive = ArchiveFile::withURL(scratch.path("tree.txt"));
  ASSERT_TRUE(archive && archive->writeArchiveToURL(scratch.path("good.qltarchive")));
  std::string good = *readFile(scratch.path("good.qltarchive"));

  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 7919) >> 3);
  for (const std::string& contents : {std::string(), garbage, good.substr(0, good.size() / 2), std::string("bplist00"),
                                      std::string("<plist><dict/></plist>")}) {
    writeText(scratch.path("bad.qltarchive"), contents);
    Error error;
    EXPECT_FALSE(ArchiveFile::archiveFromFileAtURL(scratch.path("bad.qltarchive"), &error));
    EXPECT_EQ(error.domain(), kCocoaErrorDomain);
    EXPECT_EQ(error.code(), kCocoaCoderReadCorruptError);
  }
  Error error;
  EXPECT_FALSE(ArchiveFile::archiveFromFileAtURL(scratch.path("absent.qltarchive"), &error));
  EXPECT_EQ(error.code(), kCocoaFileNoSuchFileError);
}

}  // namespace
}  // namespace qlt
