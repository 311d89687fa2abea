#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "changes/library_change_set.h"
#include "extension/file_provider_operation.h"
#include "platform/files/file_metadata_backup.h"
#include "platform/cloud/cloud_record_id.h"
#include "platform/fileprovider/file_provider_domain.h"
#include "platform/fileprovider/file_provider_item.h"
#include "platform/objectstore/managed_object.h"

namespace qlt {

class Folder;
class Item;

inline constexpr const char* kFileProviderModifyOperationErrorDomain = "QLTFileProviderModifyOperation";
inline constexpr long kModifyAliasOrSymbolicLinkErrorCode = 10001;

// Answers the service's request to change an item or a folder. The changed
// fields are applied in a fixed order (contents, last-used, modification
// and creation dates, tag data, filename and parent, flags, extended
// attributes, type codes) to the object and its file; the library is saved
// once, after every field was applied. When the extension is responsible
// for the cloud, a change set names the changed keys and the record is
// uploaded. A failure reports every requested field as pending.
//
// The request is checked before anything is touched: names that are not
// one file name, contents that are a link, a pipe or missing, and tag data
// that does not decode change nothing. New contents replace the old ones
// only once they are completely written.
class FileProviderModifyOperation final : public FileProviderOperation {
 public:
  using Completion = std::function<void(FileProviderItemPtr item, uint64_t pendingFields, const Error* error)>;

  // `item` holds the new values; `contents` is where new contents were
  // staged (when kFileProviderItemContents is among `changedFields`).
  FileProviderModifyOperation(FileProviderItemPtr item, FileProviderDomain domain,
                              std::optional<FileProviderItemVersion> baseVersion, uint64_t changedFields,
                              std::optional<std::string> contents, uint64_t options,
                              std::shared_ptr<ManagedObjectContext> changesManagerContext);

  void setModifyOperationCompletionBlock(Completion completion) { completion_ = std::move(completion); }
  std::string description() const override;

  // Apply the changed fields; false with the error of the first field that
  // failed (later fields are left alone, and the file's attributes and
  // dates are put back). Run inside the operation's context.
  [[nodiscard]] bool updateValuesOnItem(Item& item, Error* error);
  [[nodiscard]] bool updateValuesOnFolder(Folder& folder, Error* error);

 protected:
  void main() override;
  Error convertError(const Error& error) const override;
  void complete(const Error* error) override;

 private:
  bool has(uint64_t field) const { return (changedFields_ & field) != 0; }
  bool mayAlreadyExist() const { return (options_ & kFileProviderModifyItemMayAlreadyExist) != 0; }
  // Why the request cannot be applied at all, if it cannot.
  [[nodiscard]] std::optional<Error> refusal() const;
  // The folder named by the new parent identifier (root and trash
  // included); null when it names no folder.
  std::shared_ptr<Folder> newParentFolder() const;

  // Steps of updateValuesOnItem.
  [[nodiscard]] bool replaceContents(Item& item, Error* error);
  // The file's dates and attributes and the item's values for them.
  [[nodiscard]] bool updateFileMetadata(Item& item, Error* error);
  [[nodiscard]] bool updateDates(Item& item, Error* error);
  [[nodiscard]] bool updateTagData(Item& item, Error* error);
  [[nodiscard]] bool updatePlace(Item& item, Error* error);
  [[nodiscard]] bool renameWithinFolder(Item& item, Error* error);
  [[nodiscard]] bool moveToNewParent(Item& item, bool withName, Error* error);
  void updateFileSystemFlags(Item& item);
  // The item's file gets back the dates and attributes it had when
  // updateValuesOnItem began.
  void restoreFileMetadata();
  // Whether the file the user sees for the item is dataless (its contents
  // not on this machine), as the domain's manager answers.
  bool visibleFileIsDataless() const;

  void recordChangeSet(const RecordID& recordID, const std::set<std::string>& changedKeys);
  void saveChangesToCloudWithChangedKeys(const ChangedKeysByRecordID& changedKeys);
  void setChangeSetStatus(LibraryChangeSetStatus status);

  const FileProviderItemPtr item_;
  const FileProviderDomain domain_;
  const std::optional<FileProviderItemVersion> version_;
  const uint64_t changedFields_;
  const std::optional<std::string> contentsURL_;
  const uint64_t options_;
  const std::shared_ptr<ManagedObjectContext> changesManagerContext_;
  Completion completion_;

  // Touched only inside the operation's context (or before and after it).
  std::optional<ObjectID> objectID_;
  // The item's file as updateValuesOnItem found it, put back when the save
  // after it fails.
  struct FileBefore {
    std::string path;
    FileMetadataBackup metadata;
  };
  std::optional<FileBefore> fileBefore_;
  std::set<RecordID> insertedTagRecordIDs_;
  FileProviderItemPtr resultItem_;
  // Touched only inside the changes context.
  LibraryChangeSet::Ptr changeSet_;
};

}  // namespace qlt
