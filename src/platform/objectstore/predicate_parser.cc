#include "platform/objectstore/predicate_parser.h"

#include <optional>

#include "platform/objectstore/predicate_error.h"
#include "platform/objectstore/predicate_lexer.h"

namespace qlt {
namespace {

using Type = PredicateToken::Type;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

class Parser {
 public:
  Parser(std::vector<PredicateToken> tokens, const std::vector<Value>& arguments)
      : tokens_(std::move(tokens)), arguments_(arguments) {}

  PredicatePtr run(Error* error) {
    PredicatePtr predicate = parseOr();
    if (predicate && peek().type != Type::End) predicate = fail("Unexpected token after the predicate");
    if (predicate && predicate->depth() > kMaxPredicateDepth) {
      predicate = fail(kPredicateTooDeepError, "Predicate nested too deeply", 0);
    }
    if (!predicate) setError(error, error_);
    return predicate;
  }

 private:
  const PredicateToken& peek() const { return tokens_[index_]; }
  const PredicateToken& advance() {
    const PredicateToken& token = tokens_[index_];
    if (index_ + 1 < tokens_.size()) ++index_;
    return token;
  }
  bool atKeyword(std::string_view word) const {
    return peek().type == Type::Identifier && equalsIgnoringCase(peek().text, word);
  }

  std::nullptr_t fail(long code, const std::string& message, size_t position) {
    if (!failed_) error_ = predicateError(code, message, position);
    failed_ = true;
    return nullptr;
  }
  std::nullptr_t fail(const std::string& message) { return fail(kPredicateSyntaxError, message, peek().position); }

  // Guards the recursion of parentheses, NOT and aggregates. A predicate
  // as deep as allowed prints each level as "NOT (" or an operand in
  // parentheses: two steps of recursion per level, which must read back.
  // Aggregates nest no deeper than predicates do.
  bool enter(int limit = 2 * kMaxPredicateDepth + 2) {
    if (++depth_ <= limit) return true;
    fail(kPredicateTooDeepError, "Predicate nested too deeply", peek().position);
    return false;
  }
  void leave() { --depth_; }

  PredicatePtr parseOr() {
    std::vector<PredicatePtr> operands;
    do {
      if (!operands.empty()) advance();
      PredicatePtr operand = parseAnd();
      if (!operand) return nullptr;
      operands.push_back(std::move(operand));
    } while (peek().type == Type::Or || atKeyword("OR"));
    return operands.size() == 1 ? operands.front() : Predicate::orPredicate(std::move(operands));
  }

  PredicatePtr parseAnd() {
    std::vector<PredicatePtr> operands;
    do {
      if (!operands.empty()) advance();
      PredicatePtr operand = parseUnary();
      if (!operand) return nullptr;
      operands.push_back(std::move(operand));
    } while (peek().type == Type::And || atKeyword("AND"));
    return operands.size() == 1 ? operands.front() : Predicate::andPredicate(std::move(operands));
  }

  PredicatePtr parseUnary() {
    if (peek().type == Type::Not || atKeyword("NOT")) {
      if (!enter()) return nullptr;
      advance();
      PredicatePtr operand = parseUnary();
      leave();
      return operand ? Predicate::notPredicate(std::move(operand)) : nullptr;
    }
    if (peek().type == Type::LeftParen) {
      if (!enter()) return nullptr;
      advance();
      PredicatePtr inner = parseOr();
      leave();
      if (!inner) return nullptr;
      if (peek().type != Type::RightParen) return fail("Expected ')'");
      advance();
      return inner;
    }
    if (atKeyword("TRUEPREDICATE")) {
      advance();
      return Predicate::truePredicate();
    }
    if (atKeyword("FALSEPREDICATE")) {
      advance();
      return Predicate::falsePredicate();
    }
    return parseComparison();
  }

