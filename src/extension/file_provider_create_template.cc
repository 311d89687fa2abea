// FileProviderCreateOperation: the template's values applied to what it made.
#include "extension/file_provider_create_operation.h"
#include "extension/file_provider_item_values.h"
#include "model/finder_tags.h"
#include "model/folder.h"
#include "model/item.h"
#include "model/tag.h"
#include "platform/files/file_attributes.h"
#include "platform/foundation/log.h"
#include "platform/foundation/property_list_serialization.h"
#include "store/library.h"
#include "util/file_manager.h"

namespace qlt {
namespace {

void setFileDates(const std::string& path, const FileProviderItem& itemTemplate, uint64_t fields) {
  if ((fields & kFileProviderItemCreationDate) && itemTemplate.creationDate())
    (void)setCreationTime(path, itemTemplate.creationDate()->toTimespec());
  if ((fields & kFileProviderItemContentModificationDate) && itemTemplate.contentModificationDate())
    (void)setModificationTime(path, itemTemplate.contentModificationDate()->toTimespec());
  if ((fields & kFileProviderItemLastUsedDate) && itemTemplate.lastUsedDate())
    (void)setAccessTime(path, itemTemplate.lastUsedDate()->toTimespec());
}

}  // namespace

void FileProviderCreateOperation::applyTemplateToFolder(const Folder& folder) const {
  std::optional<std::string> directory = folder.folderPath();
  if (!directory) return;
  if (has(kFileProviderItemTagData)) {
    std::optional<Bytes> data = template_->tagData();
    const_cast<Folder&>(folder).setValueForKey("fileProviderTagData", data ? Value(*data) : Value());
    std::optional<std::vector<std::string>> names =
        data && !data->empty() ? Tag::tagNamesFromFileProviderTagData(*data) : std::nullopt;
    Error failure;
    if (names && !names->empty() && !setFinderTagNames(*directory, *names, &failure))
      log("Cannot update Finder tags on local folder: %@", failure);
  }
  setFileDates(*directory, *template_, fields_);
  if (has(kFileProviderItemExtendedAttributes))
    for (const auto& [key, value] : template_->extendedAttributes()) (void)setXAttrDataValue(value, key, *directory);
}

void FileProviderCreateOperation::applyTemplateToItem(Item& item) {
  std::optional<std::string> path = item.fileURL();
  if (has(kFileProviderItemCreationDate) && template_->creationDate()) item.setDateCreated(*template_->creationDate());
  if (has(kFileProviderItemContentModificationDate) && template_->contentModificationDate())
    item.setDateModified(*template_->contentModificationDate());
  if (has(kFileProviderItemLastUsedDate) && template_->lastUsedDate())
    item.setValueForKey("dateAccessed", *template_->lastUsedDate());
  if (path) setFileDates(*path, *template_, fields_);

  if (has(kFileProviderItemTagData)) {
    std::optional<Bytes> data = template_->tagData();
    item.setValueForKey("fileProviderTagData", data ? Value(*data) : Value());
    if (data && !data->empty()) {
      std::vector<std::string> names = Tag::tagNamesFromFileProviderTagData(*data).value_or(std::vector<std::string>());
      Error failure;
      if (!names.empty() && path && !setFinderTagNames(*path, names, &failure))
        log("Cannot update Finder tags on local item: %@", failure);
      setItemTagsFromFileProviderTagData(item, *data, library(), insertedTagRecordIDs_);
    }
  }

  if (has(kFileProviderItemExtendedAttributes)) applyExtendedAttributesToItem(item, template_->extendedAttributes(), path);

  if (has(kFileProviderItemFileSystemFlags))
    item.setExtensionHidden((template_->fileSystemFlags() & kFileProviderFileSystemHidesExtension) != 0);

  if (has(kFileProviderItemTypeAndCreator) && template_->typeAndCreator())
    applyTypeAndCreatorToItem(item, *template_->typeAndCreator(), path);
}

}  // namespace qlt
