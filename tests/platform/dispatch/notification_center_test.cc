#include "platform/dispatch/notification_center.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "platform/dispatch/main_queue.h"

namespace qlt {
namespace {

TEST(NotificationCenterTest, ObserversMatchByNameAndObject) {
  NotificationCenter center;
  int first = 0, second = 0;
  std::map<std::string, int> heard;
  auto count = [&](const std::string& observer) { return [&, observer](const Notification&) { ++heard[observer]; }; };
  center.addObserver("Changed", &first, count("changed by first"));
  center.addObserver("Changed", nullptr, count("changed by anyone"));
  center.addObserver("", &first, count("anything by first"));
  center.addObserver("", nullptr, count("everything"));

  center.post("Changed", &first);
  center.post("Changed", &second);
  center.post("Other", &first);
  center.post("Other");
  EXPECT_EQ(heard, (std::map<std::string, int>{
                       {"changed by first", 1}, {"changed by anyone", 2}, {"anything by first", 2}, {"everything", 4}}));
}

TEST(NotificationCenterTest, ObserversMayRemoveThemselvesAndOthersWhileCalled) {
  NotificationCenter center;
  std::vector<std::string> calls;
  ObserverToken self = 0, later = 0;
  self = center.addObserver("N", nullptr, [&](const Notification& note) {
    calls.push_back("self " + *note.userInfoValue<std::string>("tag"));
    EXPECT_EQ(note.userInfoValue<int>("tag"), nullptr);
    center.removeObserver(self);
    center.removeObserver(later);
  });
  later = center.addObserver("N", nullptr, [&](const Notification&) { calls.push_back("later"); });
  center.post("N", nullptr, {{"tag", std::string("a")}});
  center.post("N", nullptr, {{"tag", std::string("b")}});
  EXPECT_EQ(calls, std::vector<std::string>{"self a"});
}

TEST(NotificationCenterTest, RemovalWaitsForACallbackRunningOnAnotherThread) {
  NotificationCenter center;
  std::promise<void> entered;
  std::atomic<bool> finished{false};
  auto token = center.addObserver("Slow", nullptr, [&](const Notification&) {
    entered.set_value();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    finished = true;
  });
  std::thread poster([&] { center.post("Slow"); });
  entered.get_future().wait();
  center.removeObserver(token);
  EXPECT_TRUE(finished);
  poster.join();
}

TEST(NotificationCenterTest, PostOnMainQueueDeliversThereLater) {
  auto& center = NotificationCenter::defaultCenter();
  std::promise<bool> delivered;
  int sender = 0;
  auto token = center.addObserver("Async", &sender, [&](const Notification&) { delivered.set_value(isMainThread()); });
  center.postOnMainQueue("Async", &sender);
  auto future = delivered.get_future();
  auto status = future.wait_for(std::chrono::seconds(2));
  center.removeObserver(token);
  ASSERT_EQ(status, std::future_status::ready);
  EXPECT_TRUE(future.get());
}

}  // namespace
}  // namespace qlt
