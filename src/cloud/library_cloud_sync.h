#pragma once

#include <memory>
#include <mutex>
#include <optional>

#include "platform/cloud/cloud_service.h"
#include "platform/foundation/error.h"

namespace qlt {

class LibraryManager;
class ManagedObjectContext;
class AsyncOperation;

struct LibraryCloudSyncSummary {
  size_t fetchedRecords = 0;
  size_t fetchedDeletions = 0;
  size_t appliedRecords = 0;
  size_t deletedObjects = 0;
  size_t uploadedObjects = 0;
  size_t deletedRecords = 0;
};

// Keeps the shared manager's library and its zone of the cloud container
// in step, as the host application does: fetches what changed in the
// library zone since the token the library keeps, applies it in the view
// context (CloudChangesApplication) and saves it together with the new
// token, then sends the pending change sets of the changes database and
// removes them. The first time (the library's first cloud store not yet
// done) it sends every object the server did not just hand over, and turns
// the library into a cloud library.
//
// A failure ends the sync with the converted cloud error: what was fetched
// is applied whole or not at all, and change sets whose records were not
// all sent stay pending for the next sync.
class LibraryCloudSync {
 public:
  // `changes`: the changes database's context.
  LibraryCloudSync(std::shared_ptr<LibraryManager> manager, std::shared_ptr<ManagedObjectContext> changes)
      : manager_(std::move(manager)), changes_(std::move(changes)) {}

  [[nodiscard]] std::optional<LibraryCloudSyncSummary> sync(Error* error = nullptr);
  // Cancels the request in flight; the sync ends with the cancelled error.
  void cancel();

 private:
  // Runs `operation` to its end unless the sync was cancelled.
  void run(const std::shared_ptr<AsyncOperation>& operation);

  std::shared_ptr<LibraryManager> manager_;
  std::shared_ptr<ManagedObjectContext> changes_;
  std::mutex mutex_;
  std::shared_ptr<AsyncOperation> current_;
  bool cancelled_ = false;
};

}  // namespace qlt
