#include "extension/file_provider_enumerator.h"

#include "model/folder.h"
#include "platform/fileprovider/file_provider_domain.h"
#include "store/library.h"
#include "store/library_manager.h"
#include "store/library_object.h"
#include "store/library_model_constants.h"
#include "platform/objectstore/managed_object_context.h"

namespace qlt {
namespace {

// Items whose cloud record has no file.
constexpr int kCloudFileDownloadStatusNoFile = 5;

}  // namespace

FileProviderEnumerator::FileProviderEnumerator(std::shared_ptr<Library> library,
                                               std::shared_ptr<ManagedObjectContext> changesManagerContext)
    : library_(std::move(library)), changesManagerContext_(std::move(changesManagerContext)) {
  if (!library_) return;
  privateContext_ = LibraryManager::sharedManager()->newBackgroundContext();
  if (!privateContext_) return;
  ObjectID libraryID = library_->objectID();
  privateContext_->performAndWait(
      [&] { privateLibrary_ = std::dynamic_pointer_cast<Library>(privateContext_->existingObjectWithID(libraryID)); });
}

FileProviderEnumerator::~FileProviderEnumerator() = default;

std::shared_ptr<Library> FileProviderEnumerator::library() const {
  std::lock_guard lock(mutex_);
  return library_;
}

std::shared_ptr<ManagedObjectContext> FileProviderEnumerator::privateContext() const {
  std::lock_guard lock(mutex_);
  return privateContext_;
}

std::shared_ptr<Library> FileProviderEnumerator::privateLibrary() const {
  std::lock_guard lock(mutex_);
  return privateLibrary_;
}

uint64_t FileProviderEnumerator::countInPrivateContext(const FetchRequest& request) {
  auto context = privateContext();
  if (!context) return 0;
  int64_t count = 0;
  context->performAndWait([&] { count = context->count(request).value_or(0); });
  return count > 0 ? static_cast<uint64_t>(count) : 0;
}

uint64_t FileProviderEnumerator::numberOfFoldersToReturn() {
  {
    std::lock_guard lock(mutex_);
    if (countedFolders_) return numberOfFoldersToReturn_;
  }
  uint64_t count = countInPrivateContext(foldersFetchRequest());
  std::lock_guard lock(mutex_);
  numberOfFoldersToReturn_ = count;
  countedFolders_ = true;
  return count;
}

uint64_t FileProviderEnumerator::numberOfItemsToReturn() {
  {
    std::lock_guard lock(mutex_);
    if (countedItems_) return numberOfItemsToReturn_;
  }
  uint64_t count = countInPrivateContext(itemsFetchRequest());
  std::lock_guard lock(mutex_);
  numberOfItemsToReturn_ = count;
  countedItems_ = true;
  return count;
}

void FileProviderEnumerator::invalidate() {
  std::shared_ptr<ManagedObjectContext> context;
  std::shared_ptr<Library> privateLibrary;
  {
    std::lock_guard lock(mutex_);
    library_ = nullptr;
    privateLibrary = std::move(privateLibrary_);
    context = std::move(privateContext_);
  }
  // The private library goes first, inside its context.
  if (context) context->performAndWait([&] { privateLibrary = nullptr; });
}

ManagedObjectPtr FolderFileProviderEnumerator::folder() const {
  std::lock_guard lock(mutex_);
  return folder_;
}

void FolderFileProviderEnumerator::setFolder(ManagedObjectPtr folder) {
  std::string identifier;
  bool inTrash = false;
  auto libraryObject = std::dynamic_pointer_cast<LibraryObject>(folder);
  if (ManagedObjectContext* context = libraryObject ? libraryObject->managedObjectContext() : nullptr)
    context->performAndWait([&] {
      identifier = libraryObject->fileProviderItemIdentifier();
      auto asFolder = std::dynamic_pointer_cast<Folder>(libraryObject);
      inTrash = asFolder && asFolder->isTrashFolder();
    });
  std::lock_guard lock(mutex_);
  folder_ = std::move(folder);
  folderIdentifier_ = std::move(identifier);
  folderInTrash_ = inTrash;
}

FetchRequest FolderFileProviderEnumerator::foldersFetchRequest() const {
  ManagedObjectPtr folder = this->folder();
  FetchRequest request(kFolderEntityName);
  request.includesSubentities = true;
  request.predicate =
      Predicate::withFormat("parent == %@ AND name != nil", {folder ? Value(folder->objectID()) : Value()});
  return request;
}

FetchRequest FolderFileProviderEnumerator::itemsFetchRequest() const {
  ManagedObjectPtr folder;
  bool inTrash = false;
  {
    std::lock_guard lock(mutex_);
    folder = folder_;
    inTrash = folderInTrash_;
  }
  Value folderID = folder ? Value(folder->objectID()) : Value();
  FetchRequest request(kItemEntityName);
  if (folder && inTrash)
    request.predicate = Predicate::withFormat("folder == %@ AND filename != nil AND cloudFileDownloadStatus != %@",
                                              {folderID, Value(kCloudFileDownloadStatusNoFile)});
  else
    request.predicate = Predicate::withFormat("folder == %@ AND filename != nil", {folderID});
  return request;
}

std::string FolderFileProviderEnumerator::fileProviderItemIdentifier() const {
  std::lock_guard lock(mutex_);
  return folderIdentifier_;
}

void FolderFileProviderEnumerator::invalidate() {
  FileProviderEnumerator::invalidate();
  std::lock_guard lock(mutex_);
  folder_ = nullptr;
}

FetchRequest WorkingSetFileProviderEnumerator::foldersFetchRequest() const {
  FetchRequest request(kFolderEntityName);
  request.predicate = Predicate::withFormat("name != nil AND parent != nil");
  return request;
}

FetchRequest WorkingSetFileProviderEnumerator::itemsFetchRequest() const {
  FetchRequest request(kItemEntityName);
  request.predicate = Predicate::withFormat("filename != nil AND folder != nil");
  return request;
}

std::string WorkingSetFileProviderEnumerator::fileProviderItemIdentifier() const {
  return kWorkingSetContainerItemIdentifier;
}

}  // namespace qlt
