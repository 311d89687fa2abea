// Every request of the write path, run again and again with one disk access
// failing each time: each failure is reported and leaves the library, its
// files and its changes as they were. Then, for a library the extension
// uploads, with each cloud request failing in turn: each failure is reported
// converted, and the request is undone or kept as the operation promises,
// its change set left pending.
#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <map>
#include <vector>

#include "extension/library_content_fixture.h"
#include "extension/library_object_file_provider_item.h"
#include "model/tag_data.h"
#include "platform/cloud/cloud_error.h"
#include "platform/files/file_error.h"
#include "platform/foundation/uniform_type.h"
#include "platform/objectstore/persistent_store.h"
#include "platform/objectstore/store_coordinator.h"
#include "platform/sqlite/database.h"
#include "platform/sqlite/statement.h"
#include "util/file_manager.h"
#include "support/faulty_file_system.h"
#include "support/tree_snapshot.h"

namespace qlt {
namespace {

using Access = FaultyFileSystem::Access;

std::string describe(const std::string& row) { return row; }
std::string describe(const std::pair<const std::string, std::string>& item) { return item.first + ": " + item.second; }

const char* accessName(Access kind) {
  switch (kind) {
    case Access::Write: return "write";
    case Access::Sync: return "sync";
    case Access::Rename: return "rename";
    case Access::Create: return "create";
    case Access::Remove: return "remove";
    case Access::Attribute: return "attribute";
  }
  return "?";
}

// Every row of every table of a database but its change history, as text.
std::vector<std::string> rowsOf(const std::string& path) {
  std::vector<std::string> rows;
  auto database = Database::open(path);
  if (!database) return {"cannot open " + path};
  std::vector<std::string> tables;
  auto names = database->prepare(
      "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE '_qlt_history%' ORDER BY name");
  while (names && names->step()) tables.emplace_back(names->columnText(0));
  for (const std::string& table : tables) {
    auto select = database->prepare("SELECT * FROM \"" + table + "\"");
    while (select && select->step()) {
      std::string row = table;
      for (int column = 0; column < select->columnCount(); ++column)
        row += "|" + (select->isNull(column) ? std::string("null") : std::string(select->columnText(column)));
      rows.push_back(std::move(row));
    }
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

// What is in `after` and not in `before` ("+") and the reverse ("-").
template <class Container>
std::string differences(const Container& before, const Container& after) {
  std::string text;
  for (const auto& entry : after)
    if (std::find(before.begin(), before.end(), entry) == before.end()) text += "\n+ " + describe(entry);
  for (const auto& entry : before)
    if (std::find(after.begin(), after.end(), entry) == after.end()) text += "\n- " + describe(entry);
  return text;
}

// Whether the error, or one under it, says the disk is full.
bool outOfSpace(const Error& error) {
  for (const Error* cause = &error; cause; cause = cause->underlyingError())
    if (cause->is(kCocoaErrorDomain, kCocoaFileWriteOutOfSpaceError)) return true;
  return false;
}

class WritePathFaultTest : public LibraryContentTest {
 protected:
  // One run of a request on objects of its own.
  struct Run {
    std::function<std::optional<Error>()> request;
    // Checks that the request, reported as done, was done in full.
    std::function<void()> checkDone;
  };

  struct Snapshot {
    std::map<std::string, std::string> files;
    std::vector<std::string> libraryRows;
    std::vector<std::string> changeRows;
    bool operator==(const Snapshot&) const = default;
  };

  void SetUp() override {
    LibraryContentTest::SetUp();
    library_ = LibraryManager::sharedManager()->libraryFolderPath();
    disk_ = std::make_unique<FaultyFileSystem>(library_);
  }

  Snapshot snapshot() {
    auto manager = LibraryManager::sharedManager();
    Snapshot taken;
    // The writers' lock file is made by the first writer, and holds nothing.
    taken.files = snapshotTree(library_, [](const std::string& relative) {
      return relative.find(".sqlite") != std::string::npos || relative.find("Changes") != std::string::npos ||
             relative.ends_with("/Writer.lock");
    });
    taken.libraryRows = rowsOf(manager->libraryPersistentStorePath());
    taken.changeRows = rowsOf(manager->libraryChangesStorePath());
    return taken;
  }

  // Runs one request counting its disk accesses, then once more for each of
  // them with that access failing, and once for each write with the disk
  // full half-way through it. After each failure the request must have
  // returned an error `checkError` accepts and left everything as it was.
  // Returns how many failures were driven.
  int driveFaults(const std::function<Run(int)>& prepare, const std::function<void(const Error&)>& checkError) {
    int runs = 0;
    std::map<Access, int> counts;
    std::vector<size_t> fullDiskPoints;
    {
      Run run = prepare(runs++);
      std::map<Access, int> before;
      for (Access kind : FaultyFileSystem::kAccesses) before[kind] = disk_->count(kind);
      disk_->startRecordingWrites();
      std::optional<Error> error;
      {
        ScopedFileSystemCalls faulty(*disk_);
        error = run.request();
      }
      fullDiskPoints = disk_->stopRecordingWrites();
      EXPECT_FALSE(error) << "without faults: " << error->description();
      run.checkDone();
      for (Access kind : FaultyFileSystem::kAccesses) counts[kind] = disk_->count(kind) - before[kind];
    }
    int driven = 0;
    auto tryOnce = [&](const std::string& fault, const std::function<void()>& plan, bool diskFull = false) {
      SCOPED_TRACE(fault);
      Run run = prepare(runs++);
      const Snapshot before = snapshot();
      plan();
      std::optional<Error> error;
      {
        ScopedFileSystemCalls faulty(*disk_);
        error = run.request();
      }
      disk_->heal();
      ++driven;
      if (!error) {
        run.checkDone();
        return;
      }
      checkError(*error);
      if (diskFull) {
        EXPECT_TRUE(outOfSpace(*error)) << error->description();
      }
      const Snapshot after = snapshot();
      EXPECT_TRUE(after == before) << fault << ": " << error->description()
                                   << differences(before.files, after.files)
                                   << differences(before.libraryRows, after.libraryRows)
                                   << differences(before.changeRows, after.changeRows);
    };
    for (Access kind : FaultyFileSystem::kAccesses)
      for (int nth = 1; nth <= counts[kind]; ++nth)
        tryOnce(std::string("failing ") + accessName(kind) + " " + std::to_string(nth) + " of " +
                    std::to_string(counts[kind]),
                [&] { disk_->failAccess(kind, nth); });
    for (size_t index = 0; index < fullDiskPoints.size(); ++index)
      tryOnce("disk full in write " + std::to_string(index + 1) + " of " + std::to_string(fullDiskPoints.size()),
              [&] { disk_->fillDiskAfter(fullDiskPoints[index]); }, true);
    std::string plan = std::to_string(driven) + " failures:";
    for (Access kind : FaultyFileSystem::kAccesses) plan += " " + std::to_string(counts[kind]) + " " + accessName(kind);
    RecordProperty("loop " + std::to_string(++loops_), plan + ", " + std::to_string(fullDiskPoints.size()) + " disk full");
    return driven;
  }

  // Requests, waited for.
  std::optional<Error> create(FileProviderItemPtr values, uint64_t fields, const std::optional<std::string>& contents) {
    auto result = std::make_shared<std::promise<std::optional<Error>>>();
    extension_->createItemBasedOnTemplate(std::move(values), fields, contents, 0,
                                          [result](FileProviderItemPtr, uint64_t, bool, const Error* error) {
                                            result->set_value(error ? std::optional<Error>(*error) : std::nullopt);
                                          });
    return wait(result);
  }
  std::optional<Error> modify(FileProviderItemPtr values, uint64_t fields,
                              const std::optional<std::string>& contents = std::nullopt) {
    auto result = std::make_shared<std::promise<std::optional<Error>>>();
    extension_->modifyItem(std::move(values), std::nullopt, fields, contents, 0,
                           [result](FileProviderItemPtr, uint64_t, bool, const Error* error) {
                             result->set_value(error ? std::optional<Error>(*error) : std::nullopt);
                           });
    return wait(result);
  }
  std::optional<Error> remove(const std::string& identifier) {
    auto result = std::make_shared<std::promise<std::optional<Error>>>();
    extension_->deleteItemWithIdentifier(identifier, std::nullopt, kFileProviderDeleteItemRecursive,
                                         [result](const Error* error) {
                                           result->set_value(error ? std::optional<Error>(*error) : std::nullopt);
                                         });
    return wait(result);
  }
  static std::optional<Error> wait(const std::shared_ptr<std::promise<std::optional<Error>>>& result) {
    auto future = result->get_future();
    EXPECT_EQ(future.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    return future.get();
  }

  std::shared_ptr<FileProviderItemTemplate> valuesOf(const ManagedObjectPtr& object) {
    std::shared_ptr<FileProviderItemTemplate> values;
    context_->performAndWait([&] {
      context_->refreshAllObjects();
      values = FileProviderItemTemplate::copyOf(*fileProviderItem(object));
    });
    return values;
  }

  // A new item or folder at the top of the library.
  static std::shared_ptr<FileProviderItemTemplate> topLevelTemplate(const std::string& name, const UniformType& type) {
    auto values = std::make_shared<FileProviderItemTemplate>();
    values->name = name;
    values->parent = kRootContainerItemIdentifier;
    values->type = type.identifier();
    return values;
  }

  // New contents for a new item named `name` and the run's number.
  Run newContentsRun(const std::string& name, int run) {
    auto subject = item(root_, name + std::to_string(run) + ".txt", 1000, 1000);
    auto values = valuesOf(subject);
    std::string contents = staged("new contents " + std::to_string(run));
    std::string path = pathOf(subject);
    return Run{[=, this] { return modify(values, kFileProviderItemContents, contents); },
               [=] { EXPECT_EQ(readFile(path).value_or(""), "new contents " + std::to_string(run)); }};
  }

  std::string staged(const std::string& contents) {
    std::string path = scratch_.path("staged-" + std::to_string(++stagedCount_));
    EXPECT_TRUE(writeFileAtomically(path, contents));
    return path;
  }

  std::string pathOf(const std::shared_ptr<Item>& object) {
    std::string path;
    context_->performAndWait([&] { path = object->fileURL().value_or(""); });
    return path;
  }

  std::string library_;
  std::unique_ptr<FaultyFileSystem> disk_;
  int loops_ = 0;
  int stagedCount_ = 0;
};

void expectWriteError(const Error& error) {
  EXPECT_TRUE(error.domain() == kCocoaErrorDomain || error.domain() == kFileProviderErrorDomain)
      << error.description();
}

TEST_F(WritePathFaultTest, CreatingAnItemOrAFolder) {
  int driven = driveFaults(
      [&](int run) {
        auto values = topLevelTemplate("New " + std::to_string(run) + ".txt", UniformType::plainText());
        values->modified = Date::fromUnixTime(1500000000);
        values->tags = fileProviderTagData({{"Work", 6}});
        values->attributes = {{"org.example.note", Bytes{'h', 'i'}}};
        const uint64_t fields = kFileProviderItemContents | kFileProviderItemFilename |
                                kFileProviderItemParentItemIdentifier | kFileProviderItemContentModificationDate |
                                kFileProviderItemTagData | kFileProviderItemExtendedAttributes;
        std::string contents = staged("contents of run " + std::to_string(run));
        std::string path = appendingPathComponent(*root_->folderPath(), values->name);
        return Run{[=, this] { return create(values, fields, contents); },
                   [=] {
                     EXPECT_EQ(readFile(path).value_or(""), "contents of run " + std::to_string(run));
                     EXPECT_EQ(xattrDataValue("org.example.note", path), (Bytes{'h', 'i'}));
                   }};
      },
      expectWriteError);
  EXPECT_GT(driven, 3);

  driven = driveFaults(
      [&](int run) {
        auto values = topLevelTemplate("Folder " + std::to_string(run), UniformType::folder());
        values->attributes = {{"org.example.mark", Bytes{'m'}}};
        std::string path = appendingPathComponent(*root_->folderPath(), values->name);
        const uint64_t fields =
            kFileProviderItemFilename | kFileProviderItemParentItemIdentifier | kFileProviderItemExtendedAttributes;
        return Run{[=, this] { return create(values, fields, std::nullopt); },
                   [=] { EXPECT_EQ(xattrDataValue("org.example.mark", path), (Bytes{'m'})); }};
      },
      expectWriteError);
  EXPECT_GT(driven, 0);
}

TEST_F(WritePathFaultTest, RenamingMovingAndTrashing) {
  Folder::Ptr target = folder(root_, "Target", 1000);
  const std::string targetIdentifier = identifierOf(target);
  const std::string targetPath = *target->folderPath();
  struct Case {
    const char* what;
    std::function<void(FileProviderItemTemplate&, int)> change;
    uint64_t fields;
    std::function<std::string(int)> placeAfter;
  };
  const std::string rootPath = *root_->folderPath();
  const std::string trashPath = *trash_->folderPath();
  const std::vector<Case> cases = {
      {"rename", [](FileProviderItemTemplate& values, int run) { values.name = "Renamed " + std::to_string(run) + ".txt"; },
       kFileProviderItemFilename,
       [=](int run) { return appendingPathComponent(rootPath, "Renamed " + std::to_string(run) + ".txt"); }},
      {"move", [&](FileProviderItemTemplate& values, int) { values.parent = targetIdentifier; },
       kFileProviderItemParentItemIdentifier,
       [=](int run) { return appendingPathComponent(targetPath, "Subject " + std::to_string(run) + ".txt"); }},
      {"trash", [](FileProviderItemTemplate& values, int) { values.parent = kTrashContainerItemIdentifier; },
       kFileProviderItemParentItemIdentifier,
       [=](int run) { return appendingPathComponent(trashPath, "Subject " + std::to_string(run) + ".txt"); }},
  };
  for (const Case& tried : cases) {
    SCOPED_TRACE(tried.what);
    int driven = driveFaults(
        [&](int run) {
          auto subject = item(root_, "Subject " + std::to_string(run) + ".txt", 1000, 1000);
          auto values = valuesOf(subject);
          tried.change(*values, run);
          std::string after = tried.placeAfter(run);
          return Run{[=, this] { return modify(values, tried.fields); },
                     [=] { EXPECT_EQ(readFile(after).value_or(""), "contents"); }};
        },
        expectWriteError);
    EXPECT_GT(driven, 0);
  }
}

TEST_F(WritePathFaultTest, UntrashingAndMovingAFolderWithItsItems) {
  const std::string rootPath = *root_->folderPath();
  int driven = driveFaults(
      [&](int run) {
        const std::string name = "Subject " + std::to_string(run) + ".txt";
        auto subject = item(trash_, name, 1000, 1000);
        auto values = valuesOf(subject);
        values->parent = kRootContainerItemIdentifier;
        return Run{[=, this] { return modify(values, kFileProviderItemParentItemIdentifier); },
                   [=] { EXPECT_EQ(readFile(appendingPathComponent(rootPath, name)).value_or(""), "contents"); }};
      },
      expectWriteError);
  EXPECT_GT(driven, 0);

  Folder::Ptr target = folder(root_, "Target", 1000);
  const std::string targetIdentifier = identifierOf(target);
  const std::string targetPath = *target->folderPath();
  driven = driveFaults(
      [&](int run) {
        Folder::Ptr moved = folder(root_, "Old " + std::to_string(run), 1000);
        item(moved, "Letter.txt", 1000, 1000);
        auto values = valuesOf(moved);
        values->parent = targetIdentifier;
        values->name = "Older " + std::to_string(run);
        const std::string letter = targetPath + "/Older " + std::to_string(run) + "/Letter.txt";
        return Run{[=, this] {
                     return modify(values, kFileProviderItemParentItemIdentifier | kFileProviderItemFilename);
                   },
                   [=] { EXPECT_EQ(readFile(letter).value_or(""), "contents"); }};
      },
      expectWriteError);
  EXPECT_GT(driven, 0);
}

TEST_F(WritePathFaultTest, NewContentsDatesTagsAndAttributes) {
  int driven = driveFaults(
      [&](int run) { return newContentsRun("Subject ", run); }, expectWriteError);
  EXPECT_GT(driven, 3);

  driven = driveFaults(
      [&](int run) {
        auto subject = item(root_, "Subject " + std::to_string(run) + ".txt", 1000, 1000);
        auto values = valuesOf(subject);
        values->modified = Date::fromUnixTime(1500000000);
        values->tags = fileProviderTagData({{"Urgent", 2}});
        values->attributes = {{"org.example.late", Bytes{'l'}}};
        std::string path = pathOf(subject);
        const uint64_t fields =
            kFileProviderItemContentModificationDate | kFileProviderItemTagData | kFileProviderItemExtendedAttributes;
        return Run{[=, this] { return modify(values, fields); },
                   [=] { EXPECT_TRUE(xattrDataValue("org.example.late", path)); }};
      },
      expectWriteError);
  EXPECT_GT(driven, 0);
}

TEST_F(WritePathFaultTest, DeletingAnItemOrAFolderWithItsItems) {
  int driven = driveFaults(
      [&](int run) {
        auto subject = item(root_, "Subject " + std::to_string(run) + ".txt", 1000, 1000);
        std::string identifier = identifierOf(subject);
        std::string path = pathOf(subject);
        return Run{[=, this] { return remove(identifier); }, [=] { EXPECT_FALSE(fileExists(path)); }};
      },
      expectWriteError);
  EXPECT_GT(driven, 0);

  driven = driveFaults(
      [&](int run) {
        Folder::Ptr doomed = folder(root_, "Doomed " + std::to_string(run), 1000);
        item(doomed, "Letter.txt", 1000, 1000);
        item(doomed, "Memo.txt", 1000, 1000);
        std::string identifier = identifierOf(doomed);
        std::string path = *doomed->folderPath();
        return Run{[=, this] { return remove(identifier); }, [=] { EXPECT_FALSE(fileExists(path)); }};
      },
      expectWriteError);
  EXPECT_GT(driven, 0);
}

// A modification whose save fails after the file has moved (another
// connection holds the database's write lock by then): the file goes back
// where its row says, with the tags it had.
TEST_F(WritePathFaultTest, AModificationWhoseSaveFailsPutsTheFileBack) {
  Folder::Ptr target = folder(root_, "Target", 1000);
  auto subject = item(root_, "Subject.txt", 1000, 1000);
  auto values = valuesOf(subject);
  values->parent = identifierOf(target);
  values->name = "Moved.txt";
  values->tags = fileProviderTagData({{"Urgent", 6}});
  const std::string path = pathOf(subject);
  const std::string storePath = LibraryManager::sharedManager()->libraryPersistentStorePath();
  {
    std::lock_guard lock(context_->coordinator()->mutex());
    context_->coordinator()->store().database().setBusyTimeout(std::chrono::milliseconds(0));
  }
  std::unique_ptr<Database> other;
  disk_->afterNextRename([&] {
    other = Database::open(storePath);
    ASSERT_TRUE(other && other->execute("BEGIN EXCLUSIVE"));
  });

  const Snapshot before = snapshot();
  std::optional<Error> error;
  {
    ScopedFileSystemCalls faulty(*disk_);
    error = modify(values, kFileProviderItemFilename | kFileProviderItemParentItemIdentifier |
                               kFileProviderItemTagData);
  }
  ASSERT_TRUE(other) << "the file never moved";
  ASSERT_TRUE(other->execute("ROLLBACK"));
  other.reset();
  {
    std::lock_guard lock(context_->coordinator()->mutex());
    context_->coordinator()->store().database().setBusyTimeout(std::chrono::milliseconds(5000));
  }
  ASSERT_TRUE(error) << "the save cannot have succeeded";
  const Snapshot after = snapshot();
  EXPECT_TRUE(after == before) << error->description() << differences(before.files, after.files)
                               << differences(before.libraryRows, after.libraryRows);
  EXPECT_EQ(readFile(path).value_or(""), "contents");

  EXPECT_FALSE(modify(values, kFileProviderItemFilename | kFileProviderItemParentItemIdentifier |
                                  kFileProviderItemTagData))
      << "the same request goes through once the database is free";
  EXPECT_EQ(readFile(appendingPathComponent(*target->folderPath(), "Moved.txt")).value_or(""), "contents");
}

// What a request does with its local change when its upload fails.
enum class AfterUploadFailure {
  Kept,           // saved, and its change set left pending for a later upload
  Undone,         // as if it had never been asked for
  NotYetApplied,  // the cloud goes first: the library as it was, the change set pending
};

struct CloudFault {
  long code;
  long reported;  // in the file-provider domain, or 4101 in Cocoa's
  const char* domain;
};

class CloudRequestFaultTest : public WritePathFaultTest {
 protected:
  void SetUp() override {
    WritePathFaultTest::SetUp();
    makeCloudLibrary();
    cloud_ = installCloud();
  }

  // The library with what fetching items changes in them saved: an item
  // whose upload completed takes its last uploaded modification date when
  // first fetched, and any later save in that context writes it.
  Snapshot settledSnapshot() {
    context_->performAndWait([&] {
      context_->refreshAllObjects();
      (void)context_->fetch(FetchRequest("Item"));
      EXPECT_TRUE(context_->save());
    });
    return snapshot();
  }

  size_t pendingChangeSets() {
    auto statuses = changeSets().first;
    return static_cast<size_t>(std::count(statuses.begin(), statuses.end(), LibraryChangeSetStatus::Pending));
  }

  // Runs a request counting its cloud requests, then once more for each of
  // them failing with each fault. `outcome` says what a failure leaves for
  // a cloud error code; `identifierOf(run)` is the item a "cannot
  // synchronize" error must name (empty: not checked). Returns how many
  // failures were driven.
  int driveCloudFaults(const std::function<Run(int)>& prepare, const std::vector<CloudFault>& faults,
                       const std::function<AfterUploadFailure(long)>& outcome) {
    int runs = 0;
    size_t requests = 0;
    {
      Run run = prepare(runs++);
      const size_t before = cloud_->faults().requestCount();
      std::optional<Error> error = run.request();
      EXPECT_FALSE(error) << "without faults: " << error->description();
      run.checkDone();
      requests = cloud_->faults().requestCount() - before;
    }
    EXPECT_GT(requests, 0u) << "the request never reached the cloud";
    int driven = 0;
    for (size_t nth = 1; nth <= requests; ++nth) {
      for (const CloudFault& fault : faults) {
        SCOPED_TRACE("cloud request " + std::to_string(nth) + " of " + std::to_string(requests) + " failing with " +
                     std::to_string(fault.code));
        Run run = prepare(runs++);
        const Snapshot before = settledSnapshot();
        const size_t pendingBefore = pendingChangeSets();
        cloud_->faults().reset();
        if (nth > 1) cloud_->faults().delayNextRequests(std::chrono::milliseconds(0), static_cast<int>(nth - 1));
        cloud_->faults().failNextRequests(cloudError(fault.code));
        std::optional<Error> error = run.request();
        cloud_->faults().reset();
        ++driven;
        if (!error) {
          ADD_FAILURE() << "a failed upload must be reported";
          continue;
        }
        EXPECT_TRUE(error->is(fault.domain, fault.reported)) << error->description();
        const Error* underlying = error->underlyingError();
        EXPECT_TRUE(underlying && underlying->is(kCloudErrorDomain, fault.code)) << error->description();
        const Snapshot after = settledSnapshot();
        switch (outcome(fault.code)) {
          case AfterUploadFailure::Kept:
            run.checkDone();
            EXPECT_EQ(pendingChangeSets(), pendingBefore + 1) << "its change set waits for a later upload";
            break;
          case AfterUploadFailure::Undone:
            EXPECT_TRUE(after == before) << error->description() << differences(before.files, after.files)
                                         << differences(before.libraryRows, after.libraryRows)
                                         << differences(before.changeRows, after.changeRows);
            break;
          case AfterUploadFailure::NotYetApplied:
            EXPECT_TRUE(after.files == before.files && after.libraryRows == before.libraryRows)
                << error->description() << differences(before.files, after.files)
                << differences(before.libraryRows, after.libraryRows);
            EXPECT_EQ(pendingChangeSets(), pendingBefore + 1) << "its change set waits for a later upload";
            break;
        }
      }
    }
    return driven;
  }

  std::shared_ptr<EmbeddedCloudContainer> cloud_;
};

// Errors the file-provider service knows, one of each conversion; the last
// is one it does not.
const std::vector<CloudFault> kCreateAndDeleteFaults = {
    {kCloudErrorNetworkFailure, kFileProviderErrorServerUnreachable, kFileProviderErrorDomain},
    {kCloudErrorQuotaExceeded, kFileProviderErrorInsufficientQuota, kFileProviderErrorDomain},
    {kCloudErrorNotAuthenticated, kFileProviderErrorNotAuthenticated, kFileProviderErrorDomain},
    {kCloudErrorLimitExceeded, kFileProviderErrorCannotSynchronize, kFileProviderErrorDomain},
};
const std::vector<CloudFault> kModifyFaults = {
    {kCloudErrorNetworkFailure, kFileProviderErrorServerUnreachable, kFileProviderErrorDomain},
    {kCloudErrorQuotaExceeded, kFileProviderErrorInsufficientQuota, kFileProviderErrorDomain},
    {kCloudErrorAccountTemporarilyUnavailable, kFileProviderErrorNotAuthenticated, kFileProviderErrorDomain},
    {kCloudErrorLimitExceeded, 4101, kCocoaErrorDomain},
};

TEST_F(CloudRequestFaultTest, CreationsAreKeptForLaterUnlessTheQuotaIsExceeded) {
  auto outcome = [](long code) {
    return code == kCloudErrorQuotaExceeded ? AfterUploadFailure::Undone : AfterUploadFailure::Kept;
  };
  int driven = driveCloudFaults(
      [&](int run) {
        auto values = topLevelTemplate("New " + std::to_string(run) + ".txt", UniformType::plainText());
        values->tags = fileProviderTagData({{"Tag " + std::to_string(run), 6}});
        std::string contents = staged("contents of run " + std::to_string(run));
        std::string path = appendingPathComponent(*root_->folderPath(), values->name);
        const uint64_t fields = kFileProviderItemContents | kFileProviderItemFilename |
                                kFileProviderItemParentItemIdentifier | kFileProviderItemTagData;
        return Run{[=, this] { return create(values, fields, contents); },
                   [=] { EXPECT_EQ(readFile(path).value_or(""), "contents of run " + std::to_string(run)); }};
      },
      kCreateAndDeleteFaults, outcome);
  EXPECT_GE(driven, 4);

  driven = driveCloudFaults(
      [&](int run) {
        auto values = topLevelTemplate("Folder " + std::to_string(run), UniformType::folder());
        std::string path = appendingPathComponent(*root_->folderPath(), values->name);
        return Run{[=, this] {
                     return create(values, kFileProviderItemFilename | kFileProviderItemParentItemIdentifier,
                                   std::nullopt);
                   },
                   [=] { EXPECT_TRUE(isDirectory(path)); }};
      },
      kCreateAndDeleteFaults, outcome);
  EXPECT_GE(driven, 4);
}

TEST_F(CloudRequestFaultTest, ModificationsAreKeptForLater) {
  Folder::Ptr target = folder(root_, "Target", 1000);
  const std::string targetIdentifier = identifierOf(target);
  const std::string targetPath = *target->folderPath();
  auto kept = [](long) { return AfterUploadFailure::Kept; };
  int driven = driveCloudFaults(
      [&](int run) {
        auto subject = item(root_, "Subject " + std::to_string(run) + ".txt", 1000, 1000);
        auto values = valuesOf(subject);
        values->parent = targetIdentifier;
        values->name = "Moved " + std::to_string(run) + ".txt";
        std::string after = appendingPathComponent(targetPath, values->name);
        return Run{[=, this] {
                     return modify(values, kFileProviderItemFilename | kFileProviderItemParentItemIdentifier);
                   },
                   [=] { EXPECT_EQ(readFile(after).value_or(""), "contents"); }};
      },
      kModifyFaults, kept);
  EXPECT_GE(driven, 4);

  driven = driveCloudFaults(
      [&](int run) { return newContentsRun("Rewritten ", run); }, kModifyFaults, kept);
  EXPECT_GE(driven, 4);
}

TEST_F(CloudRequestFaultTest, DeletionsWaitForTheCloud) {
  auto notYet = [](long) { return AfterUploadFailure::NotYetApplied; };
  int driven = driveCloudFaults(
      [&](int run) {
        Folder::Ptr doomed = folder(root_, "Doomed " + std::to_string(run), 1000);
        item(doomed, "Letter.txt", 1000, 1000);
        std::string identifier = identifierOf(doomed);
        std::string path = *doomed->folderPath();
        return Run{[=, this] { return remove(identifier); }, [=] { EXPECT_FALSE(fileExists(path)); }};
      },
      kCreateAndDeleteFaults, notYet);
  EXPECT_GE(driven, 4);
}

// A deletion's upload in which the cloud refuses one record, each record of
// the folder and its items in turn: the refusal is reported, the library
// keeps the folder, its change set waits, and the request asked again goes
// through.
TEST_F(CloudRequestFaultTest, ADeletionWithOneRecordRefusedWaitsForTheCloud) {
  int run = 0;
  for (long code : {kCloudErrorServerRecordChanged, kCloudErrorQuotaExceeded}) {
    for (size_t refused = 0; refused < 3; ++refused) {
      SCOPED_TRACE("record " + std::to_string(refused) + " refused with " + std::to_string(code));
      Folder::Ptr doomed = folder(root_, "Doomed " + std::to_string(run++), 1000);
      auto first = item(doomed, "One.txt", 1000, 1000);
      auto second = item(doomed, "Two.txt", 1000, 1000);
      std::vector<RecordID> records;
      std::string path;
      context_->performAndWait([&] {
        records = {doomed->cloudRecordID(), first->cloudRecordID(), second->cloudRecordID()};
        path = doomed->folderPath().value_or("");
      });
      const Snapshot before = settledSnapshot();
      const size_t pendingBefore = pendingChangeSets();
      cloud_->faults().failRecords({records[refused]}, cloudError(code));
      std::optional<Error> error = remove(identifierOf(doomed));
      cloud_->faults().reset();
      ASSERT_TRUE(error) << "a refused record must be reported";
      EXPECT_EQ(error->domain(), kFileProviderErrorDomain) << error->description();
      const Snapshot after = settledSnapshot();
      EXPECT_TRUE(after.files == before.files && after.libraryRows == before.libraryRows)
          << error->description() << differences(before.files, after.files)
          << differences(before.libraryRows, after.libraryRows);
      EXPECT_EQ(pendingChangeSets(), pendingBefore + 1) << "its change set waits for a later upload";

      EXPECT_FALSE(remove(identifierOf(doomed))) << "asked again, the deletion goes through";
      EXPECT_FALSE(fileExists(path));
    }
  }
}

}  // namespace
}  // namespace qlt
