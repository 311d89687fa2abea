#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "model/folder.h"
#include "model/item.h"
#include "model_fixture.h"

namespace qlt {

// A loaded library with its system folders at hand, and makers of folders
// and items in the fixture's context.
class FolderFixture : public ::testing::Test, public ModelFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(library) << loadError.description();
    libraryObject = LibraryObject::libraryObject(*context, "Library", "Library");
    ASSERT_TRUE(libraryObject);
    root = std::dynamic_pointer_cast<RootFolder>(libraryObject->objectForKey("rootFolder"));
    trash = std::dynamic_pointer_cast<TrashFolder>(libraryObject->objectForKey("trashFolder"));
    shared = std::dynamic_pointer_cast<SharedFolder>(libraryObject->objectForKey("sharedFolder"));
    libraryGroup = std::dynamic_pointer_cast<Group>(LibraryObject::libraryObject(*context, "LibraryGroup", "LibraryGroup"));
    ASSERT_TRUE(root && trash && shared && libraryGroup);
  }

  Folder::Ptr make(const Folder::Ptr& parent, const std::string& name) {
    Error error;
    Folder::Ptr folder = parent->createSubfolder(name, &error);
    EXPECT_TRUE(folder) << error.description();
    return folder;
  }
  // An item named `filename` placed in `folder` (no file is written).
  std::shared_ptr<Item> item(const Folder::Ptr& folder, const std::string& filename) {
    auto created = std::dynamic_pointer_cast<Item>(context->insertNewObject("Item"));
    created->setValueForKey("filename", filename);
    created->setValueForKey("name", filename);
    created->setObjectForKey("folder", folder);
    return created;
  }

  ManagedObjectPtr libraryObject;
  std::shared_ptr<RootFolder> root;
  std::shared_ptr<TrashFolder> trash;
  std::shared_ptr<SharedFolder> shared;
  std::shared_ptr<Group> libraryGroup;
};

}  // namespace qlt
