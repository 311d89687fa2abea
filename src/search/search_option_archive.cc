#include "search/search_option_archive.h"

#include <mutex>

#include "platform/foundation/codable.h"
#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/keyed_unarchiver.h"

namespace qlt {
namespace {

constexpr const char* kOptionClass = "QLTSearchOption";
constexpr const char* kPeriodClass = "QLTSearchOptionPeriod";

std::nullptr_t refuse(const std::string& description, Error* error) {
  setError(error, Error(kCocoaErrorDomain, kCocoaCoderReadCorruptError, description));
  return nullptr;
}

class PeriodCoding : public Codable {
 public:
  explicit PeriodCoding(SearchOptionPeriod period) : period_(std::move(period)) {}
  std::string className() const override { return kPeriodClass; }
  void encode(KeyedArchiver& archiver) const override {
    archiver.encodeInt64("quantity", period_.quantity);
    archiver.encodeInt64("period", static_cast<int64_t>(period_.unit));
    archiver.encodeString("identifier", period_.identifier);
  }
  const SearchOptionPeriod& period() const { return period_; }

  static std::shared_ptr<Codable> decode(KeyedUnarchiver& coder, Error* error) {
    SearchOptionPeriod period;
    auto quantity = coder.decodeInt64("quantity", error);
    auto unit = coder.decodeInt64("period", error);
    if (!quantity || !unit) return nullptr;
    if (*unit < 0 || *unit > 2) return refuse("A search option period has an unknown unit.", error);
    period.quantity = *quantity;
    period.unit = static_cast<SearchOptionPeriod::Unit>(*unit);
    if (coder.containsValue("identifier")) {
      auto identifier = coder.decodeString("identifier", error);
      if (!identifier) return nullptr;
      period.identifier = *identifier;
    }
    return std::make_shared<PeriodCoding>(std::move(period));
  }

 private:
  SearchOptionPeriod period_;
};

class OptionCoding : public Codable {
 public:
  explicit OptionCoding(SearchOption option) : option_(std::move(option)) {}
  std::string className() const override { return kOptionClass; }
  void encode(KeyedArchiver& archiver) const override {
    archiver.encodeString("key", option_.key());
    archiver.encodeInt64("valueType", static_cast<int64_t>(option_.valueType()));
    archiver.encodeInt64("conditionType", option_.conditionType());
    archiver.encodeInt64("booleanComparison", static_cast<int64_t>(option_.booleanComparison()));
    archiver.encodeString("persistentIdentifier", option_.persistentIdentifier());
    if (!option_.stringValue().empty()) archiver.encodeString("stringValue", option_.stringValue());
    if (option_.dateValue()) archiver.encodeDate("dateValue", *option_.dateValue());
    if (!option_.libraryObjectIdentifier().empty())
      archiver.encodeString("libraryObjectIdentifier", option_.libraryObjectIdentifier());
    if (option_.periodValue())
      archiver.encodeObject("periodValue", std::static_pointer_cast<Codable>(std::make_shared<PeriodCoding>(*option_.periodValue())));
    if (option_.numberValue()) archiver.encodeObject("numberValue", ArchiveObject(static_cast<int64_t>(*option_.numberValue())));
  }
  const SearchOption& option() const { return option_; }

  static std::shared_ptr<Codable> decode(KeyedUnarchiver& coder, Error* error);

