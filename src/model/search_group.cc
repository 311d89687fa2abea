#include "model/search_group.h"

#include "platform/defaults/user_defaults.h"
#include "store/library_model_constants.h"
#include "store/main_thread_notification.h"

namespace qlt {
namespace {

constexpr SearchGroup::Field kFields[] = {SearchGroup::Field::Name,     SearchGroup::Field::Comments,
                                          SearchGroup::Field::Source,   SearchGroup::Field::Contents,
                                          SearchGroup::Field::Tags,     SearchGroup::Field::Labels};

}  // namespace

const char* SearchGroup::fieldKey(Field field) {
  switch (field) {
    case Field::Name:
      return "searchName";
    case Field::Comments:
      return "searchComments";
    case Field::Source:
      return "searchSource";
    case Field::Contents:
      return "searchContents";
    case Field::Tags:
      return "searchTags";
    case Field::Labels:
      break;
  }
  return "searchLabels";
}

void SearchGroup::awakeFromInsert() {
  Group::awakeFromInsert();
  setValueForKey("groupType", kSearchGroupType);
  UserDefaults& defaults = UserDefaults::standard();
  setValueForKey("matchAll", defaults.boolForKey("QLTSearchGroupDefaultMatchAll"));
  setValueForKey("searchAll", defaults.boolForKey("QLTSearchGroupDefaultSearchAll"));
  setValueForKey("searchName", defaults.boolForKey("QLTSearchGroupDefaultSearchName"));
  setValueForKey("searchComments", defaults.boolForKey("QLTSearchGroupDefaultSearchComments"));
  setValueForKey("searchSource", defaults.boolForKey("QLTSearchGroupDefaultSearchSource"));
  setValueForKey("searchContents", defaults.boolForKey("QLTSearchGroupDefaultSearchContents"));
  setValueForKey("searchTags", defaults.boolForKey("QLTSearchGroupDefaultSearchTags"));
  setValueForKey("searchLabels", defaults.boolForKey("QLTSearchGroupDefaultSearchLabels"));
}

std::string SearchGroup::searchText() const {
  Value text = valueForKey("searchText");
  return text.string() ? *text.string() : std::string();
}

void SearchGroup::setSearchText(const std::string& text) {
  if (valueForKey("searchText").string() && searchText() == text) return;
  setValueForKey("searchText", text);
  restartSearchAndPostDidUpdateNotificationIfNecessary();
}

std::shared_ptr<Group> SearchGroup::targetGroup() const {
  return std::dynamic_pointer_cast<Group>(objectForKey("targetGroup"));
}

void SearchGroup::setTargetGroup(const std::shared_ptr<Group>& group) {
  std::shared_ptr<Group> target = group ? group : libraryGroup();
  std::shared_ptr<Group> current = targetGroup();
  if ((current ? current.get() : nullptr) == target.get()) return;
  setObjectForKey("targetGroup", target);
  restartSearchAndPostDidUpdateNotificationIfNecessary();
}

void SearchGroup::setSearchAll(bool on) {
  if (searchAll() == on) return;
  setValueForKey("searchAll", on);
  for (Field field : kFields) setValueForKey(fieldKey(field), on);
  restartSearchAndPostDidUpdateNotificationIfNecessary();
  postSettingsDidChange();
}

void SearchGroup::setSearchesField(Field field, bool on) {
  if (searchesField(field) != on) {
    setValueForKey(fieldKey(field), on);
    bool all = true;
    for (Field each : kFields) all = all && searchesField(each);
    if (searchAll() != all) setValueForKey("searchAll", all);
    restartSearchAndPostDidUpdateNotificationIfNecessary();
  }
  postSettingsDidChange();
}

void SearchGroup::restartSearchAndPostDidUpdateNotificationIfNecessary() {
  if (!searching_ || isDeleted()) return;
  startSearch();
  postWithMainThreadObject(kSearchGroupDidUpdateNotification, objectID());
}

void SearchGroup::postSettingsDidChange() {
  postWithMainThreadObject(kSearchGroupSettingsDidChangeNotification, objectID());
}

std::vector<SortDescriptor> SearchGroup::itemSortDescriptors() const {
  std::shared_ptr<Group> target = targetGroup();
  if (!saved() && target && target->objectID() != objectID()) return target->itemSortDescriptors();
  return Group::itemSortDescriptors();
}

}  // namespace qlt
