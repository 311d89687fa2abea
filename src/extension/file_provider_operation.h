#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/dispatch/async_operation.h"
#include "platform/foundation/error.h"
#include "platform/dispatch/operation.h"
#include "platform/dispatch/progress.h"
#include "platform/dispatch/timer.h"

namespace qlt {

class ExtensionModifyCloudRecordsOperation;
class Library;
class ManagedObjectContext;

inline constexpr const char* kFileProviderOperationErrorDomain = "QLTFileProviderOperationErrorDomain";
inline constexpr long kNoLibraryFileProviderOperationErrorCode = 10001;
inline constexpr const char* kLibraryOperationDidStartNotification = "QLTLibraryOperationDidStartNotification";
inline constexpr const char* kLibraryOperationDidEndNotification = "QLTLibraryOperationDidEndNotification";

// How long a cloud request may stay silent before the operation gives up.
inline constexpr double kDefaultResponseTimeoutInterval = 90.0;

// Cocoa 4101 with the no-library error (kFileProviderOperationErrorDomain
// 10001) underneath: what a request gets before the library has loaded.
Error noLibraryFileProviderOperationError();

// Base of every request operation of the file-provider service. It works in
// a background context of its own, reports through a progress object that
// can cancel it, and finishes exactly once through finishWithError(), which
// hands the (converted) result to the subclass's completion.
//
// Owned by std::shared_ptr (the time-out and the progress refer back to it
// weakly).
class FileProviderOperation : public AsyncOperation {
 public:
  // Makes the context and reads the library in it when the shared library
  // manager has a library.
  explicit FileProviderOperation(int64_t progressTotalUnitCount = 1);
  ~FileProviderOperation() override;

  // Null when the library had not loaded when the operation was made.
  std::shared_ptr<ManagedObjectContext> managedObjectContext() const { return managedObjectContext_; }
  // The library as seen from managedObjectContext(); use it only there.
  std::shared_ptr<Library> library() const;
  void setLibrary(std::shared_ptr<Library> library);
  std::shared_ptr<Progress> progress() const;

  // Whether the operation sends its changes to the cloud itself: the library
  // is stored in the cloud, its first upload is done, and the host
  // application is not running (it uploads when it runs).
  bool shouldSaveChangesToCloud() const;

  // Begins executing; a cancelled operation or one without a context
  // finishes at once (user-cancelled or no-library error), others go on
  // with main().
  void start() override;
  // Also cancels the response time-out and the cloud request in flight.
  void cancel() override;

  // The cloud response time-out. Timers are made and invalidated on the
  // main queue; one that fires while the operation runs logs and cancels
  // the operation (without the overriding cancel()).
  void startResponseTimeoutTimer();
  void resetResponseTimeoutTimer();
  void cancelResponseTimeoutTimer();
  bool hasResponseTimeoutTimer() const;
  // This operation's time-out; unset means the process-wide value.
  void setResponseTimeoutInterval(double seconds);
  double responseTimeoutInterval() const;
  // For every operation without its own value; kDefaultResponseTimeoutInterval
  // unless changed.
  static void setDefaultResponseTimeoutInterval(double seconds);
  static double defaultResponseTimeoutInterval();

  // Finishes the operation: a cancelled one reports the user-cancelled
  // error whatever `error` is; the error is converted by convertError() and
  // handed to complete() before the operation counts as finished. Later
  // calls do nothing.
  void finishWithError(const std::optional<Error>& error = std::nullopt);

 protected:
  // The subclass's completion; `error` is null on success.
  virtual void complete(const Error* error) = 0;
  // The subclass's table of errors for the service; unchanged by default.
  virtual Error convertError(const Error& error) const { return error; }

  std::shared_ptr<Operation> currentOperation() const;
  void setCurrentOperation(std::shared_ptr<Operation> operation);

  // Starts an upload as this operation's current operation: it counts for
  // one unit of the progress, its progress restarts the response time-out,
  // and `completion` gets its result (after the time-out is cancelled),
  // unless this operation is gone by then.
  using UploadCompletion = std::function<void(FileProviderOperation& operation, const Error* error)>;
  void runCloudUpload(const std::shared_ptr<ExtensionModifyCloudRecordsOperation>& upload, UploadCompletion completion);

 private:
  void responseTimeoutTimerFired();

  std::shared_ptr<ManagedObjectContext> managedObjectContext_;
  std::shared_ptr<Progress> progress_;
  // Lets the progress's cancellation handler reach the operation once it is
  // owned by a shared pointer.
  std::shared_ptr<std::weak_ptr<FileProviderOperation>> progressTarget_;

  mutable std::mutex mutex_;
  std::shared_ptr<Library> library_;
  std::shared_ptr<Timer> responseTimeoutTimer_;
  std::optional<double> responseTimeoutInterval_;
  std::shared_ptr<Operation> currentOperation_;
  std::atomic<bool> finishing_{false};
};

// Base of library operations that announce their start and end on the
// default notification center (object: the operation), from the main queue.
class LibraryOperation : public Operation {
 public:
  std::shared_ptr<Library> library() const;
  void setLibrary(std::shared_ptr<Library> library);

  void postOperationDidStartNotification();
  void postOperationDidEndNotification();

 private:
  void postOnMainQueue(const char* name);

  mutable std::mutex mutex_;
  std::shared_ptr<Library> library_;
};

}  // namespace qlt
