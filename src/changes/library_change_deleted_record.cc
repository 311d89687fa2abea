#include "changes/library_change_deleted_record.h"

#include "changes/library_changes_model.h"
#include "platform/objectstore/managed_object_context.h"

namespace qlt {

LibraryChangeDeletedRecord::Ptr LibraryChangeDeletedRecord::deletedRecord(const RecordID& recordID,
                                                                          ManagedObjectContext& context) {
  auto row = std::dynamic_pointer_cast<LibraryChangeDeletedRecord>(context.insertNewObject(kDeletedRecordEntityName));
  if (!row) return nullptr;
  row->setValueForKey("recordName", recordID.recordName);
  row->setValueForKey("dateRecordDeleted", Date::now());
  return row;
}

std::string LibraryChangeDeletedRecord::recordName() const {
  Value value = valueForKey("recordName");
  return value.string() ? *value.string() : std::string();
}

std::optional<Date> LibraryChangeDeletedRecord::dateRecordDeleted() const {
  Value value = valueForKey("dateRecordDeleted");
  return value.date() ? std::optional<Date>(*value.date()) : std::nullopt;
}

}  // namespace qlt
