#include "changes/library_change_deleted_file_provider_item.h"

#include "changes/library_changes_model.h"
#include "platform/objectstore/fetch_request.h"
#include "platform/objectstore/managed_object_context.h"
#include "platform/objectstore/predicate.h"

namespace qlt {

LibraryChangeDeletedFileProviderItem::Ptr LibraryChangeDeletedFileProviderItem::deletedFileProviderItem(
    const std::string& identifier, ManagedObjectContext& context) {
  auto row = std::dynamic_pointer_cast<LibraryChangeDeletedFileProviderItem>(
      context.insertNewObject(kDeletedFileProviderItemEntityName));
  if (!row) return nullptr;
  row->setValueForKey("fileProviderItemIdentifier", identifier);
  row->setValueForKey("dateDeleted", Date::now());
  return row;
}

std::optional<std::vector<std::string>> LibraryChangeDeletedFileProviderItem::consumeDeletedItemIdentifiers(
    ManagedObjectContext& context, const std::optional<Date>& afterDate, Error* error) {
  FetchRequest request(kDeletedFileProviderItemEntityName);
  if (afterDate) {
    request.predicate = Predicate::withFormat("dateDeleted > %@", {*afterDate}, error);
    if (!request.predicate) return std::nullopt;
  }
  auto rows = context.fetch(request, error);
  if (!rows) return std::nullopt;
  std::vector<std::string> identifiers;
  for (const ManagedObjectPtr& row : *rows) {
    Value identifier = row->valueForKey("fileProviderItemIdentifier");
    if (identifier.string()) identifiers.push_back(*identifier.string());
  }
  if (rows->empty()) return identifiers;
  context.deleteObjects(*rows);
  if (!context.save(error)) return std::nullopt;
  return identifiers;
}

std::string LibraryChangeDeletedFileProviderItem::fileProviderItemIdentifier() const {
  Value value = valueForKey("fileProviderItemIdentifier");
  return value.string() ? *value.string() : std::string();
}

std::optional<Date> LibraryChangeDeletedFileProviderItem::dateDeleted() const {
  Value value = valueForKey("dateDeleted");
  return value.date() ? std::optional<Date>(*value.date()) : std::nullopt;
}

}  // namespace qlt
