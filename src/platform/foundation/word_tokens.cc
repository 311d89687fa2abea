#include "platform/foundation/word_tokens.h"

#include <unicode/brkiter.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <memory>

namespace qlt {

std::vector<std::string> wordsOfText(std::string_view text) {
  std::vector<std::string> words;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<icu::BreakIterator> iterator(icu::BreakIterator::createWordInstance(icu::Locale::getDefault(), status));
  if (U_FAILURE(status)) return words;
  icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  iterator->setText(unicode);
  int32_t start = iterator->first();
  for (int32_t end = iterator->next(); end != icu::BreakIterator::DONE; start = end, end = iterator->next()) {
    if (iterator->getRuleStatus() == UBRK_WORD_NONE) continue;
    std::string word;
    unicode.tempSubStringBetween(start, end).toUTF8String(word);
    words.push_back(std::move(word));
  }
  return words;
}

}  // namespace qlt
