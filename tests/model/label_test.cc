#include "model/label.h"

#include <gtest/gtest.h>

#include <vector>

#include "model_fixture.h"
#include "platform/dispatch/main_queue.h"
#include "platform/dispatch/notification_center.h"

namespace qlt {
namespace {

class LabelTest : public ::testing::Test, public ModelFixture {
 protected:
  LabelTest() {
    token_ = NotificationCenter::defaultCenter().addObserver(
        kLabelColorDidChangeNotification, nullptr, [this](const Notification& note) {
          EXPECT_TRUE(isMainThread());
          posted.push_back(note.object);
        });
  }
  ~LabelTest() override { NotificationCenter::defaultCenter().removeObserver(token_); }
  std::vector<const void*> drained() {
    dispatchMainSync([] {});
    return posted;
  }

  std::vector<const void*> posted;
  ObserverToken token_{};
};

TEST_F(LabelTest, ColorRoundTripsAndIsPostedWithTheViewContextLabelOfALibrary) {
  ASSERT_TRUE(library);
  auto owned = std::dynamic_pointer_cast<Label>(context->insertNewObject("Label"));
  auto loose = std::dynamic_pointer_cast<Label>(context->insertNewObject("Label"));
  owned->setObjectForKey("library", LibraryObject::libraryObject(*context, "Library", "Library"));
  EXPECT_EQ(owned->color(), (RGBA{0, 0, 0, 1}));
  RGBA orange{1.0, 0.5, 0.125, 0.75};
  owned->setColor(orange);
  EXPECT_TRUE(drained().empty()) << "not saved, so not in the view context";
  ASSERT_TRUE(context->save());
  EXPECT_EQ(reread<Label>(owned)->color(), orange);

  ManagedObjectPtr seen;
  view().performAndWait([&] { seen = view().existingObjectWithID(owned->objectID()); });
  loose->setColor({0, 1, 0, 1});
  owned->setColor({0, 0, 1, 1});
  EXPECT_EQ(drained(), std::vector<const void*>{seen.get()});

  owned->setObjectForKey("library", nullptr);
  ASSERT_TRUE(context->save());
  manager->updatePersistentStoreHistory();
  owned->setColor({1, 1, 0, 1});
  EXPECT_EQ(drained().size(), 1u) << "a label that left its library is not announced";
}

}  // namespace
}  // namespace qlt
