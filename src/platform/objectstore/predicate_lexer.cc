#include "platform/objectstore/predicate_lexer.h"

#include <cctype>
#include <charconv>

#include "platform/foundation/string_comparison.h"
#include "platform/objectstore/predicate_error.h"

namespace qlt {
namespace {

bool isIdentifierStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$' ||
         static_cast<unsigned char>(c) >= 0x80;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isIdentifierPart(char c) { return isIdentifierStart(c) || isDigit(c); }

void appendUTF8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

class Lexer {
 public:
  explicit Lexer(std::string_view format) : text_(format) {}

  std::optional<std::vector<PredicateToken>> run(Error* error) {
    std::vector<PredicateToken> tokens;
    while (true) {
      while (pos_ < text_.size() &&
             (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n' || text_[pos_] == '\r')) {
        ++pos_;
      }
      PredicateToken token;
      token.position = pos_;
      if (pos_ == text_.size()) {
        tokens.push_back(token);
        return tokens;
      }
      if (!lexOne(token)) {
        setError(error, predicateError(kPredicateSyntaxError, message_, token.position));
        return std::nullopt;
      }
      tokens.push_back(std::move(token));
    }
  }

 private:
  using Type = PredicateToken::Type;

  char peek(size_t ahead = 0) const { return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : '\0'; }

  bool fail(std::string message) {
    message_ = std::move(message);
    return false;
  }

  bool symbol(PredicateToken& token, Type type, size_t length) {
    token.type = type;
    pos_ += length;
    return true;
  }

  bool comparison(PredicateToken& token, ComparisonOperator op, size_t length) {
    token.op = op;
    return symbol(token, Type::Operator, length);
  }

  bool lexOne(PredicateToken& token) {
    char c = peek();
    switch (c) {
      case '(':
        return symbol(token, Type::LeftParen, 1);
      case ')':
        return symbol(token, Type::RightParen, 1);
      case '{':
        return symbol(token, Type::LeftBrace, 1);
      case '}':
        return symbol(token, Type::RightBrace, 1);
      case ',':
        return symbol(token, Type::Comma, 1);
      case '.':
        return symbol(token, Type::Dot, 1);
      case '\'':
      case '"':
        return lexString(token);
      case '%':
        return lexPlaceholder(token);
      case '[':
        return lexOptions(token);
      case '#':
        ++pos_;
        if (!isIdentifierStart(peek())) return fail("Expected a key after '#'");
        lexWord(token);
        token.type = Type::EscapedIdentifier;
        return true;
      case '@':
        ++pos_;
        if (!isIdentifierStart(peek())) return fail("Expected a collection operator after '@'");
        lexWord(token);
        token.type = Type::CollectionKey;
        token.text = "@" + token.text;
        return true;
      case '=':
        if (peek(1) == '=') return comparison(token, ComparisonOperator::Equal, 2);
        if (peek(1) == '<') return comparison(token, ComparisonOperator::LessOrEqual, 2);
        if (peek(1) == '>') return comparison(token, ComparisonOperator::GreaterOrEqual, 2);
        return comparison(token, ComparisonOperator::Equal, 1);
      case '!':
        if (peek(1) == '=') return comparison(token, ComparisonOperator::NotEqual, 2);
        return symbol(token, Type::Not, 1);
      case '<':
        if (peek(1) == '=') return comparison(token, ComparisonOperator::LessOrEqual, 2);
        if (peek(1) == '>') return comparison(token, ComparisonOperator::NotEqual, 2);
        return comparison(token, ComparisonOperator::Less, 1);
      case '>':
        if (peek(1) == '=') return comparison(token, ComparisonOperator::GreaterOrEqual, 2);
        return comparison(token, ComparisonOperator::Greater, 1);
      case '&':
        if (peek(1) == '&') return symbol(token, Type::And, 2);
        return fail("Expected '&&'");
      case '|':
        if (peek(1) == '|') return symbol(token, Type::Or, 2);
        return fail("Expected '||'");
      default:
        break;
    }
    if (isDigit(c) || (c == '-' && isDigit(peek(1)))) return lexNumber(token);
    if (isIdentifierStart(c)) {
      lexWord(token);
      token.type = Type::Identifier;
      return true;
    }
    return fail("Unexpected character '" + std::string(1, c) + "'");
  }

  void lexWord(PredicateToken& token) {
    size_t start = pos_;
    while (pos_ < text_.size() && isIdentifierPart(text_[pos_])) ++pos_;
    token.text = std::string(text_.substr(start, pos_ - start));
  }

  bool lexNumber(PredicateToken& token) {
    size_t start = pos_;
    if (peek() == '-') ++pos_;
    bool hex = peek() == '0' && (peek(1) == 'x' || peek(1) == 'X');
    if (hex) {
      pos_ += 2;
      size_t digits = pos_;
      while (std::isxdigit(static_cast<unsigned char>(peek()))) ++pos_;
      if (pos_ == digits) return fail("Expected hexadecimal digits");
    } else {
      bool real = false;
      while (isDigit(peek())) ++pos_;
      if (peek() == '.' && isDigit(peek(1))) {
        real = true;
        ++pos_;
        while (isDigit(peek())) ++pos_;
      }
      if ((peek() == 'e' || peek() == 'E') &&
          (isDigit(peek(1)) || ((peek(1) == '-' || peek(1) == '+') && isDigit(peek(2))))) {
        real = true;
        pos_ += 2;
        while (isDigit(peek())) ++pos_;
      }
      if (real) {
        token.type = Type::Real;
        auto [end, status] = std::from_chars(text_.data() + start, text_.data() + pos_, token.real);
        if (status != std::errc()) return fail("Number out of range");
        return !isIdentifierPart(peek()) || fail("Malformed number");
      }
    }
    if (isIdentifierPart(peek())) return fail("Malformed number");
    bool negative = text_[start] == '-';
    size_t digits = start + (negative ? 1 : 0) + (hex ? 2 : 0);
    uint64_t magnitude = 0;
    auto [end, status] = std::from_chars(text_.data() + digits, text_.data() + pos_, magnitude, hex ? 16 : 10);
    const uint64_t limit = negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
    if (status != std::errc() || magnitude > limit) return fail("Integer out of range");
    token.type = Type::Integer;
    token.integer = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return true;
  }

  bool lexString(PredicateToken& token) {
    char quote = peek();
    ++pos_;
    std::string value;
    while (true) {
      if (pos_ >= text_.size()) return fail("Unterminated string");
      char c = text_[pos_++];
      if (c == quote) break;
      if (c != '\\') {
        value += c;
        continue;
      }
      if (pos_ >= text_.size()) return fail("Unterminated string");
      char escaped = text_[pos_++];
      switch (escaped) {
        case '\\':
        case '\'':
        case '"':
          value += escaped;
          break;
        case 'n':
          value += '\n';
          break;
        case 't':
          value += '\t';
          break;
        case 'r':
          value += '\r';
          break;
        case 'u': {
          uint32_t code = 0;
          if (pos_ + 4 > text_.size()) return fail("Malformed \\u escape");
          auto [end, status] = std::from_chars(text_.data() + pos_, text_.data() + pos_ + 4, code, 16);
          if (status != std::errc() || end != text_.data() + pos_ + 4 || (code >= 0xD800 && code < 0xE000)) {
            return fail("Malformed \\u escape");
          }
          pos_ += 4;
          appendUTF8(value, code);
          break;
        }
        default:
          return fail("Unknown escape '\\" + std::string(1, escaped) + "'");
      }
    }
    token.type = Type::String;
    token.text = std::move(value);
    return true;
  }

  bool lexPlaceholder(PredicateToken& token) {
    ++pos_;
    char c = peek();
    if (c == '@' || c == 'K') {
      ++pos_;
      token.placeholder = c;
    } else {
      size_t lengthModifiers = 0;
      while (peek() == 'l' && lengthModifiers < 2) {
        ++pos_;
        ++lengthModifiers;
      }
      c = peek();
      if (c == 'd' || c == 'i' || c == 'u') {
        token.placeholder = 'd';
      } else if (c == 'f') {
        token.placeholder = 'f';
      } else {
        return fail("Unsupported format specifier");
      }
      ++pos_;
    }
    token.type = Type::Placeholder;
    return true;
  }

  bool lexOptions(PredicateToken& token) {
    ++pos_;
    unsigned options = 0;
    while (peek() != ']') {
      char c = peek();
      if (c == 'c' || c == 'C') {
        options |= CaseInsensitive;
      } else if (c == 'd' || c == 'D') {
        options |= DiacriticInsensitive;
      } else if (pos_ >= text_.size()) {
        return fail("Unterminated comparison options");
      } else {
        return fail("Unknown comparison option '" + std::string(1, c) + "'");
      }
      ++pos_;
    }
    ++pos_;
    if (options == (CaseInsensitive | DiacriticInsensitive)) options |= WidthInsensitive;
    token.type = Type::Options;
    token.options = options;
    return true;
  }

  std::string_view text_;
  size_t pos_ = 0;
  std::string message_;
};

}  // namespace

std::optional<std::vector<PredicateToken>> tokenizePredicate(std::string_view format, Error* error) {
  return Lexer(format).run(error);
}

}  // namespace qlt
