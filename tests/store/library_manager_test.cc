#include "store/library_manager.h"

#include <gtest/gtest.h>

#include <atomic>

#include "library_fixture.h"
#include "platform/foundation/bundle.h"
#include "platform/files/file_system.h"
#include "platform/dispatch/notification_center.h"
#include "store/library_changes_container.h"

namespace qlt {
namespace {

// Counts the notices a manager posts after merging history.
class HistoryNotices {
 public:
  explicit HistoryNotices(const LibraryManager* manager) {
    token_ = NotificationCenter::defaultCenter().addObserver(kLibraryManagerDidUpdatePersistentHistoryNotification,
                                                             manager, [this](const Notification&) { ++count; });
  }
  ~HistoryNotices() { NotificationCenter::defaultCenter().removeObserver(token_); }
  std::atomic<int> count{0};

 private:
  ObserverToken token_;
};

// A model whose folders never have directories; records what it creates.
struct FolderRecorder : LibraryModelDelegate {
  bool folderExists(const ManagedObjectPtr&) override { return false; }
  bool createFolder(const ManagedObjectPtr& folder, Error*) override {
    created.push_back(folder->entity().name());
    return true;
  }
  void updateOrderedChildren(const ManagedObjectPtr&) override {}
  void consolidateDuplicateTagNames(ManagedObjectContext&) override {}
  std::vector<std::string> created;
};

class LibraryManagerTest : public ::testing::Test, public LibraryFixture {
 protected:
  // A container on the same store, as another process would open it.
  std::unique_ptr<PersistentContainer> otherProcess() {
    auto container = std::make_unique<PersistentContainer>("Quillet", manager->libraryModel(), manager->libraryFilePath());
    container->persistentStoreDescription().options.historyTracking = true;
    container->loadPersistentStores(nullptr);
    return container;
  }
  void renameRootIn(ManagedObjectContext& context, const std::string& name) {
    FetchRequest request("RootFolder");
    auto root = context.fetch(request)->front();
    root->setValueForKey("name", name);
    ASSERT_TRUE(context.save());
  }
  Value viewRootName() {
    Value name;
    view().performAndWait([&] { name = library->objectForKey("rootFolder")->valueForKey("name"); });
    return name;
  }
};

TEST_F(LibraryManagerTest, LayoutAndReloading) {
  ASSERT_TRUE(library) << loadError.description();
  std::string package = scratch.path("Quillet/Quillet Library.qltlib");
  EXPECT_EQ(manager->libraryFilePath(), package);
  EXPECT_TRUE(isDirectory(package));
  EXPECT_TRUE(fileExists(package + "/Quillet.sqlite"));
  EXPECT_EQ(manager->currentImportFolderPath(), manager->currentImportFolderPath());
  EXPECT_TRUE(isDirectory(manager->currentImportFolderPath()));
  EXPECT_EQ(manager->libraryChangesStorePath(), package + "/Library Changes/Library Changes");

  ASSERT_TRUE(createDirectory(package + "/Encrypted", false));
  ASSERT_TRUE(writeFileAtomically(package + "/Encrypted/secret", "x"));
  EXPECT_EQ(manager->libraryEncryptedItemsFolderPath(), package + "/Encrypted.noindex");
  EXPECT_TRUE(fileExists(package + "/Encrypted.noindex/secret"));

  view().performAndWait([&] { EXPECT_TRUE(manager->saveLibrary()) << "nothing to save"; });

  // A second manager finds the library and does not create another.
  auto folders = std::make_shared<FolderRecorder>();
  auto second = std::make_shared<LibraryManager>(folders);
  LibraryManager::setSharedManager(second);
  std::shared_ptr<Library> again;
  second->loadLibrary([&](std::shared_ptr<Library> loaded, const Error*) { again = loaded; });
  ASSERT_TRUE(again);
  EXPECT_TRUE(folders->created.empty()) << "an existing library skips the folder check";
  second->container()->viewContext().performAndWait(
      [&] { EXPECT_EQ(*second->container()->viewContext().count(FetchRequest("Library")), 1); });

  // A new library creates the directories of its three fixed folders.
  ScratchDirectory fresh;
  ScopedEnvironment container("QLT_GROUP_CONTAINER", fresh.path().c_str());
  auto third = std::make_shared<LibraryManager>(folders);
  LibraryManager::setSharedManager(third);
  third->loadLibrary(nullptr);
  EXPECT_EQ(folders->created, (std::vector<std::string>{"RootFolder", "TrashFolder", "SharedFolder"}));
}

TEST_F(LibraryManagerTest, AMissingCustomFilesLocationFailsTheLoad) {
  std::string custom = scratch.path("Elsewhere");
  ASSERT_TRUE(createDirectory(custom, false));
  view().performAndWait([&] {
    library->objectForKey("rootFolder")->setValueForKey("customFolderURLData", Bytes(custom.begin(), custom.end()));
    ASSERT_TRUE(manager->saveLibrary());
  });
  auto reload = [&] {
    auto next = std::make_shared<LibraryManager>();
    LibraryManager::setSharedManager(next);
    Error error;
    std::shared_ptr<Library> loaded;
    next->loadLibrary([&](std::shared_ptr<Library> result, const Error* failure) {
      loaded = result;
      if (failure) error = *failure;
    });
    return std::make_tuple(next, loaded, error);
  };
  auto [found, foundLibrary, noError] = reload();
  EXPECT_TRUE(foundLibrary);
  ASSERT_TRUE(removeItem(custom));
  auto [missing, missingLibrary, error] = reload();
  EXPECT_FALSE(missingLibrary);
  EXPECT_FALSE(missing->library());
  EXPECT_EQ(error.domain(), kLibraryManagerErrorDomain);
  EXPECT_EQ(error.code(), kLibraryManagerCustomFilesLocationErrorCode);
  EXPECT_FALSE(missing->newBackgroundContext());
}

TEST_F(LibraryManagerTest, HistoryFromOtherProcessesAndOwnBackgroundContextsIsMerged) {
  ASSERT_TRUE(library);
  HistoryNotices notices(manager.get());
  manager->updatePersistentStoreHistory();
  Date first = manager->lastDateForPersistentHistory();
  EXPECT_GT(first.timeIntervalSinceReferenceDate(), Date::distantPast().timeIntervalSinceReferenceDate());

  // This process's view-context saves are skipped: nothing to process.
  view().performAndWait([&] {
    library->setValueForKey("fileProviderImportComplete", true);
    ASSERT_TRUE(manager->saveLibrary());
  });
  manager->updatePersistentStoreHistory();
  EXPECT_EQ(notices.count.load(), 0);
  EXPECT_GT(manager->lastDateForPersistentHistory().timeIntervalSinceReferenceDate(),
            first.timeIntervalSinceReferenceDate())
      << "the date moves on even when nothing was processed";

  // Another process's save. (The view context holds the root folder, so it
  // keeps what it read until the merge.)
  ManagedObjectPtr root;
  view().performAndWait([&] { root = library->objectForKey("rootFolder"); });
  viewRootName();
  auto other = otherProcess();
  auto otherContext = other->newBackgroundContext();
  otherContext->setTransactionAuthor("com.quillet.app");
  renameRootIn(*otherContext, "Renamed by the app");
  EXPECT_NE(viewRootName(), Value("Renamed by the app"));
  manager->updatePersistentStoreHistory();
  EXPECT_EQ(viewRootName(), Value("Renamed by the app"));
  EXPECT_EQ(notices.count.load(), 1);

  // This process's background-context saves are merged too.
  auto background = manager->newBackgroundContext();
  renameRootIn(*background, "Renamed in the background");
  manager->updatePersistentStoreHistory();
  EXPECT_EQ(viewRootName(), Value("Renamed in the background"));
  EXPECT_EQ(notices.count.load(), 2);
  EXPECT_FALSE(manager->isProcessingPersistentHistory());
}

TEST_F(LibraryManagerTest, ChangesContainerMergesItsOwnTransactionsToo) {
  ScopedEnvironment bundle("QLT_UNUSED", nullptr);
  auto model = [] {
    ModelBuilder builder("LibraryChangesTest");
    builder.entity("ChangeSet").attribute("identifier", AttributeType::String);
    return builder.build();
  }();
  LibraryChangesPersistentContainer changes("LibraryChanges", model);
  EXPECT_EQ(changes.persistentStoreDescription().path,
            manager->libraryFilePath() + "/Library Changes/LibraryChanges.sqlite");
  EXPECT_TRUE(changes.persistentStoreDescription().options.vacuumOnOpen);
  changes.loadPersistentStores(nullptr);
  ASSERT_TRUE(changes.isLoaded());

  Date before = changes.lastDateForPersistentStoreHistory();
  changes.updatePersistentHistory();
  EXPECT_EQ(changes.lastDateForPersistentStoreHistory().timeIntervalSinceReferenceDate(),
            before.timeIntervalSinceReferenceDate())
      << "no transactions: the date stays";

  ManagedObjectPtr mine;
  changes.viewContext().performAndWait([&] {
    mine = changes.viewContext().insertNewObject("ChangeSet");
    ASSERT_TRUE(changes.viewContext().save());
  });
  auto background = changes.newBackgroundContext();
  background->existingObjectWithID(mine->objectID())->setValueForKey("identifier", "changed");
  ASSERT_TRUE(background->save());
  changes.updatePersistentHistory();
  EXPECT_GT(changes.lastDateForPersistentStoreHistory().timeIntervalSinceReferenceDate(),
            before.timeIntervalSinceReferenceDate());
  changes.viewContext().performAndWait([&] { EXPECT_EQ(mine->valueForKey("identifier"), Value("changed")); });
}

TEST_F(LibraryManagerTest, ChangesContainerFailsWithoutItsFolder) {
  // A file where the folder belongs: the folder cannot be made.
  std::string blocker = manager->libraryFilePath() + "/Library Changes";
  ASSERT_TRUE(writeFileAtomically(blocker, "not a folder"));
  auto model = [] {
    ModelBuilder builder("LibraryChangesTest");
    builder.entity("ChangeSet").attribute("identifier", AttributeType::String);
    return builder.build();
  }();
  LibraryChangesPersistentContainer changes("LibraryChanges", model);
  std::optional<Error> loadFailure;
  changes.loadPersistentStores([&](const PersistentStoreDescription&, const Error* error) {
    if (error) loadFailure = *error;
  });
  EXPECT_FALSE(changes.isLoaded());
  ASSERT_TRUE(loadFailure);
  EXPECT_EQ(loadFailure->code(), kPersistentStoreOpenError);
  EXPECT_FALSE(fileExists("/LibraryChanges.sqlite"));
  EXPECT_FALSE(fileExists("LibraryChanges.sqlite"));
  EXPECT_EQ(readFile(blocker).value_or(""), "not a folder");
}

}  // namespace
}  // namespace qlt
