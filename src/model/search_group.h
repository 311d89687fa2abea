#pragma once

#include <memory>
#include <string>
#include <vector>

#include "model/group.h"

namespace qlt {

inline constexpr const char* kSearchGroupDidUpdateNotification = "QLTSearchGroupDidUpdateNotification";
inline constexpr const char* kSearchGroupSettingsDidChangeNotification = "QLTSearchGroupSettingsDidChangeNotification";

// A saved or transient search over the library's items: a text matched
// against chosen fields, options, and a target group that limits where to
// look. In the folder tree it behaves as a plain group: it can go to the
// trash but not be moved. Its item query is built by the search layer.
class SearchGroup : public Group {
 public:
  // The fields the search text is matched against.
  enum class Field { Name, Comments, Source, Contents, Tags, Labels };

  std::string searchText() const;
  // A changed text is stored and the search restarts.
  void setSearchText(const std::string& text);
  std::shared_ptr<Group> targetGroup() const;
  // Null targets the library group.
  void setTargetGroup(const std::shared_ptr<Group>& group);

  bool searchAll() const { return flag("searchAll"); }
  // A changed value sets every field flag with it, restarts the search and
  // announces the new settings; an unchanged one does nothing.
  void setSearchAll(bool searchAll);
  bool searchesField(Field field) const { return flag(fieldKey(field)); }
  // Stores a changed flag, recomputes searchAll and restarts the search;
  // the settings are announced on every call.
  void setSearchesField(Field field, bool on);
  bool matchAll() const { return flag("matchAll"); }
  bool saved() const { return flag("saved"); }

  // Whether a search is running (in memory only).
  bool searching() const { return searching_; }
  void startSearch() { searching_ = true; }
  // While searching and not deleted: start again and announce the update.
  void restartSearchAndPostDidUpdateNotificationIfNecessary();

  // An unsaved search in another group shows the items in that group's
  // order; otherwise the group's own.
  std::vector<SortDescriptor> itemSortDescriptors() const override;

  static const char* fieldKey(Field field);

 protected:
  void awakeFromInsert() override;

 private:
  bool flag(const char* key) const { return valueForKey(key).boolValue(); }
  void postSettingsDidChange();

  bool searching_ = false;
};

}  // namespace qlt
