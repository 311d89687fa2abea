#include "search/search_group_query.h"

#include <algorithm>

#include "search/search_option_archive.h"
#include "store/library_model_constants.h"

namespace qlt {
namespace {

using Field = SearchGroup::Field;

void prefetch(SearchItemQuery& query, const std::string& key) {
  auto& list = query.prefetchedRelationships;
  if (std::find(list.begin(), list.end(), key) == list.end()) list.push_back(key);
}

PredicatePtr conjunction(std::vector<PredicatePtr> parts) {
  if (parts.empty()) return nullptr;
  return parts.size() == 1 ? parts.front() : Predicate::andPredicate(std::move(parts));
}

PredicatePtr disjunction(std::vector<PredicatePtr> parts) {
  if (parts.empty()) return nullptr;
  return parts.size() == 1 ? parts.front() : Predicate::orPredicate(std::move(parts));
}

// Keys typed as "key:value" that turn the search text into an option.
bool isValidTextKey(const std::string& key) {
  return isSearchOptionTextKey(key) || key == kSearchOptionTagNamePropertyKey ||
         key == kSearchOptionLabelNamePropertyKey || key == kSearchOptionContentsKey ||
         key == kSearchOptionHighlightedTextContentKey;
}

std::optional<SearchItemQuery> libraryGroupQuery(const SearchGroup& group) {
  SearchItemQuery query;
  ManagedObjectPtr library = group.library();
  auto top = library ? std::dynamic_pointer_cast<Group>(library->objectForKey("libraryGroup")) : nullptr;
  if (top) {
    if (auto request = top->itemsFetchRequest()) query.request = *request;
  } else {
    query.request.predicate = Predicate::falsePredicate();
  }
  return query;
}

}  // namespace

std::optional<std::vector<SearchOption>> searchGroupOptions(const SearchGroup& group, Error* error) {
  Value data = group.valueForKey("searchOptionsData");
  if (!data.data()) return std::vector<SearchOption>{};
  return unarchivedSearchOptions(*data.data(), error);
}

bool setSearchGroupOptions(SearchGroup& group, const std::vector<SearchOption>& options, Error* error) {
  auto data = archivedSearchOptions(options, error);
  if (!data) return false;
  group.setValueForKey("searchOptionsData", *data);
  return true;
}

bool isValidSearchGroup(const SearchGroup& group, const std::vector<SearchOption>& options) {
  if (group.isDeleted() || !group.library()) return false;
  std::shared_ptr<Group> target = group.targetGroup();
  if (!target || target->isDeleted()) return false;
  return std::all_of(options.begin(), options.end(), [](const SearchOption& option) { return option.isValid(); });
}

std::optional<SearchItemQuery> searchGroupItemQuery(const SearchGroup& group, const SearchClock& clock, Error* error) {
  auto stored = searchGroupOptions(group, error);
  if (!stored) return std::nullopt;
  if (!isValidSearchGroup(group, *stored)) return libraryGroupQuery(group);

  SearchItemQuery query;
  prefetch(query, "folder");
  prefetch(query, "groups");
  std::vector<SearchOption> options = *stored;
  std::string text = group.searchText();
  if (auto typed = splitTypedSearch(text); typed && isValidTextKey(typed->key) && !typed->value.empty()) {
    options.push_back(SearchOption::forKeySearchText(typed->key, typed->value));
    text.clear();
  }

  bool contentSearch = (group.searchesField(Field::Contents) && !text.empty()) ||
                       std::any_of(options.begin(), options.end(),
                                   [](const SearchOption& option) { return option.needsIndexSearch(); });
  PredicatePtr indexPredicate;
  if (contentSearch) {
    prefetch(query, "searchGroups");
    indexPredicate = Predicate::withFormat("%@ IN searchGroups", {group.objectID()});
  }

  PredicatePtr textPredicate = indexPredicate;
  if (!text.empty()) {
    std::vector<PredicatePtr> alternatives;
    std::vector<std::string> keys;
    if (group.searchAll()) {
      keys = searchOptionTextKeys();
    } else {
      if (group.searchesField(Field::Name)) keys.push_back("name");
      if (group.searchesField(Field::Comments)) keys.push_back("comments");
      if (group.searchesField(Field::Source)) keys.push_back("source");
    }
    for (const std::string& key : keys)
      if (PredicatePtr predicate = SearchOption::forKeySearchText(key, text).predicate(clock))
        alternatives.push_back(predicate);
    if (group.searchesField(Field::Tags)) {
      prefetch(query, "tags");
      if (auto predicate = SearchOption::forText(kSearchOptionTagNamePropertyKey, text, search_condition::kContains)
                               .predicate(clock))
        alternatives.push_back(predicate);
    }
    if (group.searchesField(Field::Labels)) {
      prefetch(query, "label");
      if (auto predicate = SearchOption::forText(kSearchOptionLabelNamePropertyKey, text, search_condition::kContains)
                               .predicate(clock))
        alternatives.push_back(predicate);
    }
    if (indexPredicate) alternatives.push_back(indexPredicate);
    textPredicate = disjunction(std::move(alternatives));
  }

  std::vector<PredicatePtr> optionPredicates;
  for (const SearchOption& option : options) {
    if (option.needsIndexSearch()) continue;
    SearchValueType type = option.valueType();
    if (type >= SearchValueType::ToOneRelationship && type <= SearchValueType::ToManyRelationshipProperty)
      prefetch(query, option.key().substr(0, option.key().find('.')));
    if (PredicatePtr predicate = option.predicate(clock)) optionPredicates.push_back(predicate);
  }

  PredicatePtr groupPredicate = group.targetGroup()->predicateForSearchGroup(group);
  PredicatePtr combined;
  if (group.matchAll()) {
    std::vector<PredicatePtr> parts;
    if (groupPredicate) parts.push_back(groupPredicate);
    parts.insert(parts.end(), optionPredicates.begin(), optionPredicates.end());
    if (textPredicate) parts.push_back(textPredicate);
    combined = conjunction(std::move(parts));
  } else {
    std::vector<PredicatePtr> anyOf = optionPredicates;
    if (textPredicate) anyOf.push_back(textPredicate);
    PredicatePtr alternatives = disjunction(std::move(anyOf));
    if (alternatives && groupPredicate) {
      combined = Predicate::andPredicate({groupPredicate, alternatives});
    } else {
      combined = alternatives ? alternatives : groupPredicate;
    }
  }
  query.request.predicate = combined;
  query.request.sortDescriptors = group.itemSortDescriptors();
  return query;
}

}  // namespace qlt
