#include "model/tag_data.h"

#include <limits>

#include "platform/foundation/archive_object.h"
#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/keyed_unarchiver.h"
#include "platform/foundation/log.h"
#include "platform/foundation/property_list_serialization.h"

namespace qlt {
namespace {

constexpr int64_t kTagDataVersion = 1;

// The leading integer of `text` as a number reader of user text sees it:
// optional whitespace and sign, then digits up to the first other
// character; 0 when there are none, clamped on overflow.
int64_t integerValue(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    int digit = text[i] - '0';
    if (value > (kMax - digit) / 10) return negative ? std::numeric_limits<int64_t>::min() : kMax;
    value = value * 10 + digit;
  }
  return negative ? -value : value;
}

std::optional<int64_t> integerValue(const ArchiveObject& object) {
  if (const int64_t* integer = object.integer()) return *integer;
  if (const bool* boolean = object.boolean()) return *boolean ? 1 : 0;
  if (const double* real = object.real()) {
    if (!(*real >= -9.2e18 && *real <= 9.2e18)) return std::nullopt;
    return static_cast<int64_t>(*real);
  }
  if (const std::string* text = object.string()) return integerValue(*text);
  return std::nullopt;
}

struct ReadTags {
  std::vector<std::string> names;
  std::vector<int64_t> colors;
};

ReadTags readFinderTagList(const PropertyListArray& list) {
  ReadTags tags;
  for (const PropertyList& element : list) {
    const std::string* text = element.string();
    if (!text) continue;
    size_t firstBreak = text->find('\n');
    std::string name = text->substr(0, firstBreak);
    if (!name.empty()) tags.names.push_back(name);
    size_t lastBreak = text->rfind('\n');
    std::string last = lastBreak == std::string::npos ? *text : text->substr(lastBreak + 1);
    if (!last.empty()) tags.colors.push_back(integerValue(last));
  }
  return tags;
}

std::optional<ReadTags> readArchivedTags(const Bytes& data) {
  Error error;
  auto root = KeyedUnarchiver::unarchivedObject(data, {"NSDictionary", "NSArray", "NSString", "NSNumber"}, &error);
  if (!root) {
    log("Couldn't decode tags: %@", error);
    return std::nullopt;
  }
  if (!root->dictionary()) {
    log("Tags data not a dictionary: %@", root->className());
    return std::nullopt;
  }
  ReadTags tags;
  const ArchiveObject* list = root->find("t");
  if (!list) return tags;
  if (!list->array()) {
    log("Couldn't decode tags: %@", std::string("the tag list is a ") + list->className());
    return std::nullopt;
  }
  for (const ArchiveObject& entry : list->array()->elements) {
    const ArchiveArray* pair = entry.array();
    if (!pair || pair->elements.empty()) continue;
    if (const std::string* name = pair->elements.front().string()) tags.names.push_back(*name);
    if (auto color = integerValue(pair->elements.back())) tags.colors.push_back(*color);
  }
  return tags;
}

std::optional<ReadTags> readTags(const Bytes& data) {
  if (data.empty()) return std::nullopt;
  if (auto list = parsePropertyList(data); list && list->array()) return readFinderTagList(*list->array());
  return readArchivedTags(data);
}

}  // namespace

std::optional<Bytes> fileProviderTagData(const std::vector<TagDataEntry>& entries, Error* error) {
  std::vector<ArchiveObject> list;
  list.reserve(entries.size());
  for (const TagDataEntry& entry : entries) list.push_back(ArchiveObject::array({entry.name, entry.color}));
  ArchiveObject root = ArchiveObject::dictionary({{"v", kTagDataVersion}, {"t", ArchiveObject::array(std::move(list))}});
  Error archiveError;
  auto data = KeyedArchiver::archivedData(root, true, &archiveError);
  if (!data) {
    log("Couldn't create file provider tag data: %@", archiveError);
    setError(error, archiveError);
  }
  return data;
}

std::optional<std::vector<std::string>> tagNamesFromTagData(const Bytes& data) {
  auto tags = readTags(data);
  if (!tags) return std::nullopt;
  return std::move(tags->names);
}

std::optional<std::vector<int64_t>> tagLabelColorsFromTagData(const Bytes& data) {
  auto tags = readTags(data);
  if (!tags) return std::nullopt;
  return std::move(tags->colors);
}

std::optional<Bytes> finderTagListData(const std::vector<TagDataEntry>& entries, bool withColors, Error* error) {
  PropertyListArray list;
  list.reserve(entries.size());
  for (const TagDataEntry& entry : entries)
    list.emplace_back(withColors ? entry.name + "\n" + std::to_string(entry.color) : entry.name);
  return serializePropertyList(list, PropertyListFormat::Binary, error);
}

}  // namespace qlt
