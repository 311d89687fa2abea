#include "extension/file_provider_extension.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "extension/extension_environment.h"
#include "extension/file_provider_enumerator.h"
#include "platform/foundation/bundle.h"
#include "platform/dispatch/main_queue.h"
#include "store/library.h"
#include "store/library_manager.h"
#include "platform/objectstore/managed_object_context.h"

namespace qlt {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Keeps the main queue busy until released (or destroyed). Loading the
// library needs the main queue, so this holds it back.
class MainQueueHold {
 public:
  MainQueueHold() {
    std::promise<void> held;
    dispatchMainAsync([&held, released = released_] {
      held.set_value();
      released.wait();
    });
    held.get_future().wait();
  }
  ~MainQueueHold() { release(); }
  void release() {
    if (!done_) release_.set_value();
    done_ = true;
  }

 private:
  std::promise<void> release_;
  std::shared_future<void> released_ = release_.get_future().share();
  bool done_ = false;
};

TEST_F(ExtensionTest, RequestsBeforeTheLibraryLoadedFailWithTheNoLibraryError) {
  MainQueueHold hold;

  FileProviderExtension& extension = makeExtension();
  EXPECT_FALSE(extension.library());
  EXPECT_FALSE(extension.changesManagerContext());
  auto early = std::make_shared<TestOperation>();
  extension.operationQueue().addOperation(early);
  ASSERT_TRUE(early->waitForResult());
  std::optional<Error> error = early->error();
  ASSERT_TRUE(error);
  EXPECT_TRUE(error->is(kCocoaErrorDomain, 4101)) << error->description();
  ASSERT_TRUE(error->underlyingError());
  EXPECT_TRUE(error->underlyingError()->is(kFileProviderOperationErrorDomain, 10001));
  Error lookupError;
  EXPECT_FALSE(extension.enumeratorForContainerItemIdentifier(kRootContainerItemIdentifier, &lookupError));
  EXPECT_TRUE(lookupError.is(kFileProviderErrorDomain, kFileProviderErrorNoSuchItem));

  hold.release();
  ASSERT_TRUE(extension.waitUntilLoaded(20s));
  EXPECT_TRUE(extension.library());
  EXPECT_TRUE(extension.changesManagerContext());
  auto later = std::make_shared<TestOperation>();
  extension.operationQueue().addOperation(later);
  ASSERT_TRUE(later->waitForResult());
  EXPECT_FALSE(later->error());
}

TEST_F(ExtensionTest, TheDefaultDomainKeepsItsLibraryUnderQuillet) {
  loadedExtension("Default");
  EXPECT_EQ(LibraryManager::sharedManager()->libraryFilePath(), scratch_.path("Quillet/Quillet Library.qltlib"));
  EXPECT_TRUE(isDirectory(scratch_.path("Quillet/Quillet Library.qltlib")));
  std::string log = logText();
  EXPECT_LT(log.find("Loading library for domain “Default”\n"), log.find("Loaded library\n"));
  EXPECT_NE(log.find("Loaded library\n"), std::string::npos);
}

TEST_F(ExtensionTest, OtherDomainsKeepTheirLibraryUnderTheDevelopmentFolder) {
  loadedExtension("Test");
  EXPECT_TRUE(isDirectory(scratch_.path("Quillet 2.4 Development/Quillet Library.qltlib")));
  EXPECT_FALSE(fileExists(scratch_.path("Quillet")));
}

TEST_F(ExtensionTest, EnumeratorsForTheRootTrashWorkingSetAndFolders) {
  FileProviderExtension& extension = loadedExtension();

  auto root = std::dynamic_pointer_cast<FolderFileProviderEnumerator>(
      extension.enumeratorForContainerItemIdentifier(kRootContainerItemIdentifier));
  ASSERT_TRUE(root);
  EXPECT_EQ(root->folder()->entity().name(), "RootFolder");
  EXPECT_EQ(root->fileProviderItemIdentifier(), kRootContainerItemIdentifier);
  EXPECT_EQ(root->changesManagerContext(), extension.changesManagerContext());
  EXPECT_TRUE(root->privateLibrary());

  // From the main thread too, where the view context is entered inline.
  std::shared_ptr<FileProviderEnumerator> trashEnumerator;
  dispatchMainSync(
      [&] { trashEnumerator = extension.enumeratorForContainerItemIdentifier(kTrashContainerItemIdentifier); });
  auto trash = std::dynamic_pointer_cast<FolderFileProviderEnumerator>(trashEnumerator);
  ASSERT_TRUE(trash);
  EXPECT_EQ(trash->folder()->entity().name(), "TrashFolder");
  EXPECT_EQ(trash->fileProviderItemIdentifier(), kTrashContainerItemIdentifier);

  auto workingSet = extension.enumeratorForContainerItemIdentifier(kWorkingSetContainerItemIdentifier);
  ASSERT_TRUE(std::dynamic_pointer_cast<WorkingSetFileProviderEnumerator>(workingSet));
  EXPECT_EQ(workingSet->fileProviderItemIdentifier(), kWorkingSetContainerItemIdentifier);

  // Any folder entity, by the identifier between the first two separators.
  for (const char* identifier : {"SharedFolder|SharedFolder", "SharedFolder|SharedFolder|2"}) {
    auto shared = std::dynamic_pointer_cast<FolderFileProviderEnumerator>(
        extension.enumeratorForContainerItemIdentifier(identifier));
    ASSERT_TRUE(shared) << identifier;
    EXPECT_EQ(shared->fileProviderItemIdentifier(), "SharedFolder|SharedFolder");
  }

  for (const char* identifier : {"Folder|NO-SUCH-FOLDER", "SharedFolder"}) {
    Error error;
    EXPECT_FALSE(extension.enumeratorForContainerItemIdentifier(identifier, &error)) << identifier;
    EXPECT_TRUE(error.is(kFileProviderErrorDomain, kFileProviderErrorNoSuchItem)) << error.description();
    EXPECT_EQ(error.itemIdentifier(), std::optional<std::string>(identifier));
  }
  EXPECT_NE(logText().find("Cannot find container folder with identifier Folder|NO-SUCH-FOLDER\n"), std::string::npos);
}

TEST_F(ExtensionTest, MaterializationNoticesWithinTheDelayBecomeOneNotification) {
  FileProviderExtension& extension = loadedExtension();
  const auto delay = std::chrono::milliseconds(static_cast<int>(kNoticeDelay * 1000));
  std::atomic<int64_t> postedAfterMilliseconds{-1};
  Clock::time_point first = Clock::now();
  notifications_->addObserver(
      kFileProviderMaterializedItemsDidChangeNotification, mainBundleIdentifier(), [&](const DistributedNotification&) {
        postedAfterMilliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - first).count();
      });

