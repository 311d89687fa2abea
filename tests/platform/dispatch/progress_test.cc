#include "platform/dispatch/progress.h"

#include <gtest/gtest.h>

namespace qlt {
namespace {

TEST(ProgressTest, CancellationHandlerRunsOnceAndAtOnceWhenSetLate) {
  Progress progress(10);
  int calls = 0;
  progress.setCancellationHandler([&] { ++calls; });
  EXPECT_FALSE(progress.isCancelled());
  progress.cancel();
  progress.cancel();
  EXPECT_TRUE(progress.isCancelled());
  EXPECT_EQ(calls, 1);
  progress.setCancellationHandler([&] { calls += 10; });
  EXPECT_EQ(calls, 11);
}

TEST(ProgressTest, FractionCountsChildrenAndFinishedChildrenBecomeCompletedUnits) {
  auto parent = Progress::make(10);
  EXPECT_FALSE(parent->isIndeterminate());
  EXPECT_TRUE(Progress().isIndeterminate());
  parent->setCompletedUnitCount(2);
  auto child = Progress::make(4);
  parent->addChild(child, 4);
  child->setCompletedUnitCount(2);
  EXPECT_DOUBLE_EQ(parent->fractionCompleted(), 0.4);
  EXPECT_EQ(parent->completedUnitCount(), 2);
  child->setCompletedUnitCount(4);
  EXPECT_EQ(parent->completedUnitCount(), 6);
  EXPECT_DOUBLE_EQ(parent->fractionCompleted(), 0.6);

  auto grandchild = Progress::make(1);
  auto second = Progress::make(1);
  second->addChild(grandchild, 1);
  parent->addChild(second, 4);
  grandchild->setCompletedUnitCount(1);
  EXPECT_TRUE(parent->isFinished());
  EXPECT_DOUBLE_EQ(parent->fractionCompleted(), 1.0);
}

TEST(ProgressTest, CancellingAParentCancelsItsChildrenPresentAndFuture) {
  auto parent = Progress::make(2);
  auto early = Progress::make(1), late = Progress::make(1);
  bool earlyHandled = false;
  early->setCancellationHandler([&] { earlyHandled = true; });
  parent->addChild(early, 1);
  parent->cancel();
  EXPECT_TRUE(earlyHandled);
  parent->addChild(late, 1);
  EXPECT_TRUE(late->isCancelled());
}

}  // namespace
}  // namespace qlt
