#pragma once

#include <memory>
#include <string>

#include "extension/extension_environment.h"
#include "extension/file_provider_enumerator.h"
#include "model/folder.h"
#include "model/item.h"
#include "platform/files/file_system.h"
#include "store/library_manager.h"
#include "platform/objectstore/managed_object_context.h"

namespace qlt {

// A loaded extension and a background context of its library in which
// tests make folders and items (with files) at chosen change dates.
class LibraryContentTest : public ExtensionTest {
 protected:
  void SetUp() override {
    loadedExtension();
    context_ = LibraryManager::sharedManager()->newBackgroundContext();
    context_->performAndWait([&] {
      auto library = context_->fetch(FetchRequest("Library")).value().front();
      root_ = library->objectForKey("rootFolder")->as<Folder>();
      trash_ = library->objectForKey("trashFolder")->as<Folder>();
    });
  }

  Folder::Ptr folder(const Folder::Ptr& parent, const std::string& name, double changed) {
    Folder::Ptr made;
    context_->performAndWait([&] {
      made = parent->createSubfolder(name);
      made->setDateRecordChanged(Date(changed));
      EXPECT_TRUE(context_->save());
    });
    return made;
  }

  std::shared_ptr<Item> item(const Folder::Ptr& parent, const std::string& filename, double modified, double changed,
                             bool withFile = true) {
    std::shared_ptr<Item> made;
    context_->performAndWait([&] {
      made = context_->insertNewObject("Item")->as<Item>();
      made->setValueForKey("filename", filename);
      made->setValueForKey("name", filename);
      made->setObjectForKey("folder", parent);
      made->setDateModified(Date(modified));
      made->setDateRecordChanged(Date(changed));
      if (withFile) {
        EXPECT_TRUE(writeFileAtomically(*made->fileURL(), "contents"));
      }
      EXPECT_TRUE(context_->save());
    });
    return made;
  }

  void touch(const ManagedObjectPtr& object, double changed) {
    context_->performAndWait([&] {
      object->as<LibraryObject>()->setDateRecordChanged(Date(changed));
      EXPECT_TRUE(context_->save());
    });
  }

  // The library keeps its records in the cloud and has stored them once.
  void makeCloudLibrary() {
    context_->performAndWait([&] {
      auto library = context_->fetch(FetchRequest("Library")).value().front();
      library->setValueForKey("storeInCloudDatabase", true);
      library->setValueForKey("firstCloudStoreCompleted", true);
      EXPECT_TRUE(context_->save());
    });
  }

  std::shared_ptr<FileProviderEnumerator> enumerator(const std::string& container) {
    Error error;
    auto made = extension_->enumeratorForContainerItemIdentifier(container, &error);
    EXPECT_TRUE(made) << error.description();
    return made;
  }

  std::string identifierOf(const ManagedObjectPtr& object) {
    std::string identifier;
    context_->performAndWait([&] { identifier = object->as<LibraryObject>()->fileProviderItemIdentifier(); });
    return identifier;
  }

  std::shared_ptr<ManagedObjectContext> context_;
  Folder::Ptr root_;
  Folder::Ptr trash_;
};

}  // namespace qlt
