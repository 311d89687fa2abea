#include "model/cloud_share.h"

#include "model/folder.h"
#include "store/library_manager.h"

namespace qlt {

std::optional<RecordSystemFields> decodedCloudShare(const ManagedObject& object) {
  Value data = object.valueForKey("cloudShareData");
  if (!data.data() || data.data()->empty()) return std::nullopt;
  return RecordSystemFields::fromArchivedData(*data.data());
}

void storeCloudShare(ManagedObject& object, const std::optional<RecordSystemFields>& share) {
  if (share) {
    object.setValueForKey("cloudShareRecordName", share->recordID.recordName);
    object.setValueForKey("cloudShareData", share->archivedData());
  } else {
    object.setValueForKey("cloudShareRecordName", Value());
    object.setValueForKey("cloudShareData", Value());
  }
}

bool isShareOwnedByCurrentUser(const RecordSystemFields& share) {
  return share.recordID.zoneID == LibraryManager::libraryZoneID();
}

bool isItemLocalRecord(const ManagedObject& item) {
  if (auto share = decodedCloudShare(item)) return isShareOwnedByCurrentUser(*share);
  auto folder = std::dynamic_pointer_cast<Folder>(item.objectForKey("folder"));
  return folder && folder->isLocalRecord();
}

}  // namespace qlt
