#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/cloud/cloud_record.h"
#include "platform/foundation/date.h"
#include "platform/objectstore/managed_object.h"

namespace qlt {

class ManagedObjectContext;

// A cloud record deleted by the host application (entity "DeletedRecord").
class LibraryChangeDeletedRecord : public ManagedObject {
 public:
  using Ptr = std::shared_ptr<LibraryChangeDeletedRecord>;

  // A new row with the identifier's record name, dated now; nothing is
  // saved.
  static Ptr deletedRecord(const RecordID& recordID, ManagedObjectContext& context);

  std::string recordName() const;
  [[nodiscard]] std::optional<Date> dateRecordDeleted() const;
};

}  // namespace qlt
