#include "search/search_option.h"

#include <algorithm>

#include "platform/foundation/uuid.h"

namespace qlt {

SearchOptionPeriod SearchOptionPeriod::make(Unit unit, int64_t quantity) {
  return SearchOptionPeriod{quantity, unit, newUUIDString()};
}

SearchOption::SearchOption(const std::string& key) : persistentIdentifier_(newUUIDString()) { setKey(key); }

void SearchOption::setKey(const std::string& key) {
  key_ = key;
  booleanComparison_ = searchBooleanComparisonForKey(key);
  updateValueType();
}

void SearchOption::setConditionType(int64_t conditionType) {
  conditionType_ = conditionType;
  updateValueType();
}

void SearchOption::updateValueType() {
  SearchValueType valueType = searchValueTypeForKey(key_, conditionType_);
  if (valueType == valueType_) return;
  valueType_ = valueType;
  stringValue_.clear();
  libraryObjectIdentifier_.clear();
  numberValue_.reset();
  if (valueType == SearchValueType::Boolean) numberValue_ = 1;
}

bool SearchOption::isValid() const {
  const auto& keys = searchOptionAllKeys();
  if (std::find(keys.begin(), keys.end(), key_) == keys.end()) return false;
  auto conditions = availableConditionTypes();
  return std::find(conditions.begin(), conditions.end(), conditionType_) != conditions.end();
}

std::string SearchOption::identifier() const {
  std::string value;
  switch (valueType_) {
    case SearchValueType::Date:
      value = dateValue_ ? dateValue_->formattedLocal(Date::Style::Medium, Date::Style::None) : std::string();
      break;
    case SearchValueType::Period:
      value = periodValue_ ? periodValue_->identifier : std::string();
      break;
    case SearchValueType::ToOneRelationship:
    case SearchValueType::ToManyRelationship:
      value = libraryObjectIdentifier_;
      break;
    case SearchValueType::Boolean:
      value = numberValue_.value_or(0) != 0 ? "YES" : "NO";
      break;
    case SearchValueType::ByteCount:
      value = numberValue_ ? std::to_string(*numberValue_) : std::string();
      break;
    default:
      value = stringValue_;
      break;
  }
  return key_ + ":" + value;
}

SearchOption SearchOption::defaultOption() { return forName(""); }

SearchOption SearchOption::forText(const std::string& key, const std::string& text, int64_t conditionType) {
  SearchOption option(key);
  option.setConditionType(conditionType);
  option.setStringValue(text);
  return option;
}

SearchOption SearchOption::forDate(Date date, const std::string& key, int64_t conditionType) {
  SearchOption option(key == "before" || key == "after" ? std::string("dateModified") : key);
  option.setConditionType(conditionType);
  option.setDateValue(date);
  return option;
}

SearchOption SearchOption::forDatePeriod(const std::string& key, SearchOptionPeriod::Unit unit, int64_t quantity) {
  SearchOption option(key);
  option.setConditionType(search_condition::kWithinLast);
  option.setPeriodValue(SearchOptionPeriod::make(unit, quantity));
  return option;
}

SearchOption SearchOption::forFileType(const std::string& fileType) {
  SearchOption option("fileType");
  option.setStringValue(fileType);
  return option;
}

namespace {
SearchOption forObject(const std::string& key, const std::string& identifier) {
  SearchOption option(key);
  option.setLibraryObjectIdentifier(identifier);
  return option;
}
SearchOption forBoolean(const std::string& key, bool value) {
  SearchOption option(key);
  option.setNumberValue(value ? 1 : 0);
  return option;
}
}  // namespace

SearchOption SearchOption::forLabel(const std::string& identifier) { return forObject("label", identifier); }
SearchOption SearchOption::forTag(const std::string& identifier) { return forObject("tags", identifier); }
SearchOption SearchOption::forFolder(const std::string& identifier) { return forObject("folder", identifier); }
SearchOption SearchOption::forBundle(const std::string& identifier) { return forObject("groups", identifier); }
SearchOption SearchOption::forUntaggedItems() { return forObject("tags", ""); }
SearchOption SearchOption::forFavorite(bool favorite) { return forBoolean("favorite", favorite); }
SearchOption SearchOption::forSharedItems() { return forBoolean(kSearchOptionSharedItemKey, true); }
SearchOption SearchOption::forAttachments() { return forBoolean(kSearchOptionAttachmentsKey, true); }
SearchOption SearchOption::forChecklists() { return forBoolean(kSearchOptionChecklistsKey, true); }
SearchOption SearchOption::forOutstandingChecklists() {
  return forBoolean(kSearchOptionOutstandingChecklistItemsKey, true);
}
SearchOption SearchOption::forHighlightedText() { return forBoolean(kSearchOptionHighlightedTextKey, true); }

SearchOption SearchOption::forAttachmentName(const std::string& name) {
  return forText(kSearchOptionAttachmentNameKey, name, search_condition::kContains);
}

SearchOption SearchOption::forAttachmentKind(const std::string& fileType) {
  return forText(kSearchOptionAttachmentFileTypeKey, fileType, search_condition::kIs);
}

SearchOption SearchOption::forHighlightedTextContents(const std::string& text) {
  return forText(kSearchOptionHighlightedTextContentKey, text, search_condition::kContains);
}

SearchOption SearchOption::forKeySearchText(const std::string& key, const std::string& text) {
  SearchOption option(key);
  if (key == kSearchOptionTagNamePropertyKey || key == kSearchOptionAttachmentNameKey ||
      key == kSearchOptionLabelNamePropertyKey) {
    option.setConditionType(search_condition::kIs);
  } else if (isSearchOptionTextKey(key)) {
    bool wildcard = text.find_first_of("*?") != std::string::npos;
    option.setConditionType(wildcard ? search_condition::kIs : search_condition::kContains);
  } else if (key == kSearchOptionHighlightedTextContentKey) {
    option.setConditionType(search_condition::kContains);
  }
  option.setStringValue(text);
  return option;
}

}  // namespace qlt
