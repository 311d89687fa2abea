// FileProviderCreateOperation: the template's values applied to what it made.
#include "extension/file_provider_create_operation.h"
#include "extension/file_provider_item_values.h"
#include "model/finder_tags.h"
#include "model/folder.h"
#include "model/item.h"
#include "model/tag.h"
#include "platform/files/file_attributes.h"
#include "platform/files/file_error.h"
#include "platform/foundation/log.h"
#include "platform/foundation/property_list_serialization.h"
#include "store/library.h"
#include "util/file_manager.h"

namespace qlt {
namespace {

bool setFileDates(const std::string& path, const FileProviderItem& itemTemplate, uint64_t fields, Error* error) {
  if ((fields & kFileProviderItemCreationDate) && itemTemplate.creationDate() &&
      !setCreationTime(path, itemTemplate.creationDate()->toTimespec(), error))
    return false;
  if ((fields & kFileProviderItemContentModificationDate) && itemTemplate.contentModificationDate() &&
      !setModificationTime(path, itemTemplate.contentModificationDate()->toTimespec(), error))
    return false;
  return !(fields & kFileProviderItemLastUsedDate) || !itemTemplate.lastUsedDate() ||
         setAccessTime(path, itemTemplate.lastUsedDate()->toTimespec(), error);
}

bool setTagNames(const std::string& path, const std::vector<std::string>& names, Error* error) {
  Error failure;
  if (setFinderTagNames(path, names, &failure)) return true;
  log("Cannot set Finder tags on %@: %@", path, failure);
  setError(error, failure.domain() == kPOSIXErrorDomain ? fileWriteError(static_cast<int>(failure.code()), path) : failure);
  return false;
}

}  // namespace

bool FileProviderCreateOperation::applyTemplateToFolder(const Folder& folder, Error* error) const {
  std::optional<std::string> directory = folder.folderPath();
  if (!directory) return true;
  if (has(kFileProviderItemTagData)) {
    std::optional<Bytes> data = template_->tagData();
    const_cast<Folder&>(folder).setValueForKey("fileProviderTagData", data ? Value(*data) : Value());
    std::optional<std::vector<std::string>> names =
        data && !data->empty() ? Tag::tagNamesFromFileProviderTagData(*data) : std::nullopt;
    if (names && !names->empty() && !setTagNames(*directory, *names, error)) return false;
  }
  if (!setFileDates(*directory, *template_, fields_, error)) return false;
  if (has(kFileProviderItemExtendedAttributes))
    for (const auto& [key, value] : template_->extendedAttributes())
      if (!storeServiceAttribute(*directory, key, value, error)) return false;
  return true;
}

bool FileProviderCreateOperation::applyTemplateToItem(Item& item, Error* error) {
  std::optional<std::string> path = item.fileURL();
  if (has(kFileProviderItemCreationDate) && template_->creationDate()) item.setDateCreated(*template_->creationDate());
  if (has(kFileProviderItemContentModificationDate) && template_->contentModificationDate())
    item.setDateModified(*template_->contentModificationDate());
  if (has(kFileProviderItemLastUsedDate) && template_->lastUsedDate())
    item.setValueForKey("dateAccessed", *template_->lastUsedDate());
  if (path && !setFileDates(*path, *template_, fields_, error)) return false;

  if (has(kFileProviderItemTagData)) {
    std::optional<Bytes> data = template_->tagData();
    item.setValueForKey("fileProviderTagData", data ? Value(*data) : Value());
    if (data && !data->empty()) {
      std::vector<std::string> names = Tag::tagNamesFromFileProviderTagData(*data).value_or(std::vector<std::string>());
      if (!names.empty() && path && !setTagNames(*path, names, error)) return false;
      setItemTagsFromFileProviderTagData(item, *data, library(), insertedTagRecordIDs_);
    }
  }

  if (has(kFileProviderItemExtendedAttributes) &&
      !applyExtendedAttributesToItem(item, template_->extendedAttributes(), path, error))
    return false;

  if (has(kFileProviderItemFileSystemFlags))
    item.setExtensionHidden((template_->fileSystemFlags() & kFileProviderFileSystemHidesExtension) != 0);

  return !has(kFileProviderItemTypeAndCreator) || !template_->typeAndCreator() ||
         applyTypeAndCreatorToItem(item, *template_->typeAndCreator(), path, error);
}

}  // namespace qlt
