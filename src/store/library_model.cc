// The library data model.
//
// Annotation policy (values are always the exact strings "YES" or "NO"):
//
// - kEntityIsSystemObjectKey "YES" on the entities of which a library holds
//   exactly one object: Library, RootFolder, TrashFolder, SharedFolder,
//   LibraryGroup, RecentsGroup, FavoriteItemsGroup, NoLabelGroup,
//   UnfiledGroup and CloudDefaults.
// - kCloudRecordOrderingKey on every entity, so that records are uploaded
//   containers first: the library (0), its system groups and folders (10),
//   folders (20), labels and tags (30), other groups (40), stationery,
//   Markdown styles and cloud defaults (50), items (60), and what belongs to
//   an item or folder (attachments, text information, per-user records: 70).
// - State that belongs to this device or this copy of the library is left
//   out of cloud records and property lists (kExcludeFromCloudDatabaseKey
//   and kExcludeFromPropertyListKey "YES"): record bookkeeping
//   (cloudRecordData, dateRecordChanged), cloud shares and per-user record
//   names, file-provider state, transfer, metadata, indexing and
//   text-recognition progress, folder display state, and the library's
//   change tokens, download policy and per-device milestones.
// - Data that travels to the cloud another way is left out of the record
//   fields only: recognized text (an asset), the per-user records (they
//   point at their item or folder, not the reverse), and the mirror side of
//   a many-to-many pair (tag, item-group and incoming-link lists; the item
//   carries them).
// - Search results of search groups are computed locally: out of the cloud
//   and out of property lists on both sides.
// - kExcludeFromMetadataKey "YES" on every binary attribute (archives and
//   blobs mean nothing as metadata), on the encryption password, and on
//   every relationship except an item's folder, label and tags.
//
// Scalar attributes default to NO and 0 so that predicates never meet nil
// ("0 means still to do" for metadata and indexing states); Number
// attributes and the cloud defaults, where "absent" is a value of its own,
// have no default.

#include "store/library_model.h"

#include <string>
#include <type_traits>

#include "platform/foundation/log.h"

namespace qlt {

namespace {

using Attribute = ModelBuilder::AttributeBuilder;
using Relationship = ModelBuilder::RelationshipBuilder;

constexpr AttributeType kBoolean = AttributeType::Boolean;
constexpr AttributeType kInteger32 = AttributeType::Integer32;
constexpr AttributeType kInteger64 = AttributeType::Integer64;
constexpr AttributeType kDouble = AttributeType::Double;
constexpr AttributeType kString = AttributeType::String;
constexpr AttributeType kDate = AttributeType::Date;
constexpr AttributeType kBinary = AttributeType::Binary;
constexpr AttributeType kNumber = AttributeType::Number;

constexpr int kLibraryRank = 0;
constexpr int kSystemGroupRank = 10;
constexpr int kFolderRank = 20;
constexpr int kMarkRank = 30;
constexpr int kGroupRank = 40;
constexpr int kSettingRank = 50;
constexpr int kItemRank = 60;
constexpr int kItemPartRank = 70;

// Device-local state: neither a cloud field nor a property-list entry.
template <typename Builder>
std::remove_reference_t<Builder>& local(Builder&& builder) {
  return builder.userInfo(kExcludeFromCloudDatabaseKey, kAnnotationYes)
      .userInfo(kExcludeFromPropertyListKey, kAnnotationYes);
}

template <typename Builder>
std::remove_reference_t<Builder>& notInCloud(Builder&& builder) {
  return builder.userInfo(kExcludeFromCloudDatabaseKey, kAnnotationYes);
}

template <typename Builder>
std::remove_reference_t<Builder>& notInMetadata(Builder&& builder) {
  return builder.userInfo(kExcludeFromMetadataKey, kAnnotationYes);
}

// One entity being declared, with the defaults and annotations that every
// declaration shares.
class Declaration {
 public:
  Declaration(ModelBuilder& builder, const char* name) : entity_(builder.entity(name)) {}

