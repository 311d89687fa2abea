#include "model/folder.h"
#include "model/tag.h"
#include "model/finder_tags.h"
#include "platform/foundation/log.h"
#include "store/cloud_record_fields.h"
#include "platform/objectstore/managed_object_context.h"

namespace qlt {
namespace {

CloudValue referenceTo(const Folder& folder) {
  return CloudValue(CloudReference{folder.cloudRecordID(), CloudReferenceAction::None});
}

// The share of the folder right below the root of the tree holding
// `folder` (its top-level folder).
std::optional<RecordSystemFields> topLevelShare(const Folder& folder) {
  const Folder* current = &folder;
  Folder::Ptr holder;
  while (true) {
    Folder::Ptr parent = current->parentFolder();
    if (!parent) return std::nullopt;
    if (!parent->isPlainFolder()) return current->cloudShare();
    holder = parent;
    current = holder.get();
  }
}

}  // namespace

RecordID Folder::cloudRecordID() const {
  if (auto share = cloudShare()) return RecordID(cloudRecordName(), share->recordID.zoneID);
  if (isShared()) {
    if (auto share = topLevelShare(*this)) return RecordID(cloudRecordName(), share->recordID.zoneID);
  }
  return LibraryObject::cloudRecordID();
}

void Folder::updateRecordWithCurrentValues(CloudRecord& record) const {
  LibraryObject::updateRecordWithCurrentValues(record);
  Ptr parent = parentFolder();
  if (parent && parent->isPlainFolder()) {
    record.setParent(CloudReference{parent->cloudRecordID(), CloudReferenceAction::None});
  } else {
    record.setParent(std::nullopt);
  }
  record.setObjectForKey(kFolderCloudRecordDepthKey, CloudValue(static_cast<long long>(depth())));
}

void Folder::updateFromCloudRecord(const CloudRecord& record) {
  ManagedObjectContext* context = managedObjectContext();
  if (!context) return;
  if (isInserted() && valueForKey("cloudRecordData").isNull()) {
    LibraryObject::updateFromCloudRecord(record);
    if (parentFolder()) {
      Error error;
      if (!createFolder(&error)) log("Could not create folder: %@", error);
    }
    return;
  }

  CloudRecord applied = record;
  if (isPlainFolder()) {
    Ptr parent = parentFolder();
    Ptr destination;
    if (const CloudValue* reference = record.objectForKey("parent"); reference && reference->reference())
      destination = std::dynamic_pointer_cast<Folder>(libraryObjectForCloudRecordID(*context, reference->reference()->recordID));
    const CloudValue* nameValue = record.objectForKey("name");
    std::string newName = nameValue && nameValue->string() ? cleanedGroupName(*nameValue->string()) : name();
    bool renames = newName != name();
    bool moves = destination && destination != parent;
    auto keepParent = [&] {
      if (parent) applied.setObjectForKey("parent", referenceTo(*parent));
    };
    if (!destination) keepParent();
    Error error;
    if (renames && moves) {
      if (!moveToFolder(destination, newName, &error)) {
        log("Folder %@ with new name cannot move to folder %@ Error: %@", identifier(), destination->identifier(),
            error);
        keepParent();
      }
    } else if (renames) {
      if (!changeName(newName, &error)) log("Folder %@ cannot change name: %@", identifier(), error);
    } else if (moves) {
      if (!moveToFolder(destination, &error)) {
        log("Folder %@ cannot move to folder: %@ Error: %@", identifier(), destination->identifier(), error);
        keepParent();
      }
    }
    // Refused or done, the name stays the one the folder has now (after a
    // rename, the sanitized form its directory carries).
    if (renames) applied.setObjectForKey("name", CloudValue(name()));
  }

  if (auto attributes = std::dynamic_pointer_cast<LibraryObject>(objectForKey("sharedFolderAttributes"))) {
    CloudRecord own = attributes->cloudRecord();
    for (const char* key : {"favorite", "favoriteOrder"}) {
      if (const CloudValue* value = own.objectForKey(key)) {
        applied.setObjectForKey(key, *value);
      } else {
        applied.removeObjectForKey(key);
      }
    }
  }

  Value tagData = valueForKey("fileProviderTagData");
  if (tagData.data()) {
    auto names = Tag::tagNamesFromFileProviderTagData(*tagData.data());
    auto path = folderPath();
    Error error;
    if (names && path && !setFinderTagNames(*path, *names, &error))
      log("Cannot update Finder tags on folder: %@", error);
  }

  LibraryObject::updateFromCloudRecord(applied);
}

}  // namespace qlt
