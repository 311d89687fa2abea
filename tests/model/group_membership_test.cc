#include <gtest/gtest.h>

#include "folder_fixture.h"
#include "model/item_group.h"
#include "model/label.h"
#include "model/special_groups.h"

namespace qlt {
namespace {

using Names = std::vector<std::string>;

class GroupMembershipTest : public FolderFixture {
 protected:
  Names listed(const Group& group) {
    auto request = group.itemsFetchRequest();
    EXPECT_TRUE(request);
    if (!request) return {};
    Error error;
    auto items = context->fetch(*request, &error);
    EXPECT_TRUE(items) << error.description();
    Names names;
    for (const auto& object : items.value_or(std::vector<ManagedObjectPtr>{}))
      names.push_back(*object->valueForKey("name").string());
    return names;
  }
  template <typename T>
  std::shared_ptr<T> system(const char* entity) {
    return std::dynamic_pointer_cast<T>(LibraryObject::libraryObject(*context, entity, entity));
  }
};

TEST_F(GroupMembershipTest, SpecialGroupsListTheRootTreeByTheirRules) {
  Folder::Ptr sub = make(root, "Sub");
  auto top = item(root, "b top");
  libraryGroup->addObjectForKey("items", top);
  auto nested = item(sub, "a nested");
  libraryGroup->addObjectForKey("items", nested);
  nested->setValueForKey("favorite", true);
  auto binned = item(trash, "c binned");
  binned->setValueForKey("favorite", true);
  auto bundle = std::dynamic_pointer_cast<Bundle>(context->insertNewObject("Bundle"));
  bundle->setObjectForKey("parent", root);
  bundle->addObjectForKey("items", nested);
  ASSERT_TRUE(context->save());

  EXPECT_EQ(listed(*libraryGroup), (Names{"a nested", "b top"}));
  EXPECT_EQ(listed(*bundle), (Names{"a nested"}));
  EXPECT_EQ(listed(*system<FavoriteItemsGroup>("FavoriteItemsGroup")), (Names{"a nested"}));
  EXPECT_EQ(listed(*system<NoLabelGroup>("NoLabelGroup")), (Names{"a nested", "b top"}));
  auto unfiled = std::dynamic_pointer_cast<UnfiledGroup>(root->objectForKey("unfiledGroup"));
  ASSERT_TRUE(unfiled);
  EXPECT_EQ(listed(*unfiled), (Names{"b top"}));
  bundle->addObjectForKey("items", top);
  EXPECT_EQ(listed(*unfiled), Names{}) << "two item groups: not unfiled";

  auto recents = system<RecentsGroup>("RecentsGroup");
  top->setValueForKey("mostRecentDate", Date(-1000));
  nested->setValueForKey("mostRecentDate", Date(-1000));
  for (int i = 0; i < 60; ++i) item(root, "r" + std::to_string(100 + i))->setValueForKey("mostRecentDate", Date(i));
  Names latest = listed(*recents);
  ASSERT_EQ(latest.size(), 50u);
  EXPECT_EQ(latest.front(), "r159");
  EXPECT_EQ(recents->itemAdditionalInfoType(), 5);
}

TEST_F(GroupMembershipTest, LabelsListTheirItemsOutsideTheTrashAndOnlyGoToTheTrash) {
  auto label = std::dynamic_pointer_cast<Label>(context->insertNewObject("Label"));
  label->setObjectForKey("library", libraryObject);
  Folder::Ptr sub = make(root, "Sub");
  item(sub, "b kept")->setObjectForKey("label", label);
  item(root, "a kept")->setObjectForKey("label", label);
  item(trash, "binned")->setObjectForKey("label", label);
  ASSERT_TRUE(context->save());
  EXPECT_EQ(listed(*label), (Names{"a kept", "b kept"}));
  label->setItemSortDescriptors({SortDescriptor{"name", false}});
  EXPECT_EQ(listed(*label), (Names{"b kept", "a kept"}));
  label->setItemSortDescriptors({});
  EXPECT_EQ(label->itemSortDescriptors().front().key, "name") << "an empty stored list sorts by default";
  EXPECT_EQ(label->itemSortOptions().size(), 5u);

  Error error;
  EXPECT_FALSE(label->moveToFolder(sub, &error));
  EXPECT_EQ(error.domain(), kLabelErrorDomain);
  EXPECT_EQ(error.code(), kLabelCannotMoveToFolderErrorCode);
  EXPECT_FALSE(label->isDeleted());
  EXPECT_TRUE(label->moveToFolder(trash));
  EXPECT_TRUE(label->isDeleted());
}

}  // namespace
}  // namespace qlt
