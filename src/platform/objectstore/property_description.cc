#include "platform/objectstore/property_description.h"

#include <cmath>

namespace qlt {

std::optional<std::string> PropertyDescription::userInfoValue(const std::string& key) const {
  auto found = userInfo_.find(key);
  if (found == userInfo_.end()) return std::nullopt;
  return found->second;
}

std::optional<Value> AttributeDescription::coerce(const Value& value) const {
  if (value.isNull()) return value;
  switch (type_) {
    case AttributeType::Boolean:
      if (value.boolean()) return value;
      if (value.isNumber()) return Value(value.boolValue());
      return std::nullopt;
    case AttributeType::Integer32:
    case AttributeType::Integer64:
    case AttributeType::Number: {
      if (value.integer()) {
        int64_t v = *value.integer();
        if (type_ == AttributeType::Integer32 && (v < INT32_MIN || v > INT32_MAX)) return std::nullopt;
        return value;
      }
      if (value.boolean()) return Value(static_cast<int64_t>(*value.boolean()));
      if (auto real = value.real()) {
        if (!std::isfinite(*real) || std::trunc(*real) != *real || std::fabs(*real) > 9.0e18) return std::nullopt;
        return coerce(Value(static_cast<long long>(*real)));
      }
      return std::nullopt;
    }
    case AttributeType::Double:
      if (value.real()) return value;
      if (value.isNumber()) return Value(*value.numberValue());
      return std::nullopt;
    case AttributeType::String:
    case AttributeType::URI:
      return value.string() ? std::optional<Value>(value) : std::nullopt;
    case AttributeType::Date:
      return value.date() ? std::optional<Value>(value) : std::nullopt;
    case AttributeType::Binary:
      return value.data() ? std::optional<Value>(value) : std::nullopt;
  }
  return std::nullopt;
}

bool AttributeDescription::accepts(const Value& value) const {
  if (value.isNull()) return optional_ || transient_;
  return coerce(value).has_value();
}

}  // namespace qlt
