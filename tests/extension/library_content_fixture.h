#pragma once

#include <memory>
#include <string>

#include "changes/library_change_set.h"
#include "extension/extension_environment.h"
#include "platform/cloud/cloud_container.h"
#include "platform/cloud/embedded_cloud_container.h"
#include "platform/files/file_path.h"
#include "extension/file_provider_enumerator.h"
#include "platform/fileprovider/file_provider_enumeration.h"
#include "model/folder.h"
#include "model/item.h"
#include "platform/files/file_system.h"
#include "store/library_manager.h"
#include "platform/objectstore/managed_object_context.h"

namespace qlt {

// Keeps what one page of an enumeration delivered.
struct PageRecorder : FileProviderEnumerationObserver {
  explicit PageRecorder(int64_t pageSize) : pageSize(pageSize) {}
  int64_t suggestedPageSize() const override { return pageSize; }
  void didEnumerateItems(const std::vector<FileProviderItemPtr>& received) override {
    for (const auto& item : received) names.push_back(item->filename());
  }
  void finishEnumeratingUpToPage(const std::optional<Bytes>& page) override {
    finished = true;
    nextPage = page;
  }
  void finishEnumeratingWithError(const Error& failure) override { error = failure; }

  int64_t pageSize;
  std::vector<std::string> names;
  std::optional<Bytes> nextPage;
  bool finished = false;
  std::optional<Error> error;
};

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

  bool exists(const ManagedObjectPtr& object) {
    auto reader = LibraryManager::sharedManager()->newBackgroundContext();
    bool found = false;
    reader->performAndWait([&] {
      auto reread = reader->existingObjectWithID(object->objectID());
      found = reread && !reread->isDeleted();
    });
    return found;
  }

  // A cloud store of this test's own, installed for the container.
  std::shared_ptr<EmbeddedCloudContainer> installCloud() {
    cloud_ = EmbeddedCloudContainer::open(kCloudContainerName, appendingPathComponent(scratch_.path(), "cloud"));
    EXPECT_TRUE(cloud_->ensureZone(CloudDatabaseScope::Private, LibraryManager::libraryZoneID()));
    installed_ = std::make_unique<ScopedCloudContainer>(kCloudContainerName, cloud_);
    return cloud_;
  }

  // Status of every change set, and the number of their records.
  std::pair<std::vector<LibraryChangeSetStatus>, size_t> changeSets() {
    std::vector<LibraryChangeSetStatus> statuses;
    size_t records = 0;
    auto changes = extension_->changesManagerContext();
    changes->performAndWait([&] {
      std::vector<ManagedObjectPtr> sets = changes->fetch(FetchRequest("ChangeSet")).value_or(std::vector<ManagedObjectPtr>{});
      for (const ManagedObjectPtr& object : sets) {
        auto set = std::dynamic_pointer_cast<LibraryChangeSet>(object);
        statuses.push_back(set->status());
        records += set->changeRecords().size();
      }
    });
    return {statuses, records};
  }

  std::shared_ptr<ManagedObjectContext> context_;
  std::shared_ptr<EmbeddedCloudContainer> cloud_;
  std::unique_ptr<ScopedCloudContainer> installed_;
  Folder::Ptr root_;
  Folder::Ptr trash_;
};

}  // namespace qlt
