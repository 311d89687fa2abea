// Folder: watching the directory for changed files.
#include <mutex>

#include "model/folder.h"
#include "model/item.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/foundation/log.h"
#include "platform/dispatch/operation_queue.h"
#include "platform/defaults/user_defaults.h"
#include "store/library_manager.h"
#include "platform/objectstore/managed_object_context.h"

namespace qlt {
namespace {

constexpr int kWatchingConcurrency = 5;

OperationQueue& limitedQueue(OperationQueue& queue, std::once_flag& once, const char* name) {
  std::call_once(once, [&] {
    queue.setName(name);
    queue.setMaxConcurrentOperationCount(kWatchingConcurrency);
  });
  return queue;
}

void checkSubitem(const ObjectID& folderID, const std::string& url) {
  auto manager = LibraryManager::sharedManager();
  std::shared_ptr<ManagedObjectContext> context = manager ? manager->newBackgroundContext() : nullptr;
  if (!context) return;
  context->performAndWait([&] {
    std::optional<std::string> path = pathFromFileURL(url);
    if (!path || !fileExists(*path)) return;
    auto folder = std::dynamic_pointer_cast<Folder>(context->existingObjectWithID(folderID));
    std::shared_ptr<Item> item = folder ? folder->itemWithFileURL(url) : nullptr;
    if (!item) return;
    if (UserDefaults::standard().boolForKey(kImportLoggingKey))
      log("Updating file attributes for %@", item->identifier());
    Error error;
    bool done = item->updateMetadataFromFile(&error);
    if (done && context->hasChanges()) done = context->save(&error);
    if (!done) log("Error updating file attributes for item %@: %@", item->identifier(), error);
  });
}

}  // namespace

OperationQueue& Folder::sharedPresentedItemOperationQueue() {
  static OperationQueue queue;
  static std::once_flag once;
  return limitedQueue(queue, once, "QLTFolderPresentedItemQueue");
}

OperationQueue& Folder::checkFilesOperationQueue() {
  static OperationQueue queue;
  static std::once_flag once;
  return limitedQueue(queue, once, "QLTFolderCheckFilesQueue");
}

void Folder::presentedSubitemDidChangeAtURL(const std::string& url) {
  if (isDeleted()) return;
  std::optional<std::string> path = pathFromFileURL(url);
  if (!path || lastPathComponent(*path).starts_with(".")) return;
  bool directory = false;
  if (!fileExists(*path, &directory) || (directory && !isPackage(*path))) return;
  checkFilesOperationQueue().addOperationWithBlock([id = objectID(), url] { checkSubitem(id, url); });
}

void Folder::checkPresentedSubitemAtURL(const std::string& url) const { checkSubitem(objectID(), url); }

}  // namespace qlt