  std::optional<ComparisonOperator> operatorKeyword() const {
    static const std::pair<const char*, ComparisonOperator> kKeywords[] = {
        {"IN", ComparisonOperator::In},
        {"BETWEEN", ComparisonOperator::Between},
        {"BEGINSWITH", ComparisonOperator::BeginsWith},
        {"ENDSWITH", ComparisonOperator::EndsWith},
        {"CONTAINS", ComparisonOperator::Contains},
        {"LIKE", ComparisonOperator::Like},
        {"MATCHES", ComparisonOperator::Matches},
    };
    if (peek().type == Type::Operator) return peek().op;
    for (const auto& [word, op] : kKeywords) {
      if (atKeyword(word)) return op;
    }
    return std::nullopt;
  }

  PredicatePtr parseComparison() {
    Comparison comparison;
    bool negate = false;
    if (atKeyword("ANY") || atKeyword("SOME")) {
      comparison.modifier = ComparisonModifier::Any;
    } else if (atKeyword("ALL")) {
      comparison.modifier = ComparisonModifier::All;
    } else if (atKeyword("NONE")) {
      comparison.modifier = ComparisonModifier::Any;
      negate = true;
    }
    if (comparison.modifier != ComparisonModifier::Direct) advance();

    std::optional<Expression> lhs = parseExpression();
    if (!lhs) return nullptr;
    std::optional<ComparisonOperator> op = operatorKeyword();
    if (!op) return fail("Expected a comparison operator");
    size_t operatorPosition = advance().position;
    if (peek().type == Type::Options) comparison.options = advance().options;
    std::optional<Expression> rhs = parseExpression();
    if (!rhs) return nullptr;

    if (*op == ComparisonOperator::Between && !isRange(*rhs)) {
      return fail(rhs->kind() == Expression::Kind::Constant ? kPredicateArgumentError : kPredicateSyntaxError,
                  "BETWEEN needs a collection of two values", operatorPosition);
    }
    comparison.lhs = std::move(*lhs);
    comparison.op = *op;
    comparison.rhs = std::move(*rhs);
    PredicatePtr predicate = Predicate::comparisonPredicate(std::move(comparison));
    return negate ? Predicate::notPredicate(std::move(predicate)) : predicate;
  }

  static bool isRange(const Expression& expression) {
    switch (expression.kind()) {
      case Expression::Kind::Aggregate:
        return expression.elements().size() == 2;
      case Expression::Kind::Constant: {
        const ValueList* list = expression.constantValue().collection();
        return list && list->size() == 2;
      }
      default:
        return true;
    }
  }

  const Value* nextArgument(size_t position) {
    if (argumentIndex_ < arguments_.size()) return &arguments_[argumentIndex_++];
    fail(kPredicateArgumentError, "Too few arguments: the format needs argument " + std::to_string(argumentIndex_ + 1),
         position);
    return nullptr;
  }

  std::optional<Expression> parseExpression() {
    const PredicateToken& token = peek();
    switch (token.type) {
      case Type::String:
        return Expression::constant(Value(advance().text));
      case Type::Integer:
        return Expression::constant(Value(advance().integer));
      case Type::Real:
        return Expression::constant(Value(advance().real));
      case Type::Placeholder:
        return parsePlaceholder();
      case Type::LeftBrace:
        return parseAggregate();
      case Type::EscapedIdentifier:
        return parseKeyPath({advance().text});
      case Type::Identifier:
        break;
      case Type::CollectionKey:
        fail("A collection operator must follow a key");
        return std::nullopt;
      default:
        fail("Expected an expression");
        return std::nullopt;
    }
    if (atKeyword("NIL") || atKeyword("NULL")) {
      advance();
      return Expression::constant(Value());
    }
    if (atKeyword("YES") || atKeyword("TRUE")) {
      advance();
      return Expression::constant(Value(true));
    }
    if (atKeyword("NO") || atKeyword("FALSE")) {
      advance();
      return Expression::constant(Value(false));
    }
    if (atKeyword("SELF")) {
      advance();
      if (peek().type != Type::Dot) return Expression::self();
      return parseKeyPath({});
    }
    if (isReservedPredicateWord(token.text)) {
      fail("Reserved word '" + token.text + "' cannot be a key (write #" + token.text + ")");
      return std::nullopt;
    }
    return parseKeyPath({advance().text});
  }

