#include "model/folder_item_hooks.h"

namespace qlt {

FolderItemHooks& FolderItemHooks::installed() {
  static FolderItemHooks hooks;
  return hooks;
}

}  // namespace qlt
