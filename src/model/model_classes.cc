#include "model/model_classes.h"

#include <mutex>

#include "model/folder.h"
#include "model/group_classes.h"
#include "model/item.h"
#include "model/item_attachment.h"
#include "model/label.h"
#include "model/shared_item.h"
#include "model/stationery.h"
#include "model/tag.h"
#include "richtext/markdown_style.h"
#include "store/library_model.h"
#include "store/library_model_constants.h"
#include "platform/objectstore/managed_object_classes.h"

namespace qlt {

void registerLibraryModelClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    const std::string model = libraryModel()->name();
    ManagedObjectClasses::add<Item>(model, kItemEntityName);
    ManagedObjectClasses::add<SharedItem>(model, kSharedItemEntityName);
    ManagedObjectClasses::add<SharedFolderAttributes>(model, kSharedFolderAttributesEntityName);
    ManagedObjectClasses::add<Label>(model, kLabelEntityName);
    ManagedObjectClasses::add<Tag>(model, kTagEntityName);
    ManagedObjectClasses::add<Folder>(model, kFolderEntityName);
    ManagedObjectClasses::add<RootFolder>(model, kRootFolderEntityName);
    ManagedObjectClasses::add<TrashFolder>(model, kTrashFolderEntityName);
    ManagedObjectClasses::add<SharedFolder>(model, kSharedFolderEntityName);
    registerGroupClasses();
    ManagedObjectClasses::add<Stationery>(model, kStationeryEntityName);
    ManagedObjectClasses::add<ItemAttachment>(model, kItemAttachmentEntityName);
    ManagedObjectClasses::add<ItemTextInfo>(model, kItemTextInfoEntityName);
    registerMarkdownStyleClasses();
    registerLibraryObjectClasses();
  });
}

namespace {

class FolderAndTagModel final : public LibraryModelDelegate {
 public:
  bool folderExists(const ManagedObjectPtr& object) override {
    auto folder = std::dynamic_pointer_cast<Folder>(object);
    return folder && folder->folderExists();
  }
  bool createFolder(const ManagedObjectPtr& object, Error* error) override {
    auto folder = std::dynamic_pointer_cast<Folder>(object);
    return !folder || folder->createFolder(error);
  }
  void updateOrderedChildren(const ManagedObjectPtr& object) override {
    if (auto folder = std::dynamic_pointer_cast<Folder>(object)) folder->updateOrderedChildren();
  }
  void consolidateDuplicateTagNames(ManagedObjectContext& context) override {
    Tag::consolidateDuplicateTagNames(context);
  }
};

}  // namespace

std::shared_ptr<LibraryModelDelegate> libraryModelDelegate() {
  static const auto model = std::make_shared<FolderAndTagModel>();
  return model;
}

}  // namespace qlt