  // Reads ".key" continuations after `components`.
  std::optional<Expression> parseKeyPath(std::vector<std::string> components) {
    size_t position = peek().position;
    while (peek().type == Type::Dot) {
      advance();
      Type type = peek().type;
      if (type != Type::Identifier && type != Type::EscapedIdentifier && type != Type::CollectionKey) {
        fail("Expected a key after '.'");
        return std::nullopt;
      }
      components.push_back(advance().text);
    }
    if (!validKeyPath(components, position)) return std::nullopt;
    return Expression::keyPath(std::move(components));
  }

  bool validKeyPath(const std::vector<std::string>& components, size_t position) {
    for (size_t i = 0; i < components.size(); ++i) {
      const std::string& key = components[i];
      if (key.empty()) {
        fail(kPredicateArgumentError, "Empty key in key path", position);
        return false;
      }
      if (key[0] != '@') continue;
      if (key != kCountOperator) {
        fail(kPredicateSyntaxError, "Unsupported collection operator '" + key + "'", position);
        return false;
      }
      if (i == 0 || i + 1 != components.size()) {
        fail(kPredicateSyntaxError, "@count must end a key path", position);
        return false;
      }
    }
    return true;
  }

  std::optional<Expression> parsePlaceholder() {
    const PredicateToken& token = advance();
    const Value* argument = nextArgument(token.position);
    if (!argument) return std::nullopt;
    switch (token.placeholder) {
      case '@':
        return Expression::constant(*argument);
      case 'd':
        if (argument->integer()) return Expression::constant(*argument);
        if (argument->boolean()) return Expression::constant(Value(*argument->boolean() ? 1 : 0));
        fail(kPredicateArgumentError, "%d needs an integer argument", token.position);
        return std::nullopt;
      case 'f':
        if (argument->isNumber()) return Expression::constant(Value(*argument->numberValue()));
        fail(kPredicateArgumentError, "%f needs a number argument", token.position);
        return std::nullopt;
      default:
        break;
    }
    if (!argument->string() || argument->string()->empty()) {
      fail(kPredicateArgumentError, "%K needs a key path string argument", token.position);
      return std::nullopt;
    }
    std::vector<std::string> components;
    const std::string& path = *argument->string();
    for (size_t start = 0;;) {
      size_t dot = path.find('.', start);
      components.push_back(path.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
      if (dot == std::string::npos) break;
      start = dot + 1;
    }
    if (!validKeyPath(components, token.position)) return std::nullopt;
    return parseKeyPath(std::move(components));
  }

  std::optional<Expression> parseAggregate() {
    if (!enter(kMaxPredicateDepth)) return std::nullopt;
    advance();
    std::vector<Expression> elements;
    if (peek().type != Type::RightBrace) {
      while (true) {
        std::optional<Expression> element = parseExpression();
        if (!element) return std::nullopt;
        elements.push_back(std::move(*element));
        if (peek().type != Type::Comma) break;
        advance();
      }
    }
    if (peek().type != Type::RightBrace) {
      fail("Expected '}' or ','");
      return std::nullopt;
    }
    advance();
    leave();
    return Expression::aggregate(std::move(elements));
  }

  std::vector<PredicateToken> tokens_;
  const std::vector<Value>& arguments_;
  size_t index_ = 0;
  size_t argumentIndex_ = 0;
  int depth_ = 0;
  bool failed_ = false;
  Error error_;
};

}  // namespace

PredicatePtr parsePredicate(std::string_view format, const std::vector<Value>& arguments, Error* error) {
  std::optional<std::vector<PredicateToken>> tokens = tokenizePredicate(format, error);
  if (!tokens) return nullptr;
  return Parser(std::move(*tokens), arguments).run(error);
}

}  // namespace qlt