 private:
  SearchOption option_;
};

template <typename T>
bool decodeIfPresent(KeyedUnarchiver& coder, const char* key, std::optional<T> (KeyedUnarchiver::*decode)(const std::string&, Error*),
                     std::optional<T>& out, Error* error) {
  if (!coder.containsValue(key)) return true;
  out = (coder.*decode)(key, error);
  return out.has_value();
}

std::shared_ptr<Codable> OptionCoding::decode(KeyedUnarchiver& coder, Error* error) {
  auto key = coder.decodeString("key", error);
  if (!key) return nullptr;
  if (key->empty()) return refuse("A search option has no key.", error);
  SearchOption option(*key);
  std::optional<int64_t> condition, valueType, comparison;
  std::optional<std::string> text, object, persistent;
  std::optional<Date> date;
  if (!decodeIfPresent(coder, "conditionType", &KeyedUnarchiver::decodeInt64, condition, error) ||
      !decodeIfPresent(coder, "valueType", &KeyedUnarchiver::decodeInt64, valueType, error) ||
      !decodeIfPresent(coder, "booleanComparison", &KeyedUnarchiver::decodeInt64, comparison, error) ||
      !decodeIfPresent(coder, "stringValue", &KeyedUnarchiver::decodeString, text, error) ||
      !decodeIfPresent(coder, "libraryObjectIdentifier", &KeyedUnarchiver::decodeString, object, error) ||
      !decodeIfPresent(coder, "persistentIdentifier", &KeyedUnarchiver::decodeString, persistent, error) ||
      !decodeIfPresent(coder, "dateValue", &KeyedUnarchiver::decodeDate, date, error))
    return nullptr;
  if (condition) option.setConditionType(*condition);
  if (comparison && (*comparison < 0 || *comparison > 2))
    return refuse("A search option has an unknown Boolean comparison.", error);
  option.restoreDerivedTypes(valueType ? static_cast<SearchValueType>(*valueType) : option.valueType(),
                             comparison ? static_cast<SearchBooleanComparison>(*comparison) : option.booleanComparison());
  if (text) option.setStringValue(*text);
  if (object) option.setLibraryObjectIdentifier(*object);
  if (persistent) option.setPersistentIdentifier(*persistent);
  if (date) option.setDateValue(*date);
  if (coder.containsValue("periodValue")) {
    auto period = coder.decodeObjectOfClass<PeriodCoding>("periodValue", kPeriodClass, error);
    if (!period) return nullptr;
    if (*period) option.setPeriodValue((*period)->period());
  }
  if (coder.containsValue("numberValue")) {
    auto number = coder.decodeObjectOfClasses("numberValue", {"NSNumber"}, error);
    if (!number) return nullptr;
    if (const int64_t* integer = number->integer()) option.setNumberValue(*integer);
    else if (const bool* boolean = number->boolean()) option.setNumberValue(*boolean ? 1 : 0);
    else if (const double* real = number->real()) option.setNumberValue(static_cast<int64_t>(*real));
    else if (!number->isNil()) return refuse("A search option's number is not a number.", error);
  }
  // Written by older versions; the shared-item condition now lives in the key.
  if (coder.containsValue("sharedItemData")) {
    auto legacy = coder.decodeData("sharedItemData", error);
    if (!legacy) return nullptr;
  }
  return std::make_shared<OptionCoding>(std::move(option));
}

void registerCodings() {
  static std::once_flag registered;
  std::call_once(registered, [] {
    CodableRegistry::global().registerClass(kOptionClass, OptionCoding::decode);
    CodableRegistry::global().registerClass(kPeriodClass, PeriodCoding::decode);
  });
}

}  // namespace

std::optional<Bytes> archivedSearchOptions(const std::vector<SearchOption>& options, Error* error) {
  std::vector<ArchiveObject> elements;
  elements.reserve(options.size());
  for (const SearchOption& option : options)
    elements.emplace_back(std::static_pointer_cast<Codable>(std::make_shared<OptionCoding>(option)));
  return KeyedArchiver::archivedData(ArchiveObject::array(std::move(elements)), true, error);
}

std::optional<std::vector<SearchOption>> unarchivedSearchOptions(const Bytes& data, Error* error) {
  registerCodings();
  static const ClassNameSet allowed{"NSArray", "NSDictionary", "NSSet",     "NSString",  "NSNumber",
                                    "NSDate",  "NSData",       "NSNull",    kOptionClass, kPeriodClass};
  auto root = KeyedUnarchiver::unarchivedObject(data, allowed, error);
  if (!root) return std::nullopt;
  const ArchiveArray* array = root->array();
  if (!array) {
    refuse("The archive holds no array of search options.", error);
    return std::nullopt;
  }
  std::vector<SearchOption> options;
  for (const ArchiveObject& element : array->elements) {
    auto coding = element.objectAs<OptionCoding>();
    if (!coding) {
      refuse("The archive holds something other than a search option.", error);
      return std::nullopt;
    }
    options.push_back(coding->option());
  }
  return options;
}

}  // namespace qlt
