#include "richtext/markdown_style.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/defaults/user_defaults.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/objectstore/managed_object_context.h"
#include "store/library_fixture.h"

namespace qlt {
namespace {

struct StyleClassesRegistered {
  StyleClassesRegistered() { registerMarkdownStyleClasses(); }
};

class MarkdownStyleTest : public ::testing::Test, private StyleClassesRegistered, public LibraryFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library) << loadError.description();
    context = manager->newBackgroundContext();
    libraryObject = LibraryObject::libraryObject(*context, "Library", "Library");
    ASSERT_TRUE(libraryObject);
  }
  void TearDown() override {
    MarkdownStyle::setResourcesDirectory(std::nullopt);
    for (const char* key : {kMarkdownEditorStyleNameKey, kMarkdownPreviewStyleNameKey})
      (void)UserDefaults::standard().removeObjectForKey(key);
  }
  std::shared_ptr<MarkdownStyle> make(const MarkdownStyleKind& kind, const std::string& filename,
                                      const std::string& contents = "body {}") {
    std::string source = scratch.path(filename);
    std::ofstream(source) << contents;
    Error error;
    auto style = MarkdownStyle::styleWithFileAtPath(kind, source, libraryObject, &error);
    EXPECT_TRUE(style) << error.description();
    return style;
  }
  std::string chosen(const char* key) { return UserDefaults::standard().stringForKey(key).value_or(""); }

  std::shared_ptr<ManagedObjectContext> context;
  ManagedObjectPtr libraryObject;
};

TEST_F(MarkdownStyleTest, AStyleFileIsKeptUnderItsIdentifier) {
  auto dark = make(kMarkdownEditorStyleKind, "Dark.style", "dark");
  ASSERT_TRUE(dark);
  EXPECT_EQ(dark->name(), "Dark");
  EXPECT_EQ(dark->exportFileName(), "Dark.style");
  std::string expected = manager->libraryFilePath() + "/Markdown Editor Styles/" + dark->identifier() + ".style";
  EXPECT_EQ(dark->fileURL(), expected);
  EXPECT_EQ(readFile(expected), std::optional<std::string>("dark"));

  Error error;
  EXPECT_FALSE(MarkdownStyle::styleWithFileAtPath(kMarkdownEditorStyleKind, scratch.path("missing.style"),
                                                  libraryObject, &error));
  EXPECT_EQ(context->fetch(FetchRequest("MarkdownEditorStyle"))->size(), 1u) << "a failed copy leaves no style";
}

TEST_F(MarkdownStyleTest, TheChosenStyleSettingFollowsRenamesAndDeletions) {
  auto dark = make(kMarkdownEditorStyleKind, "Dark.style");
  auto light = make(kMarkdownEditorStyleKind, "Light.style");
  ASSERT_TRUE(UserDefaults::standard().setString("Dark", kMarkdownEditorStyleNameKey));
  light->setName("Bright");
  EXPECT_EQ(chosen(kMarkdownEditorStyleNameKey), "Dark");
  dark->setName("Midnight");
  EXPECT_EQ(chosen(kMarkdownEditorStyleNameKey), "Midnight");
  dark->setName("");
  EXPECT_EQ(dark->name(), "Midnight");

  std::string file = *light->fileURL();
  context->deleteObject(light);
  EXPECT_EQ(chosen(kMarkdownEditorStyleNameKey), "Midnight") << "another style's deletion";
  EXPECT_FALSE(fileExists(file));
  context->deleteObject(dark);
  EXPECT_FALSE(UserDefaults::standard().objectForKey(kMarkdownEditorStyleNameKey));
}

TEST_F(MarkdownStyleTest, NamesAreMadeUniqueAmongStylesOfTheirKind) {
  auto first = make(kMarkdownPreviewStyleKind, "Paper.css");
  auto second = make(kMarkdownPreviewStyleKind, "Other.css");
  auto editor = make(kMarkdownEditorStyleKind, "Taken.style");
  std::string name = "Paper";
  EXPECT_TRUE(second->validateName(name));
  EXPECT_EQ(name, "Paper 1");
  auto third = make(kMarkdownPreviewStyleKind, "Paper 1.css");
  name = "Paper";
  EXPECT_TRUE(second->validateName(name));
  EXPECT_EQ(name, "Paper 2");
  name = " \n ";
  EXPECT_TRUE(second->validateName(name));
  EXPECT_EQ(name, "Other");
  name = "Taken";
  EXPECT_TRUE(second->validateName(name));
  EXPECT_EQ(name, "Taken") << "editor styles are another kind";
}

TEST_F(MarkdownStyleTest, UserStylesTakeThePlaceOfBuiltInOnes) {
  std::string resources = scratch.path("Resources");
  ASSERT_TRUE(createDirectory(resources, true));
  for (const char* name : {"Default.css", "Lightweight.css", "Other.css", "Solarized.style"})
    std::ofstream(resources + "/" + name) << name;
  MarkdownStyle::setResourcesDirectory(resources);
  auto mine = make(kMarkdownPreviewStyleKind, "Default.css");
  std::map<std::string, std::string> previews = MarkdownStyle::styleFilePathsByName(kMarkdownPreviewStyleKind, *context);
  EXPECT_EQ(previews.size(), 2u);
  EXPECT_EQ(previews["Default"], *mine->fileURL());
  EXPECT_EQ(previews["Lightweight"], resources + "/Lightweight.css");
  std::map<std::string, std::string> editors = MarkdownStyle::styleFilePathsByName(kMarkdownEditorStyleKind, *context);
  EXPECT_EQ(editors, (std::map<std::string, std::string>{{"Solarized", resources + "/Solarized.style"}}));
}

TEST_F(MarkdownStyleTest, TheFileTravelsInTheCloudRecord) {
  auto style = make(kMarkdownPreviewStyleKind, "Print.css", "print-css");
  CloudRecord record = style->cloudRecord();
  const CloudValue* asset = record.objectForKey(kMarkdownPreviewStyleFileAssetKey);
  ASSERT_TRUE(asset && asset->asset());
  std::string copy = scratch.path("downloaded.css");
  ASSERT_TRUE(copyItem(asset->asset()->filePath, copy));
  record.setObjectForKey(kMarkdownPreviewStyleFileAssetKey, CloudAsset{copy});

  ASSERT_TRUE(writeFileAtomically(*style->fileURL(), "older local contents"));
  style->updateFromCloudRecord(record);
  EXPECT_EQ(readFile(*style->fileURL()), std::optional<std::string>("print-css"));
}

}  // namespace
}  // namespace qlt
