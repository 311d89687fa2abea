#include "platform/objectstore/predicate_expression.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <string_view>

namespace qlt {

Expression Expression::constant(Value value) {
  Expression expression;
  expression.constant_ = std::move(value);
  return expression;
}

Expression Expression::keyPath(std::vector<std::string> components) {
  Expression expression;
  expression.kind_ = Kind::KeyPath;
  expression.components_ = std::move(components);
  return expression;
}

Expression Expression::self() {
  Expression expression;
  expression.kind_ = Kind::Self;
  return expression;
}

Expression Expression::aggregate(std::vector<Expression> elements) {
  Expression expression;
  expression.kind_ = Kind::Aggregate;
  expression.elements_ = std::move(elements);
  return expression;
}

bool Expression::isConstant() const {
  switch (kind_) {
    case Kind::Constant:
      return true;
    case Kind::KeyPath:
    case Kind::Self:
      return false;
    case Kind::Aggregate:
      return std::all_of(elements_.begin(), elements_.end(), [](const Expression& e) { return e.isConstant(); });
  }
  return false;
}

int Expression::depth() const {
  int deepest = 0;
  for (const Expression& element : elements_) deepest = std::max(deepest, element.depth());
  return 1 + deepest;
}

bool isReservedPredicateWord(std::string_view word) {
  static constexpr std::array<std::string_view, 23> kReserved = {
      "AND",  "OR",      "NOT",   "IN",  "BETWEEN", "BEGINSWITH",    "ENDSWITH",      "CONTAINS",
      "LIKE", "MATCHES", "ANY",   "ALL", "SOME",    "NONE",          "NULL",          "NIL",
      "SELF", "TRUE",    "FALSE", "YES", "NO",      "TRUEPREDICATE", "FALSEPREDICATE"};
  if (word.size() > 14) return false;
  std::string upper(word);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return std::find(kReserved.begin(), kReserved.end(), upper) != kReserved.end();
}

namespace {

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out += c;
    }
  }
  return out + "\"";
}

// Shortest text that reads back as the same double, and as a double.
std::string realLiteral(double value) {
  if (!std::isfinite(value)) return std::isnan(value) ? "nan" : (value > 0 ? "inf" : "-inf");
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  std::string text(buffer, result.ptr);
  if (text.find_first_of(".e") == std::string::npos) text += ".0";
  return text;
}

}  // namespace

std::string predicateLiteral(const Value& value) {
  switch (value.type()) {
    case Value::Type::String:
      return quoted(*value.string());
    case Value::Type::Double:
      return realLiteral(*value.real());
    case Value::Type::Collection: {
      std::string text = "{";
      for (size_t i = 0; i < value.collection()->size(); ++i) {
        text += (i ? ", " : "") + predicateLiteral((*value.collection())[i]);
      }
      return text + "}";
    }
    default:
      return value.description();
  }
}

std::string Expression::description() const {
  switch (kind_) {
    case Kind::Constant:
      return predicateLiteral(constant_);
    case Kind::Self:
      return "SELF";
    case Kind::KeyPath: {
      std::string text;
      for (size_t i = 0; i < components_.size(); ++i) {
        if (i) text += '.';
        if (isReservedPredicateWord(components_[i])) text += '#';
        text += components_[i];
      }
      return text;
    }
    case Kind::Aggregate: {
      std::string text = "{";
      for (size_t i = 0; i < elements_.size(); ++i) text += (i ? ", " : "") + elements_[i].description();
      return text + "}";
    }
  }
  return {};
}

}  // namespace qlt
