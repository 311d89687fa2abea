#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

#include "library_test_model.h"
#include "platform/foundation/bundle.h"
#include "platform/dispatch/main_queue.h"
#include "platform/dispatch/notification_center.h"

extern char** environ;

namespace qlt {
namespace {

constexpr const char* kStoreDirectoryVariable = "QLT_TWO_PROCESS_STORE";
constexpr const char* kOtherApp = "com.quillet.app";

// Runs in the second process, started by the test below.
TEST(TwoProcessChild, WritesToTheSharedStore) {
  const char* directory = getenv(kStoreDirectoryVariable);
  if (!directory) GTEST_SKIP() << "only run by TwoProcessTest";
  setMainBundleIdentifier(kOtherApp);
  TestLibrary library(directory);
  ASSERT_TRUE(library.container.isLoaded()) << library.loadError.description();
  auto context = library.context("QLTBackgroundContext");
  auto items = context->fetch(FetchRequest("Item"));
  ASSERT_TRUE(items && items->size() == 1);
  (*items)[0]->setValueForKey("name", "renamed by the app");
  context->insertNewObject("Item")->setValueForKey("name", "added by the app");
  Error error;
  ASSERT_TRUE(context->save(&error)) << error.description();
}

int runChild(const std::string& directory) {
  std::string filter = "--gtest_filter=TwoProcessChild.*";
  char* argv[] = {const_cast<char*>("/proc/self/exe"), filter.data(), nullptr};
  std::vector<std::string> variables{std::string(kStoreDirectoryVariable) + "=" + directory};
  for (char** variable = environ; *variable; ++variable) variables.emplace_back(*variable);
  std::vector<char*> envp;
  for (auto& variable : variables) envp.push_back(variable.data());
  envp.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv, envp.data()) != 0) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(TwoProcessTest, AnotherProcessCommitIsNoticedAndItsHistoryMerged) {
  ScratchDirectory scratch;
  TestLibrary library(scratch.path(), /*remoteChanges=*/true);
  ASSERT_TRUE(library.container.isLoaded()) << library.loadError.description();
  ManagedObjectContext& view = library.container.viewContext();
  ManagedObjectPtr item;
  view.performAndWait([&] {
    EXPECT_TRUE(isMainThread());
    item = view.insertNewObject("Item");
    item->setValueForKey("name", "mine");
    ASSERT_TRUE(view.save());
    EXPECT_EQ(item->valueForKey("name"), Value("mine"));
  });
  Date before = Date::now();

  std::mutex mutex;
  std::condition_variable noticed;
  std::atomic<int> notices{0};
  auto token = NotificationCenter::defaultCenter().addObserver(kStoreRemoteChangeNotification, &library.container,
                                                                [&](const Notification&) {
                                                                  std::lock_guard lock(mutex);
                                                                  ++notices;
                                                                  noticed.notify_all();
                                                                });
  ASSERT_EQ(runChild(scratch.path()), 0);
  {
    std::unique_lock lock(mutex);
    EXPECT_TRUE(noticed.wait_for(lock, std::chrono::seconds(10), [&] { return notices > 0; }));
  }
  NotificationCenter::defaultCenter().removeObserver(token);

  view.performAndWait([&] {
    EXPECT_EQ(item->valueForKey("name"), Value("mine")) << "not merged yet";
    auto history = library.container.fetchHistoryAfterDate(before);
    ASSERT_TRUE(history);
    ASSERT_EQ(history->size(), 1u);
    EXPECT_EQ((*history)[0].author, kOtherApp);
    EXPECT_EQ((*history)[0].contextName, "QLTBackgroundContext");
    view.setStalenessInterval(0);
    view.mergeChanges((*history)[0].objectIDNotification());
    EXPECT_EQ(item->valueForKey("name"), Value("renamed by the app"));
    EXPECT_EQ(*view.count(FetchRequest("Item")), 2);
  });

  // Commits of this process are not remote.
  int before_own = notices.load();
  view.performAndWait([&] {
    item->setValueForKey("size", 1);
    ASSERT_TRUE(view.save());
  });
  library.container.checkForRemoteChanges();
  EXPECT_EQ(notices.load(), before_own);
}

}  // namespace
}  // namespace qlt
