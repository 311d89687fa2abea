#include "model/tag.h"

#include <algorithm>
#include <map>
#include <set>

#include "model/item.h"
#include "model/tag_data.h"
#include "platform/foundation/localized_strings.h"
#include "platform/foundation/log.h"
#include "platform/foundation/string_comparison.h"
#include "platform/objectstore/fetch_request.h"
#include "store/library_model_constants.h"
#include "platform/objectstore/managed_object_context.h"
#include "platform/objectstore/predicate.h"

namespace qlt {
namespace {

std::vector<Tag::Ptr> fetchTags(ManagedObjectContext& context, const std::string& format, std::vector<Value> arguments,
                                std::vector<SortDescriptor> sortDescriptors = {}) {
  FetchRequest request(kTagEntityName);
  Error error;
  request.predicate = Predicate::withFormat(format, std::move(arguments), &error);
  request.sortDescriptors = std::move(sortDescriptors);
  std::optional<std::vector<ManagedObjectPtr>> objects;
  if (request.predicate) objects = context.fetch(request, &error);
  std::vector<Tag::Ptr> tags;
  if (!objects) {
    log("Cannot fetch tags: %@", error);
    return tags;
  }
  for (const ManagedObjectPtr& object : *objects)
    if (auto tag = std::dynamic_pointer_cast<Tag>(object)) tags.push_back(tag);
  return tags;
}

std::string joined(const std::vector<std::string>& parts, const char* separator) {
  std::string text;
  for (size_t i = 0; i < parts.size(); ++i) text += (i ? separator : "") + parts[i];
  return text;
}

}  // namespace

std::optional<Bytes> Tag::fileProviderTagData(const std::vector<Ptr>& tags) {
  std::vector<TagDataEntry> entries;
  for (const Ptr& tag : tags)
    if (tag) entries.push_back({tag->name(), tag->fileLabelColor()});
  return qlt::fileProviderTagData(entries);
}

std::optional<std::vector<std::string>> Tag::tagNamesFromFileProviderTagData(const Bytes& data) {
  return tagNamesFromTagData(data);
}

std::optional<std::vector<int64_t>> Tag::tagLabelColorsFromFileProviderTagData(const Bytes& data) {
  return tagLabelColorsFromTagData(data);
}

Tag::Ptr Tag::existingTagWithName(const std::string& name, const ManagedObjectPtr& library) {
  if (!library || !library->managedObjectContext()) return nullptr;
  // Arguments are values, never parsed, so backslashes need no escaping.
  auto tags = fetchTags(*library->managedObjectContext(), "name ==[c] %@", {name});
  return tags.empty() ? nullptr : tags.front();
}

Tag::Ptr Tag::tagWithName(const std::string& wanted, const ManagedObjectPtr& library) {
  std::string name = cleanedGroupName(wanted);
  if (Ptr existing = existingTagWithName(name, library)) return existing;
  if (!library || !library->managedObjectContext()) return nullptr;
  auto tag = std::dynamic_pointer_cast<Tag>(library->managedObjectContext()->insertNewObject(kTagEntityName));
  if (!tag) return nullptr;
  tag->setValueForKey("name", name);
  tag->setObjectForKey("library", library);
  return tag;
}

std::vector<Tag::Ptr> Tag::tagsWithNames(const std::vector<std::string>& names, const ManagedObjectPtr& library,
                                         bool create) {
  std::vector<Ptr> tags;
  std::set<ObjectID> seen;
  for (const std::string& name : names) {
    if (name.empty()) continue;
    Ptr tag = create ? tagWithName(name, library) : existingTagWithName(name, library);
    if (tag && seen.insert(tag->objectID()).second) tags.push_back(tag);
  }
  return tags;
}

std::vector<Tag::Ptr> Tag::tagsWithPrefix(const std::string& prefix, const ManagedObjectPtr& library) {
  if (!library || !library->managedObjectContext()) return {};
  return fetchTags(*library->managedObjectContext(), "name BEGINSWITH[c] %@ AND items.@count > 0", {prefix});
}

void Tag::consolidateDuplicateTagNames(ManagedObjectContext& context) {
  FetchRequest request(kTagEntityName);
  request.resultType = FetchRequest::ResultType::Dictionaries;
  request.propertiesToFetch = {"name"};
  Error error;
  auto rows = context.execute(request, &error);
  if (!rows) {
    log("Cannot fetch tags: %@", error);
    return;
  }
  std::map<std::string, int> counts;
  for (const auto& row : rows->dictionaries) {
    auto name = row.find("name");
    if (name != row.end() && name->second.string()) ++counts[*name->second.string()];
  }
  std::vector<std::string> removed;
  for (const auto& [name, count] : counts) {
    if (count < 2) continue;
    auto tags = fetchTags(context, "name == %@", {name}, {SortDescriptor{"identifier", true}});
    if (tags.size() < 2) continue;
    const Ptr& keeper = tags.front();
    for (size_t i = 1; i < tags.size(); ++i) {
      for (const ManagedObjectPtr& item : tags[i]->items()) keeper->addObjectForKey("items", item);
      removed.push_back(tags[i]->identifier());
      context.deleteObject(tags[i]);
    }
  }
  if (!removed.empty()) log("Removing duplicate tags: %@", "(" + joined(removed, ", ") + ")");
}

void Tag::removeUnusedTags(ManagedObjectContext& context) {
  for (const Ptr& tag : fetchTags(context, "items.@count == 0 && searchGroups.@count == 0", {}))
    context.deleteObject(tag);
}

void Tag::sortByName(std::vector<Ptr>& tags) {
  std::stable_sort(tags.begin(), tags.end(), [](const Ptr& a, const Ptr& b) { return a->name() < b->name(); });
}

void Tag::updateTagNamesOfItem(ManagedObject& item) {
  std::vector<std::string> names;
  for (const ManagedObjectPtr& tag : item.objectsForKey("tags")) {
    Value name = tag->valueForKey("name");
    if (name.string() && !name.string()->empty()) names.push_back(*name.string());
  }
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return localizedStandardCompare(a, b) < 0; });
  Value text = names.empty() ? Value() : Value(joined(names, ", "));
  if (!item.valueForKey("tagNames").isIdenticalTo(text)) item.setValueForKey("tagNames", text);
  if (auto* typed = dynamic_cast<Item*>(&item)) typed->tagsDidChange();
}

