#include "platform/files/file_coordinator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace qlt {
namespace {

using namespace std::chrono_literals;
using Coordinator = FileCoordinator;

// Runs `first` on another thread until it is inside its accessor, then
// `second` here; `second` reports whether the first accessor had finished
// by the time it got in. The first one stays inside for 100 ms.
template <typename First, typename Second>
bool secondWaitsForFirst(First first, Second second) {
  std::atomic<bool> inside{false}, finished{false};
  std::thread thread([&] {
    Coordinator coordinator;
    first(coordinator, [&] {
      inside = true;
      std::this_thread::sleep_for(100ms);
      finished = true;
    });
  });
  while (!inside) std::this_thread::yield();
  bool waited = false;
  Coordinator coordinator;
  second(coordinator, [&] { waited = finished; });
  thread.join();
  return waited;
}

auto reading(const std::string& path) {
  return [path](Coordinator& c, auto body) { EXPECT_TRUE(c.coordinateReading(path, Coordinator::kNoOptions, [&](auto&) { body(); })); };
}
auto writing(const std::string& path) {
  return [path](Coordinator& c, auto body) { EXPECT_TRUE(c.coordinateWriting(path, Coordinator::kNoOptions, [&](auto&) { body(); })); };
}
auto moving(const std::string& from, const std::string& to) {
  return [=](Coordinator& c, auto body) {
    EXPECT_TRUE(c.coordinateWriting(from, Coordinator::kForMoving, to, Coordinator::kForReplacing, [&](auto&, auto&) { body(); }));
  };
}

TEST(FileCoordinatorTest, HierarchicalClaimsExcludeEachOther) {
  EXPECT_TRUE(secondWaitsForFirst(writing("/lib/Folder"), reading("/lib/Folder/Note.qltnote/TXT.rtf")));
  EXPECT_TRUE(secondWaitsForFirst(reading("/lib/Folder/a"), writing("/lib/Folder")));
  EXPECT_TRUE(secondWaitsForFirst(reading("/lib/x"), writing("/lib/./y/../x/")));
  EXPECT_TRUE(secondWaitsForFirst(moving("/lib/a", "/lib/b"), writing("/lib/b")));
  EXPECT_TRUE(secondWaitsForFirst(reading("/lib/b/c"), moving("/lib/a", "/lib/b")));
  EXPECT_FALSE(secondWaitsForFirst(reading("/lib/x"), reading("/lib/x")));
  EXPECT_FALSE(secondWaitsForFirst(writing("/lib/Folder"), writing("/lib/Folder2")));
  EXPECT_FALSE(secondWaitsForFirst(moving("/lib/a", "/lib/b"), reading("/lib/c")));
}

TEST(FileCoordinatorTest, WritersNeverOverlapAndOppositeMovesDoNotDeadlock) {
  std::atomic<int> active{0}, overlaps{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      Coordinator coordinator;
      for (int i = 0; i < 200; ++i) {
        auto body = [&] {
          if (active.fetch_add(1) != 0) ++overlaps;
          std::this_thread::yield();
          active.fetch_sub(1);
        };
        if (i % 2)
          EXPECT_TRUE(coordinator.coordinateWriting("/lib/a", Coordinator::kNoOptions, [&](auto&) { body(); }));
        else if (t % 2)
          EXPECT_TRUE(coordinator.coordinateWriting("/lib/a", Coordinator::kForMoving, "/lib/b", {}, [&](auto&, auto&) { body(); }));
        else
          EXPECT_TRUE(coordinator.coordinateWriting("/lib/b", Coordinator::kForMoving, "/lib/a", {}, [&](auto&, auto&) { body(); }));
      }
    });
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(overlaps, 0);
}

TEST(FileCoordinatorTest, NestedCoordinationOnOneThreadProceeds) {
  Coordinator coordinator;
  std::string seen;
  EXPECT_TRUE(coordinator.coordinateReadingAndWriting(
      "/lib/x", Coordinator::kWithoutChanges, "/lib/y", Coordinator::kForMerging,
      [&](const std::string& read, const std::string& written) {
        EXPECT_TRUE(coordinator.coordinateWriting("/lib", Coordinator::kNoOptions, [&](auto& path) { seen = read + written + path; }));
      }));
  EXPECT_EQ(seen, "/lib/x/lib/y/lib");
}

TEST(FileCoordinatorTest, AccessorThatNeverRunsMeansFailure) {
  Coordinator coordinator;
  bool ran = false;
  Error error;
  EXPECT_FALSE(coordinator.coordinateReading("/lib/x", Coordinator::kForDeleting, [&](auto&) { ran = true; }, &error));
  EXPECT_EQ(error.code(), EINVAL);
  EXPECT_FALSE(coordinator.coordinateWriting("/x", Coordinator::kWithoutChanges, [&](auto&) { ran = true; }));
  EXPECT_FALSE(coordinator.coordinateWriting("", Coordinator::kNoOptions, [&](auto&) { ran = true; }));

  // A call waiting behind another coordinator's writer is cancelled.
  std::atomic<bool> inside{false}, release{false};
  std::thread holder([&] {
    Coordinator other;
    EXPECT_TRUE(other.coordinateWriting("/lib", Coordinator::kNoOptions, [&](auto&) {
      inside = true;
      while (!release) std::this_thread::yield();
    }));
  });
  while (!inside) std::this_thread::yield();
  std::thread canceller([&] {
    std::this_thread::sleep_for(50ms);
    coordinator.cancel();
  });
  EXPECT_FALSE(coordinator.coordinateReading("/lib/x", Coordinator::kNoOptions, [&](auto&) { ran = true; }, &error));
  EXPECT_TRUE(error.is(kCocoaErrorDomain, kCocoaUserCancelledError));
  release = true;
  holder.join();
  canceller.join();
  EXPECT_FALSE(coordinator.coordinateReading("/lib/y", Coordinator::kNoOptions, [&](auto&) { ran = true; }));
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace qlt
