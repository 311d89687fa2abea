#include "changes/library_changes_model.h"

#include <mutex>

#include "changes/library_change_deleted_file_provider_item.h"
#include "changes/library_change_deleted_record.h"
#include "changes/library_change_record.h"
#include "changes/library_change_set.h"
#include "platform/foundation/log.h"
#include "platform/objectstore/managed_object_classes.h"

namespace qlt {

namespace {

std::shared_ptr<const ManagedObjectModel> buildLibraryChangesModel() {
  ModelBuilder builder(kLibraryChangesModelName);
  builder.entity(kChangeSetEntityName)
      .attribute("date", AttributeType::Date).indexed().done()
      .attribute("identifier", AttributeType::String).indexed().done()
      // 0: pending; 1: handed to the cloud upload.
      .attribute("status", AttributeType::Number).defaultValue(0).done()
      .relationship("changeRecords", kChangeRecordEntityName).toMany().inverse("changeSet").cascade();
  builder.entity(kChangeRecordEntityName)
      // 0 insert, 1 update, 2 delete.
      .attribute("changeType", AttributeType::Integer64).defaultValue(0).done()
      .attribute("recordIDData", AttributeType::Binary).done()
      .attribute("recordName", AttributeType::String).indexed().done()
      .attribute("changedKeyNames", AttributeType::String).done()
      .relationship("changeSet", kChangeSetEntityName).inverse("changeRecords");
  builder.entity(kDeletedFileProviderItemEntityName)
      .attribute("fileProviderItemIdentifier", AttributeType::String).indexed().done()
      .attribute("dateDeleted", AttributeType::Date).indexed();
  builder.entity(kDeletedRecordEntityName)
      .attribute("recordName", AttributeType::String).indexed().done()
      .attribute("dateRecordDeleted", AttributeType::Date).indexed();
  Error error;
  std::shared_ptr<const ManagedObjectModel> model = builder.build(&error);
  if (!model) log("Cannot build the library changes model: %@", error.description());
  return model;
}

}  // namespace

void registerLibraryChangesClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    ManagedObjectClasses::add<LibraryChangeSet>(kLibraryChangesModelName, kChangeSetEntityName);
    ManagedObjectClasses::add<LibraryChangeRecord>(kLibraryChangesModelName, kChangeRecordEntityName);
    ManagedObjectClasses::add<LibraryChangeDeletedFileProviderItem>(kLibraryChangesModelName,
                                                                    kDeletedFileProviderItemEntityName);
    ManagedObjectClasses::add<LibraryChangeDeletedRecord>(kLibraryChangesModelName, kDeletedRecordEntityName);
  });
}

std::shared_ptr<const ManagedObjectModel> libraryChangesModel() {
  registerLibraryChangesClasses();
  static const std::shared_ptr<const ManagedObjectModel> model = buildLibraryChangesModel();
  return model;
}

}  // namespace qlt