  Declaration& parent(const char* name) {
    entity_.parent(name);
    return *this;
  }
  Declaration& listingIndex(const char* owner, const char* sortedBy) {
    entity_.listingIndex(owner, sortedBy);
    return *this;
  }
  Declaration& nameLookupIndex(const char* owner, const char* name) {
    entity_.nameLookupIndex(owner, name);
    return *this;
  }
  Declaration& systemObject() {
    entity_.userInfo(kEntityIsSystemObjectKey, kAnnotationYes);
    return *this;
  }
  Declaration& cloudOrdering(int rank) {
    entity_.userInfo(kCloudRecordOrderingKey, std::to_string(rank));
    return *this;
  }
  // For entities whose unset values mean "absent".
  Declaration& withoutScalarDefaults() {
    scalarDefaults_ = false;
    return *this;
  }
  // What every root entity stores for its identity and cloud record.
  Declaration& libraryObjectAttributes(bool indexChangeDate = false) {
    attribute("identifier", kString).indexed();
    local(attribute("cloudRecordData", kBinary));
    Attribute changeDate = local(attribute("dateRecordChanged", kDate));
    if (indexChangeDate) changeDate.indexed();
    return *this;
  }

  Attribute attribute(const char* name, AttributeType type) {
    Attribute attribute = entity_.attribute(name, type);
    if (scalarDefaults_ && type == kBoolean) attribute.defaultValue(false);
    if (scalarDefaults_ && (type == kInteger32 || type == kInteger64)) attribute.defaultValue(0);
    if (type == kBinary) notInMetadata(attribute);
    return attribute;
  }

  // Relationships other than an item's placement stay out of metadata.
  Relationship relationship(const char* name, const char* destination, const char* inverse) {
    Relationship relationship = entity_.relationship(name, destination);
    relationship.inverse(inverse);
    if (!placement_) notInMetadata(relationship);
    return relationship;
  }
  Relationship placement(const char* name, const char* destination, const char* inverse) {
    placement_ = true;
    Relationship result = relationship(name, destination, inverse);
    placement_ = false;
    return result;
  }

