#include "platform/objectstore/value.h"

#include <ostream>

#include "platform/foundation/format.h"

namespace qlt {

std::optional<double> Value::numberValue() const {
  if (auto v = boolean()) return *v ? 1.0 : 0.0;
  if (auto v = integer()) return static_cast<double>(*v);
  if (auto v = real()) return *v;
  return std::nullopt;
}

bool Value::boolValue() const {
  auto number = numberValue();
  return number && *number != 0;
}

bool Value::operator==(const Value& other) const {
  if (isNumber() && other.isNumber()) {
    if (integer() && other.integer()) return *integer() == *other.integer();
    return *numberValue() == *other.numberValue();
  }
  if (type() != other.type()) return false;
  switch (type()) {
    case Type::Null: return true;
    case Type::String: return *string() == *other.string();
    case Type::Date: return *date() == *other.date();
    case Type::Data: return *data() == *other.data();
    case Type::Object: return *objectID() == *other.objectID();
    case Type::Collection: return *collection() == *other.collection();
    default: return false;
  }
}

std::string Value::description() const {
  switch (type()) {
    case Type::Null: return "nil";
    case Type::Boolean: return *boolean() ? "YES" : "NO";
    case Type::Integer: return std::to_string(*integer());
    case Type::Double: return FormatArgument::formatDouble(*real());
    case Type::String: return "\"" + *string() + "\"";
    case Type::Date: return date()->description();
    case Type::Data: return "<" + std::to_string(data()->size()) + " bytes>";
    case Type::Object: return objectID()->uriRepresentation();
    case Type::Collection: {
      std::string text = "{";
      for (size_t i = 0; i < collection()->size(); ++i) text += (i ? ", " : "") + (*collection())[i].description();
      return text + "}";
    }
  }
  return {};
}

ValueList& Value::mutableCollection() {
  auto* list = std::get_if<std::shared_ptr<ValueList>>(&value_);
  if (!list || !*list) {
    value_ = std::make_shared<ValueList>();
    list = std::get_if<std::shared_ptr<ValueList>>(&value_);
  } else if (list->use_count() > 1) {
    *list = std::make_shared<ValueList>(**list);
  }
  return **list;
}

std::ostream& operator<<(std::ostream& stream, const Value& value) { return stream << value.description(); }

}  // namespace qlt
