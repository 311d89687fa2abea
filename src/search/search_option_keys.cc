#include "search/search_option_keys.h"

#include <algorithm>
#include <map>

#include "util/whitespace.h"

namespace qlt {
namespace {

bool among(const std::string& key, std::initializer_list<const char*> keys) {
  return std::any_of(keys.begin(), keys.end(), [&](const char* candidate) { return key == candidate; });
}

std::string lowercased(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

const std::map<std::string, std::string>& typedKeys() {
  static const std::map<std::string, std::string> keys{
      {"tag", kSearchOptionTagNamePropertyKey},
      {"name", "name"},
      {"comments", "comments"},
      {"source", "source"},
      {"contents", kSearchOptionContentsKey},
      {"content", kSearchOptionContentsKey},
      {"filename", "filename"},
      {"label", "label"},
      {"kind", "kind"},
      {"bundle", "bundle"},
      {"created", "dateCreated"},
      {"modified", "dateModified"},
      {"added", "dateAdded"},
      {"date", "dateModified"},
      {"before", "before"},
      {"after", "after"},
      {"attachment", kSearchOptionAttachmentNameKey},
      {"highlight", kSearchOptionHighlightedTextContentKey},
  };
  return keys;
}

}  // namespace

const std::vector<std::string>& searchOptionAllKeys() {
  static const std::vector<std::string> keys{kSearchOptionAllTextKey,
                                             "name",
                                             "comments",
                                             "source",
                                             kSearchOptionContentsKey,
                                             "filename",
                                             "fileType",
                                             "size",
                                             kSearchOptionSharedItemKey,
                                             "favorite",
                                             "dateAdded",
                                             "dateCreated",
                                             "dateModified",
                                             "groups",
                                             "label",
                                             kSearchOptionLabelNamePropertyKey,
                                             "tags",
                                             kSearchOptionTagNamePropertyKey,
                                             kSearchOptionAttachmentsKey,
                                             kSearchOptionAttachmentNameKey,
                                             kSearchOptionAttachmentFileTypeKey,
                                             kSearchOptionChecklistsKey,
                                             kSearchOptionOutstandingChecklistItemsKey,
                                             kSearchOptionHighlightedTextKey,
                                             kSearchOptionHighlightedTextContentKey};
  return keys;
}

const std::vector<std::string>& searchOptionTextKeys() {
  static const std::vector<std::string> keys{"name", "comments", "source", "filename"};
  return keys;
}

bool isSearchOptionTextKey(const std::string& key) {
  const auto& keys = searchOptionTextKeys();
  return std::find(keys.begin(), keys.end(), key) != keys.end();
}

bool isSearchOptionDateKey(const std::string& key) {
  return among(key, {"dateModified", "dateCreated", "dateAdded", "before", "after"});
}

SearchValueType searchValueTypeForKey(const std::string& key, int64_t conditionType) {
  if (isSearchOptionTextKey(key) || among(key, {kSearchOptionContentsKey, kSearchOptionAllTextKey}))
    return SearchValueType::String;
  if (isSearchOptionDateKey(key))
    return conditionType == search_condition::kWithinLast ? SearchValueType::Period : SearchValueType::Date;
  if (among(key, {"label", "folder"})) return SearchValueType::ToOneRelationship;
  if (among(key, {"tags", "groups"})) return SearchValueType::ToManyRelationship;
  if (among(key, {kSearchOptionLabelNamePropertyKey, kSearchOptionHighlightedTextContentKey}))
    return SearchValueType::ToOneRelationshipProperty;
  if (among(key, {kSearchOptionTagNamePropertyKey, kSearchOptionAttachmentNameKey, kSearchOptionAttachmentFileTypeKey}))
    return SearchValueType::ToManyRelationshipProperty;
  if (key == "fileType") return SearchValueType::FileType;
  if (key == "size") return SearchValueType::ByteCount;
  if (among(key, {kSearchOptionSharedItemKey, "favorite", kSearchOptionAttachmentsKey, kSearchOptionChecklistsKey,
                  kSearchOptionOutstandingChecklistItemsKey, kSearchOptionHighlightedTextKey}))
    return SearchValueType::Boolean;
  return SearchValueType::Invalid;
}

SearchBooleanComparison searchBooleanComparisonForKey(const std::string& key) {
  if (key == kSearchOptionAttachmentsKey) return SearchBooleanComparison::Count;
  if (among(key, {kSearchOptionSharedItemKey, kSearchOptionOutstandingChecklistItemsKey}))
    return SearchBooleanComparison::Presence;
  return SearchBooleanComparison::Equality;
}

std::vector<int64_t> availableSearchConditionTypes(const std::string& key, SearchValueType valueType) {
  using namespace search_condition;
  if (isSearchOptionDateKey(key)) return {kOn, kBefore, kOnOrBefore, kAfter, kOnOrAfter, kWithinLast};
  if (isSearchOptionTextKey(key)) return {kContains, kDoesNotContain, kBeginsWith, kEndsWith, kIs, kIsNot};
  if (among(key, {kSearchOptionTagNamePropertyKey, kSearchOptionLabelNamePropertyKey, kSearchOptionAttachmentNameKey}))
    return {kContains, kBeginsWith, kEndsWith, kIs, kIsNot};
  if (key == kSearchOptionHighlightedTextContentKey) return {kContains};
  if (valueType == SearchValueType::Boolean) return {kIs};
  if (valueType == SearchValueType::ByteCount) return {kIs, kLessThan, kGreaterThan};
  if (key == kSearchOptionAttachmentFileTypeKey) return {kIs};
  if (key == kSearchOptionAllTextKey) return {kContains};
  if (key == kSearchOptionContentsKey) return {kContains, kBeginsWith, kEndsWith, kIs, kIsNot};
  if (valueType >= SearchValueType::ToOneRelationship && valueType <= SearchValueType::ToManyRelationshipProperty)
    return {kIs, kIsNot};
  if (valueType == SearchValueType::FileType) return {kIs, kIsNot};
  return {kIs};
}

std::optional<TypedSearch> splitTypedSearch(const std::string& text) {
  size_t colon = text.find(':');
  if (colon == std::string::npos) return std::nullopt;
  std::string typed = lowercased(text.substr(0, colon));
  auto translated = typedKeys().find(typed);
  return TypedSearch{translated == typedKeys().end() ? typed : translated->second,
                     std::string(trimmingWhitespaceAndNewlines(std::string_view(text).substr(colon + 1)))};
}

}  // namespace qlt
