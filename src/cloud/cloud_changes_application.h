#pragma once

#include <string>
#include <utility>
#include <vector>

#include "cloud/pending_cloud_changes.h"
#include "platform/cloud/cloud_record.h"
#include "store/library_object.h"

namespace qlt {

class ManagedObjectContext;

// Turns the records and deletions fetched from the library zone into
// library state in one context, as the host application's sync does:
//
// - a record the library holds the same values of is left alone (the
//   library's own uploads come back so);
// - a record of an object with pending local changes is merged first: the
//   local values of the changed names stay unless the server changed them
//   more recently, and the object's next upload sends them;
// - items keep their files: renamed or moved with the item, and set aside
//   as versions when the item's content changed on the server; the new
//   content is downloaded when the item is opened (download status 0; 5
//   when the record carries no file);
// - a deletion deletes the object with what it owns, and leaves a
//   deleted-item row per folder and item for the file-provider service.
//
// Nothing is saved: the caller saves the context, and the rows.
class CloudChangesApplication {
 public:
  CloudChangesApplication(ManagedObjectContext& context, const PendingCloudChanges& pending)
      : context_(context), pending_(pending) {}

  // Containers first; within a rank the server's order, which is the order
  // the records were sent in (outer folders first).
  static std::vector<CloudRecord> sortedForApplication(std::vector<CloudRecord> records);

  // REQUIRES: inside the context. Records of one call may refer to each
  // other; those of earlier calls exist by then.
  void applyRecords(const std::vector<CloudRecord>& records);
  void applyDeletions(const std::vector<RecordID>& recordIDs);

  size_t appliedCount() const { return applied_; }
  size_t unchangedCount() const { return unchanged_; }
  size_t deletedCount() const { return deleted_; }
  // File-provider identifiers of the folders and items deleted.
  const std::vector<std::string>& deletedItemIdentifiers() const { return deletedItemIdentifiers_; }

 private:
  void applyRecord(const CloudRecord& record);

  std::vector<std::pair<LibraryObject::Ptr, CloudRecord>> newObjects_;

  ManagedObjectContext& context_;
  const PendingCloudChanges& pending_;
  size_t applied_ = 0;
  size_t unchanged_ = 0;
  size_t deleted_ = 0;
  std::vector<std::string> deletedItemIdentifiers_;
};

}  // namespace qlt
