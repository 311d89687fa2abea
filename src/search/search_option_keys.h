#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qlt {

// Item key paths a search option may search.
inline constexpr const char* kSearchOptionAllTextKey = "*";
inline constexpr const char* kSearchOptionContentsKey = "contents";
inline constexpr const char* kSearchOptionSharedItemKey = "sharedItem";
inline constexpr const char* kSearchOptionLabelNamePropertyKey = "label.name";
inline constexpr const char* kSearchOptionTagNamePropertyKey = "tags.name";
inline constexpr const char* kSearchOptionAttachmentsKey = "attachments.@count";
inline constexpr const char* kSearchOptionAttachmentNameKey = "attachments.name";
inline constexpr const char* kSearchOptionAttachmentFileTypeKey = "attachments.fileType";
inline constexpr const char* kSearchOptionChecklistsKey = "textInfo.hasChecklistItems";
inline constexpr const char* kSearchOptionOutstandingChecklistItemsKey = "textInfo.outstandingChecklistItems";
inline constexpr const char* kSearchOptionHighlightedTextKey = "textInfo.hasHighlightedText";
inline constexpr const char* kSearchOptionHighlightedTextContentKey = "textInfo.highlightedText";

// What an option's value is, following from its key and condition.
enum class SearchValueType : int64_t {
  String = 0,
  Date = 1,
  ToOneRelationship = 2,
  ToOneRelationshipProperty = 3,
  ToManyRelationship = 4,
  ToManyRelationshipProperty = 5,
  FileType = 6,
  Period = 7,
  Boolean = 8,
  ByteCount = 9,
  Invalid = 9999,
};

// The comparison of an option. Relationships and file types read every
// code but Is as "is not".
namespace search_condition {
inline constexpr int64_t kIs = 0;
inline constexpr int64_t kContains = 1;
inline constexpr int64_t kBeginsWith = 2;
inline constexpr int64_t kEndsWith = 3;
inline constexpr int64_t kOn = 4;
inline constexpr int64_t kBefore = 5;
inline constexpr int64_t kAfter = 6;
inline constexpr int64_t kIsNot = 7;
inline constexpr int64_t kOnOrBefore = 8;
inline constexpr int64_t kOnOrAfter = 9;
inline constexpr int64_t kWithinLast = 10;
inline constexpr int64_t kDoesNotContain = 11;
inline constexpr int64_t kLessThan = 12;
inline constexpr int64_t kGreaterThan = 13;
}  // namespace search_condition

// How a Boolean key is tested.
enum class SearchBooleanComparison : int64_t { Equality = 0, Count = 1, Presence = 2 };

// Every key an option may carry, in the order offered.
const std::vector<std::string>& searchOptionAllKeys();
// name, comments, source, filename.
const std::vector<std::string>& searchOptionTextKeys();
bool isSearchOptionTextKey(const std::string& key);
bool isSearchOptionDateKey(const std::string& key);

SearchValueType searchValueTypeForKey(const std::string& key, int64_t conditionType);
SearchBooleanComparison searchBooleanComparisonForKey(const std::string& key);
// The conditions an option with this key and value type may carry.
std::vector<int64_t> availableSearchConditionTypes(const std::string& key, SearchValueType valueType);

// Splits typed search text "key:value" at the first colon: the key
// lower-cased and translated to an item key path ("tag" is "tags.name"),
// the value trimmed. nullopt without a colon.
struct TypedSearch {
  std::string key;
  std::string value;
};
[[nodiscard]] std::optional<TypedSearch> splitTypedSearch(const std::string& text);

}  // namespace qlt
