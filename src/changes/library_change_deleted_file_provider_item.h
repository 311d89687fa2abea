#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/date.h"
#include "platform/foundation/error.h"
#include "platform/objectstore/managed_object.h"

namespace qlt {

class ManagedObjectContext;

// A file-provider item that left the library by other means than the
// extension's own requests (entity "DeletedFileProviderItem"), waiting to be
// reported once by change enumeration.
class LibraryChangeDeletedFileProviderItem : public ManagedObject {
 public:
  using Ptr = std::shared_ptr<LibraryChangeDeletedFileProviderItem>;

  // A new row dated now; nothing is saved.
  static Ptr deletedFileProviderItem(const std::string& identifier, ManagedObjectContext& context);

  // Reports and removes the rows of `context`: every row, or with
  // `afterDate` only those deleted later than it. The fetched rows are
  // deleted and the context saved. nullopt with the error when the fetch
  // (nothing removed) or the save (deletions left unsaved in the context)
  // fails. REQUIRES: called inside the context's queue.
  [[nodiscard]] static std::optional<std::vector<std::string>> consumeDeletedItemIdentifiers(
      ManagedObjectContext& context, const std::optional<Date>& afterDate, Error* error = nullptr);

  std::string fileProviderItemIdentifier() const;
  [[nodiscard]] std::optional<Date> dateDeleted() const;
};

}  // namespace qlt