 private:
  ModelBuilder::EntityBuilder& entity_;
  bool scalarDefaults_ = true;
  bool placement_ = false;
};

void declareLibrary(ModelBuilder& builder) {
  Declaration library(builder, kLibraryEntityName);
  library.systemObject().cloudOrdering(kLibraryRank).libraryObjectAttributes();
  local(library.attribute("storeInCloudDatabase", kBoolean));
  local(library.attribute("useFileProvider", kBoolean));
  local(library.attribute("fileProviderImportComplete", kBoolean));
  local(library.attribute("downloadAllItems", kBoolean));
  local(library.attribute("downloadItemsForIndexing", kBoolean));
  local(library.attribute("firstCloudDownloadCompleted", kBoolean));
  // Shared by every device: once one has stored the library, it stays stored.
  library.attribute("firstCloudStoreCompleted", kBoolean);
  local(library.attribute("firstSharedRecordFetchCompleted", kBoolean));
  library.attribute("cloudGenerationIdentifier", kString);
  local(library.attribute("clientChangeTokenData", kBinary));
  local(library.attribute("privateDatabaseServerChangeTokenData", kBinary));
  local(library.attribute("sharedDatabaseServerChangeTokenData", kBinary));
  local(library.attribute("cloudNotificationsServerChangeTokenData", kBinary));
  local(library.attribute("changeTokensByRecordZoneData", kBinary));
  local(library.attribute("fileProviderEnumeratorLastDateWorkingSetChecked", kDate));
  local(library.attribute("fileProviderMaterializedItemsLastSyncAnchor", kBinary));

  library.relationship("rootFolder", kRootFolderEntityName, "library").cascade();
  library.relationship("trashFolder", kTrashFolderEntityName, "library").cascade();
  library.relationship("sharedFolder", kSharedFolderEntityName, "library").cascade();
  library.relationship("libraryGroup", kLibraryGroupEntityName, "library").cascade();
  library.relationship("recentsGroup", kRecentsGroupEntityName, "library").cascade();
  library.relationship("favoriteItemsGroup", kFavoriteItemsGroupEntityName, "library").cascade();
  library.relationship("noLabelGroup", kNoLabelGroupEntityName, "library").cascade();
  library.relationship("cloudDefaults", kCloudDefaultsEntityName, "library").cascade();
  library.relationship("defaultImportGroup", kGroupEntityName, "defaultImportLibrary");
  library.relationship("defaultStationery", kStationeryEntityName, "defaultItemLibrary");
  library.relationship("lastUsedLabel", kLabelEntityName, "lastUsedLibrary");
  library.relationship("labels", kLabelEntityName, "library").toMany().cascade();
  library.relationship("tags", kTagEntityName, "library").toMany().cascade();
  library.relationship("searchGroups", kSearchGroupEntityName, "library").toMany().cascade();
  library.relationship("stationery", kStationeryEntityName, "library").toMany().cascade();
  library.relationship("markdownEditorStyles", kMarkdownEditorStyleEntityName, "library").toMany().cascade();
  library.relationship("markdownPreviewStyles", kMarkdownPreviewStyleEntityName, "library").toMany().cascade();
}

void declareGroups(ModelBuilder& builder) {
  Declaration group(builder, kGroupEntityName);
  group.cloudOrdering(kGroupRank).libraryObjectAttributes(true);
  group.attribute("name", kString).indexed();
  group.attribute("groupType", kInteger64);
  group.attribute("favorite", kBoolean);
  group.attribute("favoriteOrder", kInteger64);
  group.attribute("parentOrder", kInteger64);
  group.attribute("listColorType", kInteger64);
  group.attribute("listViewMode", kInteger64);
  group.attribute("itemSortDescriptorsData", kBinary);
  group.relationship("parent", kFolderEntityName, "children");
  group.listingIndex("parent", "name");
  group.relationship("searchGroups", kSearchGroupEntityName, "targetGroup").toMany();
  group.relationship("defaultImportLibrary", kLibraryEntityName, "defaultImportGroup");

  Declaration folder(builder, kFolderEntityName);
  folder.parent(kGroupEntityName).cloudOrdering(kFolderRank);
  local(folder.attribute("expanded", kBoolean));
  local(folder.attribute("folderExists", kBoolean));
  local(folder.attribute("fileProviderFavoriteRank", kNumber));
  local(folder.attribute("fileProviderTagData", kBinary));
  local(folder.attribute("cloudShareData", kBinary));
  local(folder.attribute("cloudShareRecordName", kString));
  local(folder.attribute("archivedSharedFolderAttributesData", kBinary));
  local(folder.attribute("sharedFolderAttributesIdentifier", kString));
  folder.relationship("children", kGroupEntityName, "parent").ordered().cascade();
  folder.relationship("items", kItemEntityName, "folder").toMany().cascade();
  notInCloud(folder.relationship("sharedFolderAttributes", kSharedFolderAttributesEntityName, "folder").cascade());

  Declaration rootFolder(builder, kRootFolderEntityName);
  rootFolder.parent(kFolderEntityName).systemObject().cloudOrdering(kSystemGroupRank);
  local(rootFolder.attribute("customFolderURLData", kBinary));
  rootFolder.attribute("allowManualOrdering", kBoolean);
  rootFolder.relationship("library", kLibraryEntityName, "rootFolder");
  rootFolder.relationship("unfiledGroup", kUnfiledGroupEntityName, "rootFolder").cascade();

  Declaration trashFolder(builder, kTrashFolderEntityName);
  trashFolder.parent(kFolderEntityName).systemObject().cloudOrdering(kSystemGroupRank);
  trashFolder.relationship("library", kLibraryEntityName, "trashFolder");

  Declaration sharedFolder(builder, kSharedFolderEntityName);
  sharedFolder.parent(kFolderEntityName).systemObject().cloudOrdering(kSystemGroupRank);
  sharedFolder.relationship("library", kLibraryEntityName, "sharedFolder");

  Declaration itemGroup(builder, kItemGroupEntityName);
  itemGroup.parent(kGroupEntityName).cloudOrdering(kGroupRank);
  notInCloud(itemGroup.relationship("items", kItemEntityName, "groups").toMany());

  Declaration bundle(builder, kBundleEntityName);
  bundle.parent(kItemGroupEntityName).cloudOrdering(kGroupRank);

  Declaration libraryGroup(builder, kLibraryGroupEntityName);
  libraryGroup.parent(kItemGroupEntityName).systemObject().cloudOrdering(kSystemGroupRank);
  libraryGroup.relationship("library", kLibraryEntityName, "libraryGroup");

  Declaration favoriteItemsGroup(builder, kFavoriteItemsGroupEntityName);
  favoriteItemsGroup.parent(kGroupEntityName).systemObject().cloudOrdering(kSystemGroupRank);
  favoriteItemsGroup.relationship("library", kLibraryEntityName, "favoriteItemsGroup");

  Declaration recentsGroup(builder, kRecentsGroupEntityName);
  recentsGroup.parent(kGroupEntityName).systemObject().cloudOrdering(kSystemGroupRank);
  recentsGroup.relationship("library", kLibraryEntityName, "recentsGroup");

  Declaration noLabelGroup(builder, kNoLabelGroupEntityName);
  noLabelGroup.parent(kGroupEntityName).systemObject().cloudOrdering(kSystemGroupRank);
  noLabelGroup.attribute("visible", kBoolean);
  noLabelGroup.relationship("library", kLibraryEntityName, "noLabelGroup");

  Declaration unfiledGroup(builder, kUnfiledGroupEntityName);
  unfiledGroup.parent(kGroupEntityName).systemObject().cloudOrdering(kSystemGroupRank);
  unfiledGroup.attribute("visible", kBoolean);
  unfiledGroup.relationship("rootFolder", kRootFolderEntityName, "unfiledGroup");

  Declaration searchGroup(builder, kSearchGroupEntityName);
  searchGroup.parent(kGroupEntityName).cloudOrdering(kGroupRank);
  searchGroup.attribute("searchText", kString);
  for (const char* flag : {"saved", "matchAll", "searchAll", "searchName", "searchContents", "searchComments",
                           "searchLabels", "searchTags", "searchSource", "includeChildrenOfTargetFolder"})
    searchGroup.attribute(flag, kBoolean);
  searchGroup.attribute("searchOptionsData", kBinary);
  local(searchGroup.relationship("contentItemResults", kItemEntityName, "searchGroups").toMany());
  searchGroup.relationship("targetGroup", kGroupEntityName, "searchGroups");
  searchGroup.relationship("library", kLibraryEntityName, "searchGroups");

  Declaration label(builder, kLabelEntityName);
  label.parent(kGroupEntityName).cloudOrdering(kMarkRank);
  label.attribute("red", kDouble).defaultValue(0.0);
  label.attribute("green", kDouble).defaultValue(0.0);
  label.attribute("blue", kDouble).defaultValue(0.0);
  label.attribute("alpha", kDouble).defaultValue(1.0);
  label.attribute("colorType", kInteger64);
  label.relationship("items", kItemEntityName, "label").toMany();
  label.relationship("library", kLibraryEntityName, "labels");
  label.relationship("lastUsedLibrary", kLibraryEntityName, "lastUsedLabel");

  Declaration tag(builder, kTagEntityName);
  tag.parent(kGroupEntityName).cloudOrdering(kMarkRank);
  tag.attribute("fileLabelColor", kInteger64);
  notInCloud(tag.relationship("items", kItemEntityName, "tags").toMany());
  tag.relationship("library", kLibraryEntityName, "tags");
}

void declareItem(ModelBuilder& builder) {
  Declaration item(builder, kItemEntityName);
  item.cloudOrdering(kItemRank).libraryObjectAttributes(true);
  item.attribute("name", kString).indexed();
  item.attribute("filename", kString).indexed();
  item.attribute("fileType", kString);
  item.attribute("highLevelFileType", kString);
  item.attribute("kind", kString);
  item.attribute("size", kNumber);
  item.attribute("extensionHidden", kBoolean);
  item.attribute("fileCreatorCode", kInteger32);
  item.attribute("fileTypeCode", kInteger32);
  item.attribute("dateAdded", kDate);
  item.attribute("dateCreated", kDate);
  item.attribute("dateModified", kDate).indexed();
  item.attribute("dateAccessed", kDate);
  item.attribute("dateLastViewed", kDate);
  item.attribute("dateDeleted", kDate);
  item.attribute("mostRecentDate", kDate);
  item.attribute("comments", kString);
  item.attribute("source", kString);
  item.attribute("summary", kString);
  item.attribute("tagNames", kString);
  item.attribute("favorite", kBoolean);
  item.attribute("stateInfoData", kBinary);
  item.attribute("thumbnailData", kBinary);
  local(item.attribute("fileProviderIdentifierVersion", kInteger64));
  local(item.attribute("fileProviderTagData", kBinary));
  local(item.attribute("fileProviderMaterialized", kBoolean));
  local(item.attribute("metadataState", kInteger64));
  local(item.attribute("metadataAttemptCount", kInteger64));
  local(item.attribute("indexingState", kInteger64));
  local(item.attribute("indexingAttemptCount", kInteger64));
  local(item.attribute("spotlightIndexingNeeded", kBoolean));
  local(item.attribute("textRecognitionNeeded", kBoolean));
  local(item.attribute("textRecognitionDataNeedsUpload", kBoolean));
  // Travels as a file asset of the record.
  notInCloud(item.attribute("textRecognitionData", kBinary));
  local(item.attribute("cloudFileUploadStatus", kInteger64));
  local(item.attribute("cloudFileDownloadStatus", kInteger64));
  local(item.attribute("cloudThumbnailState", kInteger64));
  local(item.attribute("cloudUploadCompleted", kBoolean));
  local(item.attribute("initialCloudDownloadCompleted", kBoolean));
  local(item.attribute("cloudLastUploadedModificationDate", kDate));
  local(item.attribute("cloudShareData", kBinary));
  local(item.attribute("cloudShareRecordName", kString));
  local(item.attribute("sharedItemIdentifier", kString));
  local(item.attribute("archivedSharedItemData", kBinary));
  local(item.attribute("encryptedFileBeingViewed", kBoolean));
  item.attribute("encryptedItemOriginalFileType", kString);
  item.attribute("encryptedOriginalFilename", kString);
  notInMetadata(item.attribute("encryptionPassword", kString));

  item.placement("folder", kFolderEntityName, "items");
  item.listingIndex("folder", "filename").listingIndex("folder", "dateModified").nameLookupIndex("folder", "filename");
  item.relationship("groups", kItemGroupEntityName, "items").toMany();
  item.placement("label", kLabelEntityName, "items");
  item.placement("tags", kTagEntityName, "items").toMany();
  item.relationship("attachments", kItemAttachmentEntityName, "item").toMany().cascade();
  item.relationship("textInfo", kItemTextInfoEntityName, "item").cascade();
  notInCloud(item.relationship("sharedItem", kSharedItemEntityName, "item").cascade());
  item.relationship("stationery", kStationeryEntityName, "items");
  local(item.relationship("searchGroups", kSearchGroupEntityName, "contentItemResults").toMany());
  item.relationship("outgoingLinkedItems", kItemEntityName, "incomingLinkedItems").toMany();
  notInCloud(item.relationship("incomingLinkedItems", kItemEntityName, "outgoingLinkedItems").toMany());
}

void declareItemParts(ModelBuilder& builder) {
  Declaration attachment(builder, kItemAttachmentEntityName);
  attachment.cloudOrdering(kItemPartRank).libraryObjectAttributes();
  attachment.attribute("name", kString);
  attachment.attribute("filename", kString);
  attachment.attribute("fileType", kString);
  attachment.attribute("highLevelFileType", kString);
  attachment.attribute("fileModificationDate", kDate);
  notInCloud(attachment.attribute("textRecognitionData", kBinary));
  local(attachment.attribute("textRecognitionDataNeedsUpload", kBoolean));
  attachment.relationship("item", kItemEntityName, "attachments");

  Declaration textInfo(builder, kItemTextInfoEntityName);
  textInfo.cloudOrdering(kItemPartRank).libraryObjectAttributes();
  textInfo.attribute("highlightedText", kString);
  textInfo.attribute("completedChecklistItems", kString);
  textInfo.attribute("outstandingChecklistItems", kString);
  textInfo.attribute("hasChecklistItems", kBoolean);
  textInfo.attribute("hasHighlightedText", kBoolean);
  textInfo.relationship("item", kItemEntityName, "textInfo");

  Declaration sharedItem(builder, kSharedItemEntityName);
  sharedItem.cloudOrdering(kItemPartRank).libraryObjectAttributes();
  sharedItem.attribute("favorite", kBoolean);
  sharedItem.attribute("folderIdentifier", kString);
  sharedItem.attribute("labelIdentifier", kString);
  sharedItem.attribute("groupIdentifiers", kString);
  sharedItem.attribute("tagIdentifiers", kString);
  sharedItem.relationship("item", kItemEntityName, "sharedItem");

  Declaration folderAttributes(builder, kSharedFolderAttributesEntityName);
  folderAttributes.cloudOrdering(kItemPartRank).libraryObjectAttributes();
  folderAttributes.attribute("favorite", kBoolean);
  folderAttributes.attribute("favoriteOrder", kInteger64);
  folderAttributes.relationship("folder", kFolderEntityName, "sharedFolderAttributes");
}

void declareSettings(ModelBuilder& builder) {
  Declaration stationery(builder, kStationeryEntityName);
  stationery.cloudOrdering(kSettingRank).libraryObjectAttributes();
  stationery.attribute("name", kString);
  stationery.attribute("filename", kString);
  stationery.attribute("active", kBoolean);
  stationery.attribute("builtIn", kBoolean);
  stationery.attribute("extensionHidden", kBoolean);
  stationery.relationship("items", kItemEntityName, "stationery").toMany();
  stationery.relationship("library", kLibraryEntityName, "stationery");
  stationery.relationship("defaultItemLibrary", kLibraryEntityName, "defaultStationery");

  Declaration editorStyle(builder, kMarkdownEditorStyleEntityName);
  editorStyle.cloudOrdering(kSettingRank).libraryObjectAttributes();
  editorStyle.attribute("name", kString);
  editorStyle.relationship("library", kLibraryEntityName, "markdownEditorStyles");

  Declaration previewStyle(builder, kMarkdownPreviewStyleEntityName);
  previewStyle.cloudOrdering(kSettingRank).libraryObjectAttributes();
  previewStyle.attribute("name", kString);
  previewStyle.relationship("library", kLibraryEntityName, "markdownPreviewStyles");

  Declaration cloudDefaults(builder, kCloudDefaultsEntityName);
  cloudDefaults.systemObject().cloudOrdering(kSettingRank).withoutScalarDefaults().libraryObjectAttributes();
  for (const char* name : {"allowNumericHashtags", "groupsAllowManualOrdering", "noteLinkUnderline",
                           "useHashtagsInTextFiles", "webLinkSaveForOffline", "webLinkSaveMinimal",
                           "webLinkSavePaginated", "webLinkRememberLastUsedSettings"})
    cloudDefaults.attribute(name, kBoolean);
  for (const char* name : {"autoRenameNotes", "autoRenameStationery", "markdownCodeBlockStyle",
                           "markdownDefaultViewMode", "webLinkMinHeight", "webLinkMinWidth", "webLinkSaveFormat"})
    cloudDefaults.attribute(name, kInteger64);
  for (const char* name : {"markdownFontSize", "plainTextFontSize", "richTextFontSize"})
    cloudDefaults.attribute(name, kDouble);
  for (const char* name : {"defaultNoteTextStyleIdentifier", "markdownDefaultBullet", "markdownDefaultEmphasis",
                           "markdownDefaultStrong", "markdownEditorStyleName", "markdownFontName",
                           "markdownPreviewStyleName", "plainTextFontName", "richTextFontName"})
    cloudDefaults.attribute(name, kString);
  for (const char* name : {"defaultPDFHighlightColorData", "defaultTextHighlightColorData",
                           "noteDefaultBackgroundColorData", "noteLinkColorData", "noteTextStylesData"})
    cloudDefaults.attribute(name, kBinary);
  cloudDefaults.relationship("library", kLibraryEntityName, "cloudDefaults");
}

std::shared_ptr<const ManagedObjectModel> buildLibraryModel() {
  ModelBuilder builder(kLibraryContainerName);
  declareLibrary(builder);
  declareGroups(builder);
  declareItem(builder);
  declareItemParts(builder);
  declareSettings(builder);
  Error error;
  std::shared_ptr<const ManagedObjectModel> model = builder.build(&error);
  if (!model) log("Cannot build the library model: %@", error.description());
  return model;
}

}  // namespace

std::shared_ptr<const ManagedObjectModel> libraryModel() {
  static const std::shared_ptr<const ManagedObjectModel> model = buildLibraryModel();
  return model;
}

}  // namespace qlt