int64_t Tag::fileLabelColor() const {
  Value value = valueForKey("fileLabelColor");
  return value.integer() ? *value.integer() : 0;
}

void Tag::setFileLabelColor(int64_t color) { setValueForKey("fileLabelColor", color); }

std::vector<ManagedObjectPtr> Tag::items() const { return objectsForKey("items"); }

bool Tag::canChangeName(const std::string& newName, Error* error) const {
  std::string name = cleanedGroupName(newName);
  if (name.empty() || name == this->name()) return true;
  ManagedObjectPtr owner = library();
  ManagedObjectContext* context = owner ? owner->managedObjectContext() : managedObjectContext();
  if (!context) return true;
  for (const Ptr& other : fetchTags(*context, "name ==[c] %@", {name})) {
    if (other->objectID() == objectID()) continue;
    ManagedObjectPtr otherLibrary = other->library();
    if (owner && otherLibrary && otherLibrary->objectID() != owner->objectID()) continue;
    setError(error, Error(kTagErrorDomain, kTagWithNameAlreadyExistsErrorCode,
                          localizedFormat("A tag with the name “%@” already exists.", name)));
    return false;
  }
  return true;
}

bool Tag::changeName(const std::string& newName, Error* error) {
  if (!canChangeName(newName, error)) return false;
  if (!Group::changeName(newName, error)) return false;
  for (const ManagedObjectPtr& item : items()) updateTagNamesOfItem(*item);
  return true;
}

}  // namespace qlt
