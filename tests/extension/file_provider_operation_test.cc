#include "extension/file_provider_operation.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "extension/extension_environment.h"
#include "platform/files/group_container.h"
#include "platform/foundation/uniform_type.h"
#include "store/library.h"
#include "store/library_manager.h"
#include "platform/objectstore/managed_object_context.h"
#include "support/polling.h"

namespace qlt {
namespace {

using namespace std::chrono_literals;

class FileProviderOperationTest : public ExtensionTest {
 protected:
  void SetUp() override { loadedExtension(); }

  std::shared_ptr<TestOperation> startWaitingOperation(double timeout = 90) {
    auto operation = std::make_shared<TestOperation>(true);
    operation->setResponseTimeoutInterval(timeout);
    extension_->operationQueue().addOperation(operation);
    EXPECT_TRUE(eventually([&] { return operation->hasResponseTimeoutTimer(); }, 2s));
    return operation;
  }

  void setLibraryValues(bool storeInCloud, bool firstStoreCompleted) {
    auto container = LibraryManager::sharedManager()->container();
    container->viewContext().performAndWait([&] {
      auto library = extension_->library();
      library->setValueForKey("storeInCloudDatabase", storeInCloud);
      library->setValueForKey("firstCloudStoreCompleted", firstStoreCompleted);
      Error error;
      ASSERT_TRUE(container->viewContext().save(&error)) << error.description();
    });
  }
};

TEST_F(FileProviderOperationTest, TheResponseTimeOutCancelsTheOperation) {
  auto operation = startWaitingOperation(0.2);
  ASSERT_TRUE(eventually([&] { return operation->isCancelled(); }, 3s));
  EXPECT_FALSE(operation->isFinished()) << "the cloud request still has to answer";
  operation->finishWithError(Error("CKErrorDomain", 4, "network failure"));
  ASSERT_TRUE(operation->waitForResult());
  std::optional<Error> error = operation->error();
  ASSERT_TRUE(error);
  EXPECT_TRUE(error->is(kCocoaErrorDomain, kCocoaUserCancelledError)) << error->description();
  EXPECT_EQ(error->localizedDescription(), "converted") << "by the subclass's table";
  EXPECT_TRUE(operation->isFinished());
  EXPECT_NE(logText().find(operation->description() + " timed out waiting for iCloud.\n"), std::string::npos);

  operation->finishWithError();
  EXPECT_EQ(operation->completions(), 1);
}

TEST_F(FileProviderOperationTest, CancellingTheProgressCancelsTheOperationAndItsTimeOut) {
  auto operation = startWaitingOperation();
  operation->progress()->cancel();
  EXPECT_TRUE(operation->isCancelled());
  EXPECT_FALSE(operation->hasResponseTimeoutTimer());
  operation->finishWithError();
  ASSERT_TRUE(operation->error());
  EXPECT_TRUE(operation->error()->is(kCocoaErrorDomain, kCocoaUserCancelledError));

  // Cancelled before it starts: it reports at once without running.
  auto early = std::make_shared<TestOperation>(true);
  early->cancel();
  extension_->operationQueue().addOperation(early);
  ASSERT_TRUE(early->waitForResult());
  ASSERT_TRUE(early->error());
  EXPECT_TRUE(early->error()->is(kCocoaErrorDomain, kCocoaUserCancelledError));
  EXPECT_FALSE(early->hasResponseTimeoutTimer());
}

TEST_F(FileProviderOperationTest, SavesToTheCloudOnlyForAStoredLibraryWhileTheHostApplicationIsNotRunning) {
  EXPECT_FALSE(TestOperation().shouldSaveChangesToCloud());
  setLibraryValues(true, false);
  EXPECT_FALSE(TestOperation().shouldSaveChangesToCloud());
  setLibraryValues(false, true);
  EXPECT_FALSE(TestOperation().shouldSaveChangesToCloud());
  setLibraryValues(true, true);
  EXPECT_TRUE(TestOperation().shouldSaveChangesToCloud());

  auto lock = ApplicationLock::acquire(scratch_.path(), std::string(kProductIdentifierPrefix));
  ASSERT_TRUE(lock);
  EXPECT_FALSE(TestOperation().shouldSaveChangesToCloud());
}

}  // namespace
}  // namespace qlt
