#include "model/item_group.h"

#include "model/folder.h"
#include "platform/foundation/localized_strings.h"
#include "platform/foundation/log.h"
#include "platform/objectstore/managed_object_context.h"

namespace qlt {

void ItemGroup::updateFromCloudRecord(const CloudRecord& record) {
  CloudRecord applied = record;
  const CloudValue* parent = record.objectForKey("parent");
  ManagedObjectContext* context = managedObjectContext();
  if (context && parent && parent->reference()) {
    auto destination =
        std::dynamic_pointer_cast<Folder>(libraryObjectForCloudRecordID(*context, parent->reference()->recordID));
    Error refusal;
    if (destination && !canMoveToFolder(*destination, &refusal)) {
      log("Bundle: %@ cannot move to folder: %@ Error: %@", identifier(), destination->identifier(), refusal);
      if (std::shared_ptr<Folder> current = parentFolder()) {
        applied.setObjectForKey("parent", CloudValue(CloudReference{current->cloudRecordID(), CloudReferenceAction::None}));
      } else {
        applied.removeObjectForKey("parent");
      }
    }
  }
  LibraryObject::updateFromCloudRecord(applied);
}

std::string Bundle::untitledFolderName() { return localizedString("Untitled Bundle"); }

void Bundle::awakeFromInsert() {
  ItemGroup::awakeFromInsert();
  setValueForKey("name", untitledFolderName());
}

bool Bundle::canMoveToFolder(const Folder& destination, Error* error) const {
  if (!Group::canMoveToFolder(destination, error)) return false;
  if (destination.isShared()) {
    setError(error, Error(kBundleErrorDomain, kBundleCannotMoveToSharedFolderErrorCode,
                          localizedString("Cannot move to shared folder.")));
    return false;
  }
  return true;
}

bool Bundle::moveToFolder(const std::shared_ptr<Folder>& destination, Error* error) {
  if (!destination) return false;
  if (!destination->isTrashFolder()) return Group::moveToFolder(destination, error);
  if (ManagedObjectContext* context = managedObjectContext()) context->deleteObject(shared_from_this());
  return true;
}

std::string LibraryGroup::name() const { return localizedString("All Items"); }

void LibraryGroup::awakeFromInsert() {
  ItemGroup::awakeFromInsert();
  setValueForKey("favorite", true);
  setValueForKey("favoriteOrder", int64_t{10});
  setValueForKey("listViewMode", int64_t{1});
}

void LibraryGroup::awakeFromFetch() {
  ItemGroup::awakeFromFetch();
  Value mode = valueForKey("listViewMode");
  if (!mode.integer() || *mode.integer() == 0) setValueForKey("listViewMode", int64_t{1});
}

}  // namespace qlt
