#pragma once

#include <cstdint>

namespace qlt {

// Reverse-DNS prefix of the maker, used to build annotation keys.
inline constexpr const char* kMakerIdentifierPrefix = "com.quillet";

// Annotation keys of the library data model. Every test compares the value
// with the exact strings "YES" or "NO"; a missing value is neither.
//
// Entity: "YES" when a library holds exactly one object of the entity.
inline constexpr const char* kEntityIsSystemObjectKey = "com.quillet.IsSystemObject";
// Property: "YES" leaves it out of property lists; "NO" on a transient
// property takes it in although it is transient.
inline constexpr const char* kExcludeFromPropertyListKey = "com.quillet.ExcludeFromPlist";
// Property: the same two-way rule for cloud records.
inline constexpr const char* kExcludeFromCloudDatabaseKey = "com.quillet.ExcludeFromCloud";
// Property: "YES" removes it from the metadata dictionary.
inline constexpr const char* kExcludeFromMetadataKey = "com.quillet.ExcludeFromMetadata";
// Entity: decimal integer rank by which cloud records are ordered for
// upload; containers rank lower than their contents.
inline constexpr const char* kCloudRecordOrderingKey = "com.quillet.CloudRecordOrdering";
// Not a model key: the key under which a property list stores the entity
// name of the object it describes.
inline constexpr const char* kPropertyListEntityNameKey = "com.quillet.EntityName";

inline constexpr const char* kAnnotationYes = "YES";
inline constexpr const char* kAnnotationNo = "NO";

// Name of the library model, and of its container.
inline constexpr const char* kLibraryContainerName = "Quillet";

// Entity names.
inline constexpr const char* kLibraryEntityName = "Library";
inline constexpr const char* kGroupEntityName = "Group";
inline constexpr const char* kFolderEntityName = "Folder";
inline constexpr const char* kRootFolderEntityName = "RootFolder";
inline constexpr const char* kTrashFolderEntityName = "TrashFolder";
inline constexpr const char* kSharedFolderEntityName = "SharedFolder";
inline constexpr const char* kItemGroupEntityName = "ItemGroup";
inline constexpr const char* kBundleEntityName = "Bundle";
inline constexpr const char* kLibraryGroupEntityName = "LibraryGroup";
inline constexpr const char* kFavoriteItemsGroupEntityName = "FavoriteItemsGroup";
inline constexpr const char* kRecentsGroupEntityName = "RecentsGroup";
inline constexpr const char* kNoLabelGroupEntityName = "NoLabelGroup";
inline constexpr const char* kUnfiledGroupEntityName = "UnfiledGroup";
inline constexpr const char* kSearchGroupEntityName = "SearchGroup";
inline constexpr const char* kLabelEntityName = "Label";
inline constexpr const char* kTagEntityName = "Tag";
inline constexpr const char* kItemEntityName = "Item";
inline constexpr const char* kItemAttachmentEntityName = "ItemAttachment";
inline constexpr const char* kItemTextInfoEntityName = "ItemTextInfo";
inline constexpr const char* kSharedItemEntityName = "SharedItem";
inline constexpr const char* kSharedFolderAttributesEntityName = "SharedFolderAttributes";
inline constexpr const char* kStationeryEntityName = "Stationery";
inline constexpr const char* kCloudDefaultsEntityName = "CloudDefaults";
inline constexpr const char* kMarkdownEditorStyleEntityName = "MarkdownEditorStyle";
inline constexpr const char* kMarkdownPreviewStyleEntityName = "MarkdownPreviewStyle";

// Group-type codes (`groupType`, set when a group is first inserted).
inline constexpr int64_t kLibraryGroupType = 0;
inline constexpr int64_t kRecentsGroupType = 10;
inline constexpr int64_t kFavoriteItemsGroupType = 20;
inline constexpr int64_t kRootFolderGroupType = 30;
inline constexpr int64_t kTrashFolderGroupType = 40;
inline constexpr int64_t kFolderGroupType = 100;
inline constexpr int64_t kBundleGroupType = 200;
inline constexpr int64_t kLabelGroupType = 300;
inline constexpr int64_t kTagGroupType = 400;
inline constexpr int64_t kSearchGroupType = 500;
inline constexpr int64_t kSharedFolderGroupType = 600;
inline constexpr int64_t kUnfiledGroupType = 700;
inline constexpr int64_t kNoLabelGroupType = 800;

// Fixed identifiers of the system objects, the same in every copy of a
// library.
inline constexpr const char* kLibraryIdentifier = "Library";
inline constexpr const char* kRootFolderIdentifier = "RootFolder";
inline constexpr const char* kTrashFolderIdentifier = "TrashFolder";
inline constexpr const char* kSharedFolderIdentifier = "SharedFolder";
inline constexpr const char* kLibraryGroupIdentifier = "LibraryGroup";
inline constexpr const char* kRecentsGroupIdentifier = "RecentsGroup";
inline constexpr const char* kFavoriteItemsGroupIdentifier = "FavoriteItemsGroup";
inline constexpr const char* kNoLabelGroupIdentifier = "NoLabelGroup";
inline constexpr const char* kUnfiledGroupIdentifier = "UnfiledGroup";
inline constexpr const char* kCloudDefaultsIdentifier = "QLTStandardCloudDefaults";

// The cloud container that holds the library's records.
inline constexpr const char* kCloudContainerName = "iCloud.com.quillet.library";

}  // namespace qlt
