#include "model/group_classes.h"

#include <mutex>

#include "model/item_group.h"
#include "model/search_group.h"
#include "model/special_groups.h"
#include "store/library_model.h"
#include "store/library_model_constants.h"
#include "platform/objectstore/managed_object_classes.h"

namespace qlt {

void registerGroupClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    const std::string model = libraryModel()->name();
    ManagedObjectClasses::add<Group>(model, kGroupEntityName);
    ManagedObjectClasses::add<ItemGroup>(model, kItemGroupEntityName);
    ManagedObjectClasses::add<Bundle>(model, kBundleEntityName);
    ManagedObjectClasses::add<LibraryGroup>(model, kLibraryGroupEntityName);
    ManagedObjectClasses::add<RecentsGroup>(model, kRecentsGroupEntityName);
    ManagedObjectClasses::add<FavoriteItemsGroup>(model, kFavoriteItemsGroupEntityName);
    ManagedObjectClasses::add<UnfiledGroup>(model, kUnfiledGroupEntityName);
    ManagedObjectClasses::add<NoLabelGroup>(model, kNoLabelGroupEntityName);
    ManagedObjectClasses::add<SearchGroup>(model, kSearchGroupEntityName);
  });
}

}  // namespace qlt
