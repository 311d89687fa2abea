#include "extension/file_provider_operation.h"

#include "cloud/extension_modify_cloud_records_operation.h"

#include "platform/files/group_container.h"
#include "platform/foundation/log.h"
#include "platform/dispatch/main_queue.h"
#include "platform/dispatch/notification_center.h"
#include "platform/dispatch/operation_queue.h"
#include "platform/dispatch/run_loop.h"
#include "platform/foundation/uniform_type.h"
#include "store/library.h"
#include "store/library_manager.h"
#include "platform/objectstore/managed_object_context.h"

namespace qlt {
namespace {

std::atomic<double>& processResponseTimeoutInterval() {
  static std::atomic<double> interval{kDefaultResponseTimeoutInterval};
  return interval;
}

}  // namespace

Error noLibraryFileProviderOperationError() {
  Error error(kCocoaErrorDomain, kCocoaServiceReplyInvalidError);
  error.setUnderlyingError(Error(kFileProviderOperationErrorDomain, kNoLibraryFileProviderOperationErrorCode));
  return error;
}

FileProviderOperation::FileProviderOperation(int64_t progressTotalUnitCount)
    : progress_(Progress::make(progressTotalUnitCount)),
      progressTarget_(std::make_shared<std::weak_ptr<FileProviderOperation>>()) {
  progress_->setCancellationHandler([target = progressTarget_] {
    // Filled before anyone outside can reach the progress.
    if (auto operation = target->lock()) operation->cancel();
  });

  std::shared_ptr<LibraryManager> manager = LibraryManager::sharedManager();
  std::shared_ptr<Library> sharedLibrary = manager->library();
  if (!sharedLibrary) return;
  managedObjectContext_ = manager->newBackgroundContext();
  if (!managedObjectContext_) return;
  ObjectID libraryID = sharedLibrary->objectID();
  managedObjectContext_->performAndWait([&] {
    setLibrary(std::dynamic_pointer_cast<Library>(managedObjectContext_->existingObjectWithID(libraryID)));
  });
}

FileProviderOperation::~FileProviderOperation() {
  std::shared_ptr<Library> library;
  {
    std::lock_guard lock(mutex_);
    library = std::move(library_);
  }
  if (library && managedObjectContext_) managedObjectContext_->performAndWait([&] { library = nullptr; });
}

std::shared_ptr<Library> FileProviderOperation::library() const {
  std::lock_guard lock(mutex_);
  return library_;
}

void FileProviderOperation::setLibrary(std::shared_ptr<Library> library) {
  std::lock_guard lock(mutex_);
  library_ = std::move(library);
}

std::shared_ptr<Progress> FileProviderOperation::progress() const {
  std::lock_guard lock(mutex_);
  if (progressTarget_->expired()) {
    auto self = std::const_pointer_cast<FileProviderOperation>(
        std::static_pointer_cast<const FileProviderOperation>(weak_from_this().lock()));
    *progressTarget_ = self;
  }
  return progress_;
}

bool FileProviderOperation::shouldSaveChangesToCloud() const {
  std::shared_ptr<Library> library = this->library();
  if (!library || !managedObjectContext_) return false;
  bool storeInCloud = false;
  bool firstStoreCompleted = false;
  managedObjectContext_->performAndWait([&] {
    storeInCloud = library->boolForKey("storeInCloudDatabase");
    if (storeInCloud) firstStoreCompleted = library->boolForKey("firstCloudStoreCompleted");
  });
  if (!storeInCloud || !firstStoreCompleted) return false;
  auto container = groupContainerPath(kSharedDefaultsSuite);
  return !(container && isApplicationRunning(*container, std::string(kProductIdentifierPrefix)));
}

void FileProviderOperation::start() {
  progress();  // lets the progress reach this operation from now on
  if (!beginExecuting()) return;
  if (isCancelled()) {
    finishWithError();
    return;
  }
  if (!managedObjectContext_) {
    finishWithError(noLibraryFileProviderOperationError());
    return;
  }
  main();
}

void FileProviderOperation::cancel() {
  cancelResponseTimeoutTimer();
  // Marked first, so that a request stored after the look below sees it.
  AsyncOperation::cancel();
  if (auto operation = currentOperation()) operation->cancel();
}

void FileProviderOperation::setResponseTimeoutInterval(double seconds) {
  std::lock_guard lock(mutex_);
  responseTimeoutInterval_ = seconds;
}

double FileProviderOperation::responseTimeoutInterval() const {
  std::lock_guard lock(mutex_);
  return responseTimeoutInterval_.value_or(processResponseTimeoutInterval().load());
}

void FileProviderOperation::setDefaultResponseTimeoutInterval(double seconds) {
  processResponseTimeoutInterval() = seconds;
}

double FileProviderOperation::defaultResponseTimeoutInterval() { return processResponseTimeoutInterval().load(); }

bool FileProviderOperation::hasResponseTimeoutTimer() const {
  std::lock_guard lock(mutex_);
  return responseTimeoutTimer_ != nullptr;
}

void FileProviderOperation::startResponseTimeoutTimer() {
  if (isCancelled() || isFinished()) return;
  if (hasResponseTimeoutTimer()) {
    resetResponseTimeoutTimer();
    return;
  }
  double interval = responseTimeoutInterval();
  std::weak_ptr<Operation> weakSelf = weak_from_this();
  OperationQueue::mainQueue().addOperationWithBlockAndWaitUntilFinished([&] {
    auto timer = Timer::make(interval, false, [weakSelf](Timer&) {
      if (auto self = std::static_pointer_cast<FileProviderOperation>(weakSelf.lock()))
        self->responseTimeoutTimerFired();
    });
    timer->setTolerance(1.0);
    {
      std::lock_guard lock(mutex_);
      responseTimeoutTimer_ = timer;
    }
    RunLoop::main().addTimer(timer, RunLoopMode::Default);
  });
}

void FileProviderOperation::resetResponseTimeoutTimer() {
  cancelResponseTimeoutTimer();
  startResponseTimeoutTimer();
}

void FileProviderOperation::cancelResponseTimeoutTimer() {
  if (!hasResponseTimeoutTimer()) return;
  OperationQueue::mainQueue().addOperationWithBlockAndWaitUntilFinished([this] {
    std::shared_ptr<Timer> timer;
    {
      std::lock_guard lock(mutex_);
      timer = std::move(responseTimeoutTimer_);
    }
    if (timer) timer->invalidate();
  });
}

void FileProviderOperation::responseTimeoutTimerFired() {
  if (isCancelled() || isFinished()) return;
  log("%@ timed out waiting for iCloud.", description());
  Operation::cancel();
  // The silent request is given up too, so that its completion (with the
  // cancellation) finishes this operation even if the server never answers.
  if (auto operation = currentOperation()) operation->cancel();
}

void FileProviderOperation::finishWithError(const std::optional<Error>& error) {
  if (finishing_.exchange(true)) return;
  auto keepAlive = weak_from_this().lock();
  std::optional<Error> reported = isCancelled() ? std::optional<Error>(userCancelledError()) : error;
  if (reported) {
    Error converted = convertError(*reported);
    complete(&converted);
  } else {
    complete(nullptr);
  }
  finish();
}

void FileProviderOperation::runCloudUpload(const std::shared_ptr<ExtensionModifyCloudRecordsOperation>& upload,
                                           UploadCompletion completion) {
  std::weak_ptr<FileProviderOperation> weakSelf =
      std::static_pointer_cast<FileProviderOperation>(shared_from_this());
  upload->setCloudOperationProgressBlock([weakSelf](const std::shared_ptr<Progress>&) {
    if (auto operation = weakSelf.lock()) operation->resetResponseTimeoutTimer();
  });
  upload->setCloudOperationCompletionBlock([weakSelf, completion = std::move(completion)](const Error* error) {
    auto operation = weakSelf.lock();
    if (!operation) return;
    operation->cancelResponseTimeoutTimer();
    operation->setCurrentOperation(nullptr);
    completion(*operation, error);
  });
  progress()->addChild(upload->progress(), 1);
  setCurrentOperation(upload);
  startResponseTimeoutTimer();
  upload->start();
}

std::shared_ptr<Operation> FileProviderOperation::currentOperation() const {
  std::lock_guard lock(mutex_);
  return currentOperation_;
}

void FileProviderOperation::setCurrentOperation(std::shared_ptr<Operation> operation) {
  std::lock_guard lock(mutex_);
  currentOperation_ = std::move(operation);
}

std::shared_ptr<Library> LibraryOperation::library() const {
  std::lock_guard lock(mutex_);
  return library_;
}

void LibraryOperation::setLibrary(std::shared_ptr<Library> library) {
  std::lock_guard lock(mutex_);
  library_ = std::move(library);
}

void LibraryOperation::postOperationDidStartNotification() { postOnMainQueue(kLibraryOperationDidStartNotification); }

void LibraryOperation::postOperationDidEndNotification() { postOnMainQueue(kLibraryOperationDidEndNotification); }

void LibraryOperation::postOnMainQueue(const char* name) {
  // Kept alive until posted, so that observers may look at the object.
  std::shared_ptr<Operation> keepAlive = weak_from_this().lock();
  const void* object = this;
  std::string notification = name;
  dispatchMainAsync([keepAlive, object, notification] {
    NotificationCenter::defaultCenter().post(notification, object);
  });
}

}  // namespace qlt
