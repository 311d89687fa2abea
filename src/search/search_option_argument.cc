#include "search/search_option_argument.h"

#include <charconv>

namespace qlt {
namespace {

using namespace search_condition;

std::nullopt_t refuse(const std::string& description, Error* error) {
  setError(error, Error(kSearchOptionArgumentErrorDomain, kBadSearchOptionArgumentErrorCode, description));
  return std::nullopt;
}

std::optional<int64_t> integer(std::string_view text) {
  int64_t value = 0;
  auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (problem != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

std::optional<Date> day(const std::string& text) {
  if (text.size() != 10) return std::nullopt;
  // Noon UTC names the same calendar day in every time zone within 12 hours.
  return Date::fromISO8601(text + "T12:00:00Z");
}

std::optional<SearchOption> dateOption(const std::string& key, const std::string& value, Error* error) {
  if (!value.empty()) {
    char unit = value.back();
    auto quantity = integer(std::string_view(value).substr(0, value.size() - 1));
    if (quantity && *quantity > 0 && (unit == 'd' || unit == 'm' || unit == 'y')) {
      auto period = unit == 'd' ? SearchOptionPeriod::Unit::Day
                    : unit == 'm' ? SearchOptionPeriod::Unit::Month
                                  : SearchOptionPeriod::Unit::Year;
      return SearchOption::forDatePeriod(key == "before" || key == "after" ? "dateModified" : key, period, *quantity);
    }
  }
  auto date = day(value);
  if (!date) return refuse("A date option takes a day (YYYY-MM-DD) or a period such as 3d, 2m or 1y.", error);
  int64_t condition = key == "before" ? kBefore : key == "after" ? kAfter : kOn;
  return SearchOption::forDate(*date, key, condition);
}

}  // namespace

std::optional<SearchOption> searchOptionFromArgument(const std::string& argument, Error* error) {
  auto typed = splitTypedSearch(argument);
  if (!typed || typed->key.empty()) return refuse("A search option is written KIND:VALUE: " + argument, error);
  const std::string& key = typed->key;
  const std::string& value = typed->value;
  SearchOption option(key);
  switch (searchValueTypeForKey(key, kIs)) {
    case SearchValueType::String:
    case SearchValueType::ToOneRelationshipProperty:
    case SearchValueType::ToManyRelationshipProperty:
    case SearchValueType::FileType:
      if (value.empty()) return refuse("The option " + key + " needs a text to look for.", error);
      if (searchValueTypeForKey(key, kIs) == SearchValueType::FileType) return SearchOption::forFileType(value);
      return SearchOption::forKeySearchText(key, value);
    case SearchValueType::Date:
    case SearchValueType::Period:
      return dateOption(key, value, error);
    case SearchValueType::ToOneRelationship:
    case SearchValueType::ToManyRelationship: {
      bool negated = !value.empty() && value.front() == '!';
      option.setConditionType(negated ? kIsNot : kIs);
      option.setLibraryObjectIdentifier(negated ? value.substr(1) : value);
      return option;
    }
    case SearchValueType::Boolean:
      if (value != "yes" && value != "no")
        return refuse("The option " + key + " takes yes or no.", error);
      option.setNumberValue(value == "yes" ? 1 : 0);
      return option;
    case SearchValueType::ByteCount: {
      int64_t condition = kIs;
      std::string_view digits = value;
      if (!digits.empty() && (digits.front() == '<' || digits.front() == '>')) {
        condition = digits.front() == '<' ? kLessThan : kGreaterThan;
        digits.remove_prefix(1);
      }
      auto count = integer(digits);
      if (!count || *count < 0) return refuse("The option size takes a byte count: N, <N or >N.", error);
      option.setConditionType(condition);
      option.setNumberValue(*count);
      return option;
    }
    case SearchValueType::Invalid:
      break;
  }
  return refuse("Unknown search option kind: " + key, error);
}

}  // namespace qlt
