#include "search/index_search.h"

#include "model/search_group.h"
#include "platform/foundation/word_tokens.h"

namespace qlt {
namespace {

bool hasOperator(const std::string& text) {
  for (const char* word : {"AND", "OR", "NOT", "&", "|", "!"})
    if (text.find(word) != std::string::npos) return true;
  return false;
}

}  // namespace

std::optional<std::string> indexSearchString(const std::string& text) {
  bool quoted = text.size() >= 2 && text.front() == '"' && text.back() == '"';
  if (hasOperator(text) || quoted) return text.empty() ? std::nullopt : std::optional(text);
  std::string joined;
  for (const std::string& word : wordsOfText(text)) {
    if (!joined.empty()) joined += ' ';
    joined += word.find('*') == std::string::npos ? word + "*" : word;
  }
  return joined.empty() ? std::nullopt : std::optional(joined);
}

std::vector<std::string> indexSearchStrings(const SearchGroup& group, const std::vector<SearchOption>& options) {
  std::vector<std::string> strings;
  std::string text = group.searchText();
  bool wantsText = group.searchesField(SearchGroup::Field::Contents) && !text.empty();
  auto typed = splitTypedSearch(text);
  std::vector<SearchOption> all = options;
  if (typed && !typed->value.empty() && SearchOption(typed->key).needsIndexSearch()) {
    all.push_back(SearchOption::forKeySearchText(typed->key, typed->value));
  } else if (wantsText) {
    if (auto form = indexSearchString(text)) strings.push_back(*form);
  }
  for (const SearchOption& option : all)
    if (option.needsIndexSearch())
      if (auto form = indexSearchString(option.stringValue())) strings.push_back(*form);
  return strings;
}

}  // namespace qlt
