#include "model/model_classes.h"

#include <gtest/gtest.h>

#include "model/item.h"
#include "model/label.h"
#include "model/root_folder.h"
#include "model_fixture.h"

namespace qlt {
namespace {

class ModelClassesTest : public ::testing::Test, public ModelFixture {};

TEST_F(ModelClassesTest, FetchedObjectsHaveTheirClasses) {
  registerLibraryModelClasses();
  auto item = context->insertNewObject("Item");
  auto label = context->insertNewObject("Label");
  auto folder = context->insertNewObject("Folder");
  ASSERT_TRUE(context->save());
  EXPECT_TRUE(reread<Item>(item));
  EXPECT_TRUE(reread<Label>(label));
  EXPECT_TRUE(reread<LibraryObject>(folder));
  EXPECT_FALSE(reread<RootFolder>(folder));
  EXPECT_TRUE(reread<RootFolder>(LibraryObject::libraryObject(*context, "RootFolder", "RootFolder")));
  EXPECT_TRUE(reread<Library>(LibraryObject::libraryObject(*context, "Library", "Library")));
}

TEST_F(ModelClassesTest, CustomFolderLocationIsThePathTheManagerReads) {
  ASSERT_TRUE(library);
  view().performAndWait([&] {
    auto root = std::dynamic_pointer_cast<RootFolder>(library->objectForKey("rootFolder"));
    std::string path = scratch.path("Custom Files é");
    std::filesystem::create_directory(path);
    root->setCustomFolderURL(path);
    EXPECT_EQ(root->customFolderURL(), path);
    EXPECT_TRUE(manager->checkFilesLocation());
    root->setCustomFolderURL(scratch.path("missing"));
    EXPECT_FALSE(manager->checkFilesLocation());
    root->setCustomFolderURL(std::nullopt);
    EXPECT_FALSE(root->customFolderURL());
    EXPECT_TRUE(manager->checkFilesLocation());
  });
}

}  // namespace
}  // namespace qlt
