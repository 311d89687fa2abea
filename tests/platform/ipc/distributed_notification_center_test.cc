#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>

#include "platform/ipc/local_distributed_notification_center.h"
#include "platform/ipc/recording_distributed_notification_center.h"
#include "support/scratch_directory.h"

namespace qlt {
namespace {

using namespace std::chrono_literals;

// Collects what an observer hears, on whatever thread it runs.
struct Inbox {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<DistributedNotification> notifications;

  DistributedNotificationCenter::Callback callback() {
    return [this](const DistributedNotification& notification) {
      std::lock_guard lock(mutex);
      notifications.push_back(notification);
      arrived.notify_all();
    };
  }
  bool waitFor(size_t count) {
    std::unique_lock lock(mutex);
    return arrived.wait_for(lock, 2s, [&] { return notifications.size() >= count; });
  }
  size_t size() {
    std::lock_guard lock(mutex);
    return notifications.size();
  }
};

class DistributedNotificationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* old = std::getenv("XDG_RUNTIME_DIR")) savedRuntime_ = old;
    setenv("XDG_RUNTIME_DIR", scratch_.path().c_str(), 1);
  }
  void TearDown() override {
    if (savedRuntime_) {
      setenv("XDG_RUNTIME_DIR", savedRuntime_->c_str(), 1);
    } else {
      unsetenv("XDG_RUNTIME_DIR");
    }
  }
  std::string folder() const { return scratch_.path("quillet-notifications"); }

  ScratchDirectory scratch_;
  std::optional<std::string> savedRuntime_;
};

TEST_F(DistributedNotificationTest, PosterAndObserversInOneProcess) {
  LocalDistributedNotificationCenter center;
  EXPECT_EQ(center.directory(), folder());
  Inbox filtered, everything, removed;
  ASSERT_NE(center.addObserver("Changed", "domain-1", filtered.callback()), 0u);
  ASSERT_NE(center.addObserver("", "", everything.callback()), 0u);
  center.removeObserver(center.addObserver("", "", removed.callback()));

  PropertyListDictionary info{{"count", 3}, {"paths", PropertyListArray{"a", "b"}}};
  ASSERT_TRUE(center.postNotification("Changed", "domain-1", info));
  ASSERT_TRUE(center.postNotification("Changed", "domain-2"));
  ASSERT_TRUE(center.postNotification("Other", "domain-1", {}, false));
  ASSERT_TRUE(everything.waitFor(3));
  ASSERT_EQ(filtered.size(), 1u);
  EXPECT_EQ(filtered.notifications[0], (DistributedNotification{"Changed", "domain-1", info}));
  EXPECT_EQ(everything.notifications[2].name, "Other");
  EXPECT_EQ(removed.size(), 0u);
}

TEST_F(DistributedNotificationTest, SocketsOfVanishedProcessesAreRemoved) {
  LocalDistributedNotificationCenter center;
  Inbox inbox;
  ASSERT_NE(center.addObserver("", "", inbox.callback()), 0u);
  std::string stale = folder() + "/999999-1.sock";
  int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, stale.c_str());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  close(fd);

  ASSERT_TRUE(center.postNotification("Ping"));
  EXPECT_FALSE(std::filesystem::exists(stale));
  EXPECT_TRUE(inbox.waitFor(1));
}

TEST_F(DistributedNotificationTest, RefusesAFolderOthersCanEnter) {
  ASSERT_EQ(mkdir(folder().c_str(), 0755), 0);
  ASSERT_EQ(chmod(folder().c_str(), 0755), 0);
  LocalDistributedNotificationCenter center;
  Error error;
  EXPECT_EQ(center.addObserver("", "", [](const auto&) {}, &error), 0u);
  EXPECT_TRUE(error.is(kPOSIXErrorDomain, EACCES));
  EXPECT_FALSE(center.postNotification("Leak", "", {}, true, &error));
}

TEST_F(DistributedNotificationTest, AnotherProcessReceivesWhatWePost) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "ThreadSanitizer cannot start threads in a child forked from a process with threads";
#endif
  int ready[2], result[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(result), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    LocalDistributedNotificationCenter center;
    Inbox inbox;
    bool listening = center.addObserver("Hello", "", inbox.callback()) != 0;
    (void)!write(ready[1], listening ? "r" : "x", 1);
    std::string answer = "-";
    if (listening && inbox.waitFor(1)) {
      auto word = inbox.notifications[0].userInfo["word"].string();
      answer = word ? *word : "?";
    }
    (void)!write(result[1], answer.data(), answer.size());
    _exit(0);
  }
  // Without our copies of the write ends, a crashed child reads as end of file.
  close(ready[1]);
  close(result[1]);
  pollfd wait{ready[0], POLLIN, 0};
  char signal = 0;
  ASSERT_EQ(poll(&wait, 1, 2000), 1);
  ASSERT_EQ(read(ready[0], &signal, 1), 1);
  ASSERT_EQ(signal, 'r');
  ASSERT_TRUE(LocalDistributedNotificationCenter().postNotification("Hello", "", {{"word", "bonjour"}}));
  char answer[32] = {};
  ASSERT_GT(read(result[0], answer, sizeof answer - 1), 0);
  EXPECT_STREQ(answer, "bonjour");
  int status = 0;
  waitpid(child, &status, 0);
  close(ready[0]);
  close(result[0]);
}

TEST_F(DistributedNotificationTest, RecorderStandsInForTheSharedCenter) {
  auto recorder = std::make_shared<RecordingDistributedNotificationCenter>();
  DistributedNotificationCenter::setShared(recorder);
  Inbox inbox;
  auto token = DistributedNotificationCenter::shared()->addObserver("Done", "", inbox.callback());
  std::thread poster([] {
    DistributedNotificationCenter::shared()->postNotification("Started", "x");
    DistributedNotificationCenter::shared()->postNotification("Done", "x", {{"ok", true}}, false);
  });
  EXPECT_TRUE(recorder->waitForNotifications(2, 2s));
  poster.join();
  EXPECT_EQ(recorder->names(), (std::vector<std::string>{"Started", "Done"}));
  EXPECT_FALSE(recorder->notifications()[1].deliverImmediately);
  EXPECT_EQ(inbox.size(), 1u);
  recorder->removeObserver(token);
  recorder->clear();
  EXPECT_FALSE(recorder->waitForNotifications(1, 10ms));

  DistributedNotificationCenter::setShared(nullptr);
  EXPECT_NE(dynamic_cast<LocalDistributedNotificationCenter*>(DistributedNotificationCenter::shared().get()), nullptr);
}

}  // namespace
}  // namespace qlt
