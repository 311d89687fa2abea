#pragma once

#include <memory>
#include <string>

#include "platform/foundation/observer_list.h"
#include "platform/dispatch/operation_queue.h"
#include "platform/objectstore/persistent_container.h"

namespace qlt {

inline constexpr const char* kChangeManagerDisableVacuumKey = "QLTChangeManagerDisableVacuum";
inline constexpr const char* kDatesForPersistentStoreHistoryKey = "DatesForPersistentStoreHistory";

// The container of the changes database: its store lies in the library
// package's "Library Changes" folder, is vacuumed when opened (unless the
// defaults say otherwise), keeps history, and merges what other processes
// wrote on a serial queue of its own. When the folder cannot be created the
// container has no store location and loading its store fails.
class LibraryChangesPersistentContainer : public PersistentContainer {
 public:
  // The package's "Library Changes" folder, created when missing; empty
  // when it cannot be.
  static std::string defaultDirectoryPath();
  static void removeChangesFile();

  LibraryChangesPersistentContainer(const std::string& name, std::shared_ptr<const ManagedObjectModel> model);
  ~LibraryChangesPersistentContainer() override;

  OperationQueue& historyQueue() { return historyQueue_; }
  Date lastDateForPersistentStoreHistory();
  void setLastDateForPersistentHistory(Date date);
  // Merges every transaction after this process's date, its own included,
  // into the view context. Returns once done.
  void updatePersistentHistory();

 private:
  OperationQueue historyQueue_;
  ObserverToken remoteChangeToken_{};
};

}  // namespace qlt
