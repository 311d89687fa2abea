#include "store/main_thread_notification.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "library_fixture.h"
#include "platform/dispatch/main_queue.h"
#include "platform/dispatch/notification_center.h"
#include "platform/objectstore/managed_object_context.h"

namespace qlt {
namespace {

constexpr const char* kTestNotification = "QLTMainThreadNotificationTestNotification";

class MainThreadNotificationTest : public ::testing::Test, public LibraryFixture {
 protected:
  MainThreadNotificationTest() {
    token_ = NotificationCenter::defaultCenter().addObserver(kTestNotification, nullptr, [this](const Notification& n) {
      received.push_back(n.object);
      onMainThread.push_back(isMainThread());
    });
  }
  ~MainThreadNotificationTest() override { NotificationCenter::defaultCenter().removeObserver(token_); }

  // Written by the observer on the main queue and read by the test after
  // the poster returned, so the poster's own wait orders the accesses.
  std::vector<const void*> received;
  std::vector<bool> onMainThread;

 private:
  ObserverToken token_;
};

TEST_F(MainThreadNotificationTest, PosterWaitsForTheLookupAndPostsTheMainContextObject) {
  ASSERT_TRUE(library) << loadError.description();
  auto background = manager->newBackgroundContext();
  ManagedObjectPtr copy = background->existingObjectWithID(library->objectID());
  ASSERT_TRUE(copy);

  // The main queue is held busy until the poster has had time to return.
  std::atomic<bool> release = false, returned = false;
  dispatchMainAsync([&] {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!release && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  });
  std::thread poster([&] {
    postWithMainThreadObject(kTestNotification, copy->objectID());
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(returned) << "the poster waits for the lookup on the main queue";
  release = true;
  poster.join();
  ASSERT_EQ(received.size(), 1u) << "delivered before the poster returned";
  EXPECT_EQ(received[0], library.get()) << "the object of the main-thread context, not the poster's";
  EXPECT_NE(received[0], copy.get());
  EXPECT_TRUE(onMainThread[0]);
  dispatchMainSync([] {});
  EXPECT_EQ(received.size(), 1u) << "and only once";
}

TEST_F(MainThreadNotificationTest, PostingFromTheMainQueueRunsTheLookupInline) {
  ASSERT_TRUE(library) << loadError.description();
  std::atomic<bool> returned = false;
  std::thread caller([&] {
    dispatchMainSync([&] {
      postWithMainThreadObject(kTestNotification, library->objectID());
      EXPECT_EQ(received.size(), 1u) << "posted before returning, without waiting on its own queue";
    });
    returned = true;
  });
  caller.join();
  EXPECT_TRUE(returned);
  EXPECT_EQ(received.size(), 1u);
}

TEST_F(MainThreadNotificationTest, NothingIsPostedForObjectsTheMainContextCannotFind) {
  ASSERT_TRUE(library) << loadError.description();
  auto background = manager->newBackgroundContext();
  ManagedObjectPtr unsaved = background->insertNewObject("Tag");
  ASSERT_TRUE(unsaved);
  postWithMainThreadObject(kTestNotification, unsaved->objectID());

  ManagedObjectPtr doomed = background->insertNewObject("Tag");
  ASSERT_TRUE(background->save());
  ObjectID gone = doomed->objectID();
  background->deleteObject(doomed);
  ASSERT_TRUE(background->save());
  postWithMainThreadObject(kTestNotification, gone);

  postWithMainThreadObject(kTestNotification, library->objectID(), [](const ManagedObject&) { return false; });
  dispatchMainSync([] {});
  EXPECT_TRUE(received.empty());
}

}  // namespace
}  // namespace qlt
