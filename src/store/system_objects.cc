#include "store/system_objects.h"

#include <cstdint>
#include <map>

#include "store/library_model_constants.h"

namespace qlt {

std::string systemObjectIdentifier(const std::string& entityName) {
  return entityName == kCloudDefaultsEntityName ? kCloudDefaultsIdentifier : entityName;
}

std::optional<int64_t> groupTypeForEntity(const std::string& entityName) {
  static const std::map<std::string, int64_t> codes = {
      {kLibraryGroupEntityName, kLibraryGroupType},   {kRecentsGroupEntityName, kRecentsGroupType},
      {kFavoriteItemsGroupEntityName, kFavoriteItemsGroupType}, {kRootFolderEntityName, kRootFolderGroupType},
      {kTrashFolderEntityName, kTrashFolderGroupType}, {kFolderEntityName, kFolderGroupType},
      {kBundleEntityName, kBundleGroupType},           {kLabelEntityName, kLabelGroupType},
      {kTagEntityName, kTagGroupType},                 {kSearchGroupEntityName, kSearchGroupType},
      {kSharedFolderEntityName, kSharedFolderGroupType}, {kUnfiledGroupEntityName, kUnfiledGroupType},
      {kNoLabelGroupEntityName, kNoLabelGroupType}};
  auto found = codes.find(entityName);
  if (found == codes.end()) return std::nullopt;
  return found->second;
}

}  // namespace qlt