  Clock::time_point second;
  for (int notice = 0; notice < 2; ++notice) {
    std::this_thread::sleep_until(first + notice * delay / 2);
    if (notice == 1) second = Clock::now();
    auto done = std::make_shared<std::promise<void>>();
    extension.materializedItemsDidChange([done] { done->set_value(); });
    ASSERT_EQ(done->get_future().wait_for(delay / 2), std::future_status::ready) << "notice " << notice;
  }
  EXPECT_EQ(postedAfterMilliseconds, -1) << "completions do not wait for the notification";

  // Observers hear of it after the center recorded it.
  auto deadline = first + 10 * delay;
  while (postedAfterMilliseconds == -1 && Clock::now() < deadline) std::this_thread::sleep_for(5ms);
  EXPECT_GE(postedAfterMilliseconds, delay.count());
  auto secondAt = std::chrono::duration_cast<std::chrono::milliseconds>(second - first).count();
  EXPECT_LT(postedAfterMilliseconds, secondAt + delay.count()) << "the delay runs from the first notice, not the second";
  std::this_thread::sleep_until(Clock::now() + delay);
  EXPECT_EQ(notifications_->names(), std::vector<std::string>{kFileProviderMaterializedItemsDidChangeNotification});
}

TEST_F(ExtensionTest, InvalidateStopsAPendingNoticeAndClosesTheLog) {
  FileProviderExtension& extension = loadedExtension();
  EXPECT_TRUE(extension.logFile());
  std::promise<void> done;
  extension.materializedItemsDidChange([&] { done.set_value(); });
  done.get_future().wait();
  extension.invalidate();
  EXPECT_FALSE(extension.logFile());
  std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(kNoticeDelay * 1500)));
  EXPECT_TRUE(notifications_->names().empty());
}

TEST_F(ExtensionTest, ImportDidFinishMarksTheLibraryAndTellsTheHostApplication) {
  FileProviderExtension& extension = loadedExtension();
  std::promise<void> done;
  extension.importDidFinish([&] { done.set_value(); });
  ASSERT_EQ(done.get_future().wait_for(5s), std::future_status::ready);
  ASSERT_EQ(notifications_->notifications().size(), 1u);
  EXPECT_EQ(notifications_->notifications()[0].notification,
            (DistributedNotification{kFileProviderImportDidEndNotification, mainBundleIdentifier(), {}}));

  auto context = LibraryManager::sharedManager()->newBackgroundContext();
  bool complete = false;
  ObjectID libraryID = extension.library()->objectID();
  context->performAndWait([&] {
    complete = context->existingObjectWithID(libraryID)->valueForKey("fileProviderImportComplete").boolValue();
  });
  EXPECT_TRUE(complete);
}

}  // namespace
}  // namespace qlt
