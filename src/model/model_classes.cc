#include "model/model_classes.h"

#include <mutex>

#include "model/item.h"
#include "model/label.h"
#include "model/root_folder.h"
#include "store/library/library_model.h"
#include "store/library/library_model_constants.h"
#include "store/managed_object_classes.h"

namespace qlt {

void registerLibraryModelClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    const std::string model = libraryModel()->name();
    ManagedObjectClasses::add<Item>(model, kItemEntityName);
    ManagedObjectClasses::add<Label>(model, kLabelEntityName);
    ManagedObjectClasses::add<RootFolder>(model, kRootFolderEntityName);
    registerLibraryObjectClasses();
  });
}

}  // namespace qlt
