#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/calendar.h"
#include "platform/foundation/date.h"
#include "platform/objectstore/predicate.h"
#include "search/search_option_keys.h"

namespace qlt {

// A quantity of days, months or years, for "within the last".
struct SearchOptionPeriod {
  enum class Unit : int64_t { Day = 0, Month = 1, Year = 2 };
  int64_t quantity = 0;
  Unit unit = Unit::Day;
  std::string identifier;

  static SearchOptionPeriod make(Unit unit, int64_t quantity);
};

// The moment and calendar that date conditions are measured against.
struct SearchClock {
  Date now;
  Calendar calendar = Calendar::current();

  static SearchClock system() { return SearchClock{Date::now()}; }
};

// One condition on one item property; it turns itself into a predicate
// over Item objects.
class SearchOption {
 public:
  // An option on `key` with condition 0 and a fresh persistent identifier.
  explicit SearchOption(const std::string& key = "name");

  static SearchOption defaultOption();
  static SearchOption forText(const std::string& key, const std::string& text, int64_t conditionType);
  static SearchOption forName(const std::string& text) { return forText("name", text, search_condition::kContains); }
  static SearchOption forComments(const std::string& text) {
    return forText("comments", text, search_condition::kContains);
  }
  static SearchOption forSource(const std::string& text) { return forText("source", text, search_condition::kContains); }
  static SearchOption forContents(const std::string& text) {
    return forText(kSearchOptionContentsKey, text, search_condition::kContains);
  }
  // "before" and "after" become "dateModified".
  static SearchOption forDate(Date date, const std::string& key, int64_t conditionType);
  static SearchOption forDatePeriod(const std::string& key, SearchOptionPeriod::Unit unit, int64_t quantity);
  static SearchOption forFileType(const std::string& fileType);
  static SearchOption forLabel(const std::string& identifier);
  static SearchOption forTag(const std::string& identifier);
  static SearchOption forFolder(const std::string& identifier);
  static SearchOption forBundle(const std::string& identifier);
  static SearchOption forFavorite(bool favorite);
  static SearchOption forFavorites() { return forFavorite(true); }
  static SearchOption forSharedItems();
  static SearchOption forUntaggedItems();
  static SearchOption forAttachments();
  static SearchOption forAttachmentName(const std::string& name);
  static SearchOption forAttachmentKind(const std::string& fileType);
  static SearchOption forChecklists();
  static SearchOption forOutstandingChecklists();
  static SearchOption forHighlightedText();
  static SearchOption forHighlightedTextContents(const std::string& text);
  // Typed search: `key` already translated (splitTypedSearch); the
  // condition follows from the key and the text.
  static SearchOption forKeySearchText(const std::string& key, const std::string& text);

  const std::string& persistentIdentifier() const { return persistentIdentifier_; }
  const std::string& key() const { return key_; }
  int64_t conditionType() const { return conditionType_; }
  SearchValueType valueType() const { return valueType_; }
  SearchBooleanComparison booleanComparison() const { return booleanComparison_; }
  const std::string& stringValue() const { return stringValue_; }
  const std::optional<Date>& dateValue() const { return dateValue_; }
  const std::string& libraryObjectIdentifier() const { return libraryObjectIdentifier_; }
  const std::optional<SearchOptionPeriod>& periodValue() const { return periodValue_; }
  // A Boolean (0 or 1) or a byte count.
  const std::optional<int64_t>& numberValue() const { return numberValue_; }

  // Setting the key or the condition recomputes the value type; when it
  // really changes the string, identifier and number values are cleared
  // (the number becomes YES for a Boolean).
  void setKey(const std::string& key);
  void setConditionType(int64_t conditionType);
  void setStringValue(std::string value) { stringValue_ = std::move(value); }
  void setDateValue(std::optional<Date> value) { dateValue_ = value; }
  void setLibraryObjectIdentifier(std::string value) { libraryObjectIdentifier_ = std::move(value); }
  void setPeriodValue(std::optional<SearchOptionPeriod> value) { periodValue_ = std::move(value); }
  void setNumberValue(std::optional<int64_t> value) { numberValue_ = value; }
  void setPersistentIdentifier(std::string value) { persistentIdentifier_ = std::move(value); }
  // For restoring archived options exactly as written.
  void restoreDerivedTypes(SearchValueType valueType, SearchBooleanComparison comparison) {
    valueType_ = valueType;
    booleanComparison_ = comparison;
  }

  std::vector<int64_t> availableConditionTypes() const {
    return availableSearchConditionTypes(key_, valueType_);
  }
  // Whether the key is offered and the condition is allowed for it.
  bool isValid() const;
  // The "contents" key is answered by the content index, not a predicate.
  bool needsIndexSearch() const { return key_ == kSearchOptionContentsKey; }

  // The predicate over items; null for an invalid option or an empty value.
  PredicatePtr predicate(const SearchClock& clock) const;
  // "key:value", the value as text; compares options.
  std::string identifier() const;

 private:
  void updateValueType();

  std::string persistentIdentifier_;
  std::string key_;
  int64_t conditionType_ = search_condition::kIs;
  SearchValueType valueType_ = SearchValueType::Invalid;
  SearchBooleanComparison booleanComparison_ = SearchBooleanComparison::Equality;
  std::string stringValue_;
  std::optional<Date> dateValue_;
  std::string libraryObjectIdentifier_;
  std::optional<SearchOptionPeriod> periodValue_;
  std::optional<int64_t> numberValue_;
};

}  // namespace qlt
