#include "platform/foundation/regular_expression.h"

#include <unicode/regex.h>
#include <unicode/unistr.h>

#include "platform/foundation/string_comparison.h"

namespace qlt {
namespace {

constexpr long kCocoaFormattingError = 2048;

icu::UnicodeString toUnicode(const std::string& text) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

}  // namespace

struct RegularExpression::Matcher {
  std::unique_ptr<icu::RegexPattern> pattern;
  std::unique_ptr<icu::RegexMatcher> matcher;
  // The matcher reads the text in place, so it has to outlive each match.
  icu::UnicodeString text;
};

RegularExpression::RegularExpression(std::string pattern, unsigned options, std::unique_ptr<Matcher> matcher)
    : pattern_(std::move(pattern)), options_(options), matcher_(std::move(matcher)) {}

RegularExpression::~RegularExpression() = default;

std::unique_ptr<RegularExpression> RegularExpression::make(std::string_view pattern, unsigned options, Error* error) {
  uint32_t flags = (options & CaseInsensitive) ? UREGEX_CASE_INSENSITIVE : 0;
  UErrorCode status = U_ZERO_ERROR;
  UParseError where{};
  auto matcher = std::make_unique<Matcher>();
  matcher->pattern.reset(
      icu::RegexPattern::compile(toUnicode(foldString(pattern, options & ~CaseInsensitive)), flags, where, status));
  if (U_SUCCESS(status)) matcher->matcher.reset(matcher->pattern->matcher(status));
  if (U_FAILURE(status) || !matcher->matcher) {
    setError(error, Error(kCocoaErrorDomain, kCocoaFormattingError,
                          "The regular expression \"" + std::string(pattern) + "\" is invalid (" + u_errorName(status) +
                              " at offset " + std::to_string(where.offset) + ")."));
    return nullptr;
  }
  return std::unique_ptr<RegularExpression>(new RegularExpression(std::string(pattern), options, std::move(matcher)));
}

bool RegularExpression::matchesWhole(std::string_view text) {
  matcher_->text = toUnicode(foldString(text, options_ & ~CaseInsensitive));
  matcher_->matcher->reset(matcher_->text);
  UErrorCode status = U_ZERO_ERROR;
  bool matched = matcher_->matcher->matches(status);
  return U_SUCCESS(status) && matched;
}

}  // namespace qlt
