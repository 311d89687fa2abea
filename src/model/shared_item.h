#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/cloud/cloud_record.h"
#include "store/library_object.h"

namespace qlt {

class Item;
class Folder;

// Identifiers sorted in ascending order and joined by "," without spaces;
// the empty string for none.
std::string identifierList(std::vector<std::string> identifiers);
// The identifiers of such a list; none for the empty string.
std::vector<std::string> identifiersInList(const std::string& list);

// What is personal to this user about an item that may lie in a share: its
// folder, label, tags, groups and favourite state, kept by identifier so
// that it stays valid whichever zone those objects live in. Its record is
// always in the library zone.
class SharedItem : public LibraryObject {
 public:
  static RecordID cloudRecordIDForSharedItemIdentifier(const std::string& identifier);
  // Named after the item's sharedItemIdentifier, else the item's identifier
  // (this object's own without an item).
  RecordID cloudRecordID() const override;
  // The first item whose identifier or sharedItemIdentifier is `identifier`.
  static std::shared_ptr<Item> itemForSharedItemWithIdentifier(const std::string& identifier,
                                                               ManagedObjectContext& context);

  // Stored identifiers resolve when read: null (or none) until an object
  // with the identifier exists.
  ManagedObjectPtr folder() const;
  void setFolder(const ManagedObjectPtr& folder);
  ManagedObjectPtr label() const;
  void setLabel(const ManagedObjectPtr& label);
  std::vector<ManagedObjectPtr> tags() const;
  void setTags(const std::vector<ManagedObjectPtr>& tags);
  std::vector<ManagedObjectPtr> groups() const;
  void setGroups(const std::vector<ManagedObjectPtr>& groups);
  bool favorite() const { return valueForKey("favorite").boolValue(); }
  void setFavorite(bool favorite);

  // Sets the item and, when there is one, copies its folder, groups,
  // label, tags and favourite state.
  void setItem(const std::shared_ptr<Item>& item);

  // Only "favorite", "folder", "label", "tags" and "groups" are written.
  void updateRecordWithCurrentValues(CloudRecord& record) const override;
  // Only the four identifier fields are read, whether or not their objects
  // are here yet.
  void updateFromCloudRecord(const CloudRecord& record) override;

 private:
  ManagedObjectPtr objectNamedBy(const char* key, const char* entity) const;
  std::vector<ManagedObjectPtr> objectsNamedBy(const char* key, const char* entity) const;
  void setIfChanged(const char* key, Value value);
};

// The per-user favourite state and place among the favourites of a folder.
class SharedFolderAttributes : public LibraryObject {
 public:
  static RecordID cloudRecordIDForSharedFolderAttributesIdentifier(const std::string& identifier);
  RecordID cloudRecordID() const override;
  static std::shared_ptr<Folder> folderForSharedAttributesIdentifier(const std::string& identifier,
                                                                     ManagedObjectContext& context);
};

}  // namespace qlt
