#pragma once

#include <optional>
#include <set>
#include <string>

#include "platform/cloud/cloud_record.h"
#include "platform/objectstore/value.h"

namespace qlt {

// Field names of library records beyond the attributes and relationships.
inline constexpr const char* kItemCloudUploadCompletedKey = "cloudUploadCompleted";
inline constexpr const char* kItemCloudTextRecognitionFileAssetKey = "textRecognitionAssetFile";
inline constexpr const char* kItemCloudTextRecognitionDataNeedsUploadKey = "textRecognitionDataNeedsUpload";
inline constexpr const char* kItemAttachmentCloudTextRecognitionFileAssetKey = "textRecognitionAssetFile";
inline constexpr const char* kItemAttachmentCloudTextRecognitionNeedsUploadKey = "textRecognitionDataNeedsUpload";
inline constexpr const char* kCloudRecordChangedKeyNamesKey = "cloudChangedKeyNames";
inline constexpr const char* kFolderCloudRecordDepthKey = "cloudFolderDepth";
inline constexpr const char* kStationeryCloudFileAssetKey = "stationeryFileAsset";
inline constexpr const char* kStationeryCloudFileAssetIsArchiveKey = "fileAssetIsArchive";
inline constexpr const char* kMarkdownEditorStyleFileAssetKey = "markdownEditorStyleAsset";
inline constexpr const char* kMarkdownPreviewStyleFileAssetKey = "markdownPreviewStyleAsset";
inline constexpr const char* kItemTextRecognitionTemporaryFileExtension = "textrecognition";
// Thumbnails longer than this stay out of item records.
inline constexpr size_t kItemCloudMaxThumbnailLength = 256000;

// The names in "cloudChangedKeyNames"; empty when the field is absent.
std::set<std::string> changedKeyNames(const CloudRecord& record);
// Stored as a list sorted ascending.
void setChangedKeyNames(CloudRecord& record, const std::set<std::string>& names);
// Names present in both records whose values differ.
std::set<std::string> changedKeysFromRecord(const CloudRecord& record, const CloudRecord& other);
// Lengths of strings and data plus the sizes of readable asset files.
uint64_t estimatedRecordSize(const CloudRecord& record);

// Attribute values as record fields and back; nullopt for nil and for
// values that have no counterpart.
[[nodiscard]] std::optional<CloudValue> cloudValueFromValue(const Value& value);
Value valueFromCloudValue(const CloudValue* value);

}  // namespace qlt
