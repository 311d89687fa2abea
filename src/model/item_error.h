#pragma once

namespace qlt {

inline constexpr const char* kItemErrorDomain = "QLTItemErrorDomain";
inline constexpr long kItemFileExistsErrorCode = 10001;
inline constexpr long kItemFolderExistsErrorCode = 10002;
inline constexpr long kItemCannotMoveSharedItemErrorCode = 10003;
inline constexpr long kItemUnknownCreationErrorCode = 10004;
inline constexpr long kItemCannotMoveToInvalidFolderURLErrorCode = 10005;
inline constexpr long kItemCannotBeSymbolicLinkErrorCode = 10006;
inline constexpr long kItemCannotBeAliasErrorCode = 10007;
inline constexpr long kItemCannotBeHiddenErrorCode = 10008;
inline constexpr long kItemInvalidFilenameErrorCode = 10010;

// User-info keys of the errors above.
inline constexpr const char* kItemExistingItemErrorUserInfoKey = "existingItem";
inline constexpr const char* kItemExistingFolderErrorUserInfoKey = "existingFolder";

}  // namespace qlt
