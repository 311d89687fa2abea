#include "search/search_option.h"

#include "platform/foundation/log.h"
#include "platform/foundation/word_tokens.h"

namespace qlt {
namespace {

using namespace search_condition;

PredicatePtr format(const char* text, std::vector<Value> arguments) {
  return Predicate::withFormat(text, std::move(arguments));
}

bool isQuoted(const std::string& text) {
  return text.size() >= 2 && text.front() == '"' && text.back() == '"';
}

std::string unquoted(const std::string& text) { return isQuoted(text) ? text.substr(1, text.size() - 2) : text; }

// Every word of `text` somewhere in the key, in any order.
PredicatePtr flexibleContains(const std::string& key, const std::string& text) {
  std::vector<std::string> words = wordsOfText(text);
  if (words.empty()) return format("%K CONTAINS[cd] %@", {key, text});
  std::vector<PredicatePtr> parts;
  for (const std::string& word : words) parts.push_back(format("%K CONTAINS[cd] %@", {key, word}));
  return parts.size() == 1 ? parts.front() : Predicate::andPredicate(std::move(parts));
}

// The templates shared by strings and to-one relationship properties.
const char* stringTemplate(int64_t condition) {
  switch (condition) {
    case kIs:
      return "%K LIKE[cd] %@";
    case kContains:
      return "%K CONTAINS[cd] %@";
    case kBeginsWith:
      return "%K BEGINSWITH[cd] %@";
    case kEndsWith:
      return "%K ENDSWITH[cd] %@";
    case kIsNot:
      return "%K !=[cd] %@";
    default:
      return nullptr;
  }
}

PredicatePtr stringPredicate(const std::string& key, int64_t condition, const std::string& raw) {
  if (raw.empty()) return nullptr;
  std::string value = unquoted(raw);
  if (condition == kContains) {
    return isQuoted(raw) ? format("%K CONTAINS[cd] %@", {key, value}) : flexibleContains(key, value);
  }
  if (condition == kDoesNotContain) return format("NOT (%K CONTAINS[cd] %@)", {key, value});
  const char* text = stringTemplate(condition);
  if (!text) {
    log("Invalid condition type (%lu) for string (%@)", condition, raw);
    return nullptr;
  }
  return format(text, {key, value});
}

PredicatePtr datePredicate(const std::string& key, int64_t condition, const std::optional<Date>& date,
                           const SearchClock& clock) {
  if (!date) return nullptr;
  Date start = clock.calendar.startOfDay(*date);
  Date end = clock.calendar.adding(CalendarUnit::Day, 1, start);
  switch (condition) {
    case kOn:
      return format("%K >= %@ AND %K < %@", {key, start, key, end});
    case kBefore:
      return format("%K < %@", {key, start});
    case kAfter:
      return format("%K > %@", {key, end});
    case kOnOrBefore:
      return format("%K < %@", {key, end});
    case kOnOrAfter:
      return format("%K >= %@", {key, start});
    default:
      log("Invalid condition type (%lu) for date (%@)", condition, date->description());
      return nullptr;
  }
}

PredicatePtr periodPredicate(const std::string& key, const std::optional<SearchOptionPeriod>& period,
                             const SearchClock& clock) {
  if (!period) return nullptr;
  Date tomorrow = clock.calendar.adding(CalendarUnit::Day, 1, clock.calendar.startOfDay(clock.now));
  CalendarUnit unit = period->unit == SearchOptionPeriod::Unit::Year    ? CalendarUnit::Year
                      : period->unit == SearchOptionPeriod::Unit::Month ? CalendarUnit::Month
                                                                        : CalendarUnit::Day;
  Date since = clock.calendar.adding(unit, -static_cast<int>(period->quantity), tomorrow);
  return format("%K >= %@", {key, since});
}

PredicatePtr toOnePredicate(const std::string& key, int64_t condition, const std::string& identifier) {
  std::string path = key + ".identifier";
  if (identifier.empty()) return format(condition == kIs ? "%K == nil" : "%K != nil", {key});
  if (condition == kIs) return format("%K == %@", {path, identifier});
  return format("%K == nil OR %K != %@", {key, path, identifier});
}

// "None of the elements" is written as the negation of ANY, which holds
// exactly where a subquery counting the matching elements gives zero.
PredicatePtr toManyPredicate(const std::string& key, int64_t condition, const std::string& identifier) {
  if (identifier.empty()) return format(condition == kIs ? "%K.@count == 0" : "%K.@count > 0", {key});
  PredicatePtr any = format("ANY %K == %@", {key + ".identifier", identifier});
  return condition == kIs ? any : Predicate::notPredicate(any);
}

PredicatePtr toOnePropertyPredicate(const std::string& key, int64_t condition, const std::string& raw) {
  if (raw.empty()) return nullptr;
  const char* text = stringTemplate(condition);
  if (!text) {
    log("Invalid condition type (%lu) for to one relationship property (%@)", condition, raw);
    return nullptr;
  }
  return format(text, {key, unquoted(raw)});
}

PredicatePtr toManyPropertyPredicate(const std::string& key, int64_t condition, const std::string& raw) {
  if (raw.empty()) return nullptr;
  std::string value = unquoted(raw);
  if (key == kSearchOptionAttachmentFileTypeKey)
    return format("ANY %K == %@ OR ANY attachments.highLevelFileType == %@", {key, value, value});
  switch (condition) {
    case kIs:
      return format("ANY %K LIKE[cd] %@", {key, value});
    case kContains:
      return format("ANY %K CONTAINS[cd] %@", {key, value});
    case kBeginsWith:
      return format("ANY %K BEGINSWITH[cd] %@", {key, value});
    case kEndsWith:
      return format("ANY %K ENDSWITH[cd] %@", {key, value});
    case kIsNot:
      return Predicate::notPredicate(format("ANY %K LIKE[cd] %@", {key, value}));
    default:
      log("Invalid condition type (%lu) for to many relationship property (%@)", condition, raw);
      return nullptr;
  }
}

PredicatePtr fileTypePredicate(const std::string& key, int64_t condition, const std::string& value) {
  if (value.empty()) return nullptr;
  if (condition == kIs) return format("%K == %@ OR highLevelFileType == %@", {key, value, value});
  return format("%K != %@ AND highLevelFileType != %@", {key, value, value});
}

PredicatePtr booleanPredicate(const std::string& key, SearchBooleanComparison comparison, bool yes) {
  switch (comparison) {
    case SearchBooleanComparison::Count:
      return format(yes ? "%K > 0" : "%K == 0", {key});
    case SearchBooleanComparison::Presence:
      return format(yes ? "%K != NULL" : "%K == NULL", {key});
    case SearchBooleanComparison::Equality:
      break;
  }
  PredicatePtr equal = format("%K == %@", {key, Value(yes)});
  size_t dot = key.find('.');
  if (yes || dot == std::string::npos) return equal;
  return Predicate::orPredicate({equal, format("%K == NULL", {key.substr(0, dot)})});
}

PredicatePtr byteCountPredicate(const std::string& key, int64_t condition, const std::optional<int64_t>& count) {
  if (!count) return nullptr;
  if (condition == kIs) return format("%K == %@", {key, *count});
  return format(condition == kGreaterThan ? "%K > %@" : "%K < %@", {key, *count});
}

}  // namespace

PredicatePtr SearchOption::predicate(const SearchClock& clock) const {
  switch (valueType_) {
    case SearchValueType::String:
      return stringPredicate(key_, conditionType_, stringValue_);
    case SearchValueType::Date:
      return datePredicate(key_, conditionType_, dateValue_, clock);
    case SearchValueType::Period:
      return periodPredicate(key_, periodValue_, clock);
    case SearchValueType::ToOneRelationship:
      return toOnePredicate(key_, conditionType_, libraryObjectIdentifier_);
    case SearchValueType::ToManyRelationship:
      return toManyPredicate(key_, conditionType_, libraryObjectIdentifier_);
    case SearchValueType::ToOneRelationshipProperty:
      return toOnePropertyPredicate(key_, conditionType_, stringValue_);
    case SearchValueType::ToManyRelationshipProperty:
      return toManyPropertyPredicate(key_, conditionType_, stringValue_);
    case SearchValueType::FileType:
      return fileTypePredicate(key_, conditionType_, stringValue_);
    case SearchValueType::Boolean:
      return booleanPredicate(key_, booleanComparison_, numberValue_.value_or(0) != 0);
    case SearchValueType::ByteCount:
      return byteCountPredicate(key_, conditionType_, numberValue_);
    case SearchValueType::Invalid:
      break;
  }
  return nullptr;
}

}  // namespace qlt
