#include "model/finder_tags.h"

#include <set>

#include "model/tag.h"
#include "model/tag_data.h"
#include "platform/files/extended_attributes.h"
#include "platform/foundation/log.h"
#include "platform/defaults/user_defaults.h"

namespace qlt {
namespace {

std::string identifierList(const std::vector<ManagedObjectPtr>& objects) {
  std::string text = "(";
  for (size_t i = 0; i < objects.size(); ++i) {
    Value identifier = objects[i]->valueForKey("identifier");
    text += (i ? ", " : "") + (identifier.string() ? *identifier.string() : std::string());
  }
  return text + ")";
}

std::set<ObjectID> objectIDs(const std::vector<ManagedObjectPtr>& objects) {
  std::set<ObjectID> ids;
  for (const ManagedObjectPtr& object : objects) ids.insert(object->objectID());
  return ids;
}

}  // namespace

std::optional<Bytes> finderTagsAttribute(const std::string& path, Error* error) {
  auto value = extendedAttribute(path, kMetadataUserTagsXAttrKey, error);
  if (!value) return std::nullopt;
  return Bytes(value->begin(), value->end());
}

bool setFinderTagsAttribute(const std::string& path, const Bytes& data, Error* error) {
  return setExtendedAttribute(path, kMetadataUserTagsXAttrKey,
                              std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), error);
}

bool setFinderTagNames(const std::string& path, const std::vector<std::string>& names, Error* error) {
  if (names.empty()) return removeExtendedAttribute(path, kMetadataUserTagsXAttrKey, error);
  std::vector<TagDataEntry> entries;
  for (const std::string& name : names) entries.push_back({name, 0});
  auto data = finderTagListData(entries, false, error);
  return data && setFinderTagsAttribute(path, *data, error);
}

namespace {

// Gives the item the file's tag data, rebuilt from the library's tags (with
// the file's colours) when names and colours pair up.
bool normalizeItemTagData(ManagedObject& item, const Bytes& fileData, const std::vector<std::string>& names,
                          const std::vector<int64_t>& colors, const ManagedObjectPtr& library) {
  Value stored = item.valueForKey("fileProviderTagData");
  const Bytes* storedData = stored.data();
  if (storedData && *storedData == fileData) return false;
  bool changed = false;
  Bytes newData = fileData;
  if (names.size() == colors.size()) {
    std::vector<Tag::Ptr> tags;
    for (size_t i = 0; i < names.size(); ++i) {
      Tag::Ptr tag = Tag::tagWithName(names[i], library);
      if (!tag) continue;
      if (tag->fileLabelColor() != colors[i]) {
        tag->setFileLabelColor(colors[i]);
        changed = true;
      }
      tags.push_back(tag);
    }
    Tag::sortByName(tags);
    if (auto rebuilt = Tag::fileProviderTagData(tags)) newData = std::move(*rebuilt);
  }
  std::optional<std::vector<std::string>> oldNames;
  if (storedData) oldNames = tagNamesFromTagData(*storedData);
  bool sameNames = oldNames && std::set<std::string>(oldNames->begin(), oldNames->end()) ==
                                   std::set<std::string>(names.begin(), names.end());
  if (!(sameNames && storedData && *storedData == newData)) {
    item.setValueForKey("fileProviderTagData", newData);
    changed = true;
  }
  return changed;
}

bool updateItemTagsFromNames(ManagedObject& item, const std::vector<std::string>& names,
                             const ManagedObjectPtr& library) {
  const UserDefaults& defaults = UserDefaults::standard();
  if (!defaults.boolForKey(kItemImportFinderTagsKey) || !defaults.boolForKey(kItemUpdateFinderTagsKey)) return false;
  std::vector<ManagedObjectPtr> newTags;
  for (const Tag::Ptr& tag : Tag::tagsWithNames(names, library, true)) newTags.push_back(tag);
  std::vector<ManagedObjectPtr> oldTags = item.objectsForKey("tags");
  if (objectIDs(oldTags) == objectIDs(newTags)) return false;
  Value identifier = item.valueForKey("identifier");
  log("Updating tags from Finder for %@ Old: %@ New: %@", identifier.string() ? *identifier.string() : std::string(),
      identifierList(oldTags), identifierList(newTags));
  item.setObjectsForKey("tags", newTags);
  Tag::updateTagNamesOfItem(item);
  return true;
}

}  // namespace

bool updateItemTagDataFromFile(const ManagedObjectPtr& item, const std::string& path, const ManagedObjectPtr& library,
                               bool itemIsLocalRecord) {
  if (!item) return false;
  auto fileData = finderTagsAttribute(path);
  if (!fileData) return false;
  auto names = tagNamesFromTagData(*fileData);
  auto colors = tagLabelColorsFromTagData(*fileData);
  if (!names || !colors) return false;
  bool changed = normalizeItemTagData(*item, *fileData, *names, *colors, library);
  if (itemIsLocalRecord && updateItemTagsFromNames(*item, *names, library)) changed = true;
  return changed;
}

}  // namespace qlt
