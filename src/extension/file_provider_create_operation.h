#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "changes/library_change_set.h"
#include "extension/file_provider_operation.h"
#include "platform/cloud/cloud_record_id.h"
#include "platform/fileprovider/file_provider_item.h"
#include "platform/objectstore/managed_object.h"

namespace qlt {

class Folder;
class Item;

// Answers the service's request to create a folder or an item from a
// template. With the may-exist (or deletion-conflicted) option an object of
// the same name or identifier is returned instead of a duplicate. The new
// object is saved to the library with the template's dates, tags, comment,
// extended attributes, flags and type codes; when the extension is
// responsible for the cloud, a change set records it and it is uploaded.
// A creation that fails (or is cancelled) leaves no row and no file.
class FileProviderCreateOperation final : public FileProviderOperation {
 public:
  using Completion = std::function<void(FileProviderItemPtr item, uint64_t pendingFields, const Error* error)>;

  // `contents`: where the service staged a new file's contents, if anywhere.
  FileProviderCreateOperation(FileProviderItemPtr itemTemplate, uint64_t fields, std::optional<std::string> contents,
                              uint64_t options, std::shared_ptr<ManagedObjectContext> changesManagerContext);

  void setCreateOperationCompletionBlock(Completion completion) { completion_ = std::move(completion); }
  std::string description() const override;

 protected:
  void main() override;
  void complete(const Error* error) override;

 private:
  // Runs inside the operation's context.
  ManagedObjectPtr createLibraryObjectInParent(const std::shared_ptr<Folder>& parent, bool mayExist, Error* error);
  std::shared_ptr<Folder> createFolderInParent(const std::shared_ptr<Folder>& parent, bool mayExist, Error* error);
  std::shared_ptr<Item> createItemInParent(const std::shared_ptr<Folder>& parent, bool mayExist, Error* error);
  std::shared_ptr<Folder> resolveParent() const;
  // The identifier a template carries from an object that existed before.
  [[nodiscard]] std::optional<std::string> restoredIdentifier() const;
  bool isRemoteShareTemplate() const;
  // False with the error when the file or directory does not take a value.
  [[nodiscard]] bool applyTemplateToFolder(const Folder& folder, Error* error) const;
  [[nodiscard]] bool applyTemplateToItem(Item& item, Error* error);
  // Ends the operation from inside createItemInParent: the one completion.
  void finishAtOnce(std::optional<Error> error);
  // Removes what the creation put on disk before it was saved.
  void removeCreatedFiles();

  void recordChangeSet();
  void saveToCloud();
  // Converts the error, undoes a failed creation and completes.
  void finishCreation(std::optional<Error> error);
  bool has(uint64_t field) const { return (fields_ & field) != 0; }

  const FileProviderItemPtr template_;
  const uint64_t fields_;
  const std::optional<std::string> contentsURL_;
  const uint64_t options_;
  const std::shared_ptr<ManagedObjectContext> changesManagerContext_;
  Completion completion_;

  // Touched only inside the operation's context (or before and after it).
  std::optional<ObjectID> createdObjectID_;
  bool didCreateItem_ = false;
  std::optional<std::optional<Error>> earlyFinish_;
  std::set<RecordID> insertedTagRecordIDs_;
  std::optional<std::string> createdFilePath_;
  std::optional<std::string> createdDirectoryPath_;
  // The identifier the new object's file or directory was written down
  // under in the file move journal.
  std::optional<std::string> createdIdentifier_;
  FileProviderItemPtr resultItem_;
  // Touched only inside the changes context.
  LibraryChangeSet::Ptr changeSet_;
};

}  // namespace qlt
