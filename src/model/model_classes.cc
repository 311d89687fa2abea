#include "model/model_classes.h"

#include <mutex>

#include "model/folder.h"
#include "model/group_classes.h"
#include "model/item.h"
#include "model/label.h"
#include "model/tag.h"
#include "store/library_model.h"
#include "store/library_model_constants.h"
#include "store/library_model_hooks.h"
#include "platform/objectstore/managed_object_classes.h"

namespace qlt {

void registerLibraryModelClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    const std::string model = libraryModel()->name();
    ManagedObjectClasses::add<Item>(model, kItemEntityName);
    ManagedObjectClasses::add<Label>(model, kLabelEntityName);
    ManagedObjectClasses::add<Tag>(model, kTagEntityName);
    ManagedObjectClasses::add<Folder>(model, kFolderEntityName);
    ManagedObjectClasses::add<RootFolder>(model, kRootFolderEntityName);
    ManagedObjectClasses::add<TrashFolder>(model, kTrashFolderEntityName);
    ManagedObjectClasses::add<SharedFolder>(model, kSharedFolderEntityName);
    registerGroupClasses();
    LibraryModelHooks& hooks = LibraryModelHooks::installed();
    hooks.consolidateDuplicateTagNames = [](ManagedObjectContext& context) {
      Tag::consolidateDuplicateTagNames(context);
    };
    hooks.folderExists = [](const ManagedObjectPtr& object) {
      auto folder = std::dynamic_pointer_cast<Folder>(object);
      return folder && folder->folderExists();
    };
    hooks.createFolder = [](const ManagedObjectPtr& object, Error* error) {
      auto folder = std::dynamic_pointer_cast<Folder>(object);
      return !folder || folder->createFolder(error);
    };
    hooks.updateOrderedChildren = [](const ManagedObjectPtr& object) {
      if (auto folder = std::dynamic_pointer_cast<Folder>(object)) folder->updateOrderedChildren();
    };
    registerLibraryObjectClasses();
  });
}

}  // namespace qlt
