// search and groups: live searches over the library and its groups.
#include <algorithm>

#include "extension/library_object_file_provider_item.h"
#include "model/folder.h"
#include "model/item.h"
#include "model/search_group.h"
#include "platform/objectstore/managed_object_context.h"
#include "search/search_group_query.h"
#include "search/search_option_argument.h"
#include "store/library_manager.h"
#include "store/library_model_constants.h"
#include "tools/fp_commands.h"
#include "tools/fp_output.h"

namespace qlt::tool {

namespace {

int fail(const Error& error) {
  printError(error);
  return 1;
}

std::shared_ptr<Group> groupWithIdentifier(ManagedObjectContext& context, const std::string& identifier,
                                           Error* error) {
  FetchRequest request(kGroupEntityName);
  request.predicate = Predicate::withFormat("identifier == %@", {identifier});
  request.limit = 1;
  auto found = context.fetch(request, error);
  if (!found) return nullptr;
  if (found->empty()) {
    setError(error, badArgument("No group has the identifier " + identifier + "."));
    return nullptr;
  }
  return std::dynamic_pointer_cast<Group>(found->front());
}

[[nodiscard]] std::optional<SearchGroup::Field> fieldNamed(const std::string& name) {
  using Field = SearchGroup::Field;
  if (name == "name") return Field::Name;
  if (name == "comments") return Field::Comments;
  if (name == "source") return Field::Source;
  if (name == "contents" || name == "text") return Field::Contents;
  if (name == "tags") return Field::Tags;
  if (name == "labels") return Field::Labels;
  return std::nullopt;
}

// KEY[:desc] against the keys of the group's sort options.
[[nodiscard]] std::optional<std::vector<SortDescriptor>> sortDescriptorsFor(const Group& group, const std::string& text,
                                                                           Error* error) {
  size_t colon = text.find(':');
  std::string key = text.substr(0, colon);
  std::string direction = colon == std::string::npos ? "asc" : text.substr(colon + 1);
  if (direction != "asc" && direction != "desc") {
    setError(error, badArgument("A sort direction is asc or desc, not " + direction + "."));
    return std::nullopt;
  }
  std::string known;
  for (const ItemSortOption& option : group.itemSortOptions()) {
    std::string optionKey = option.customSortDescriptors() ? option.customSortDescriptors()->front().key : option.key();
    if (optionKey.find('.') != std::string::npos) optionKey = optionKey.substr(0, optionKey.find('.'));
    known += (known.empty() ? "" : ", ") + optionKey;
    if (optionKey != key) continue;
    return direction == "desc" ? option.descendingSortDescriptors() : option.ascendingSortDescriptors();
  }
  setError(error, badArgument("Unknown sort key " + key + "; the keys are " + known + "."));
  return std::nullopt;
}

[[nodiscard]] bool runSearch(ManagedObjectContext& context, const SearchCommandOptions& options, Error* error) {
  ManagedObjectPtr library = LibraryObject::libraryObject(context, kLibraryEntityName, kLibraryEntityName);
  if (!library) {
    setError(error, badArgument("The library has no library object."));
    return false;
  }
  auto group = std::dynamic_pointer_cast<SearchGroup>(context.insertNewObject(kSearchGroupEntityName));
  group->setObjectForKey("library", library);
  std::shared_ptr<Group> target;
  if (options.in) {
    target = groupWithIdentifier(context, *options.in, error);
    if (!target) return false;
  }
  group->setTargetGroup(target);
  if (!options.fields.empty()) {
    group->setSearchAll(false);
    for (const std::string& name : options.fields) {
      auto field = fieldNamed(name);
      if (!field) {
        setError(error, badArgument("Unknown search field " + name +
                                    "; the fields are name, comments, source, contents, tags, labels."));
        return false;
      }
      group->setSearchesField(*field, true);
    }
  }
  std::vector<SearchOption> searchOptions;
  for (const std::string& argument : options.options) {
    auto option = searchOptionFromArgument(argument, error);
    if (!option) return false;
    searchOptions.push_back(*option);
  }
  if (!setSearchGroupOptions(*group, searchOptions, error)) return false;
  group->setValueForKey("matchAll", !options.matchAny);
  group->setSearchText(options.text);

  auto query = searchGroupItemQuery(*group, SearchClock::system(), error);
  if (!query) return false;
  if (options.sort) {
    auto descriptors = sortDescriptorsFor(*group, *options.sort, error);
    if (!descriptors) return false;
    query->request.sortDescriptors = *descriptors;
  }
  query->request.limit = options.limit;
  // The transient group goes before the fetch: a context without unsaved
  // changes lets the store answer a limited page itself.
  context.rollback();
  auto items = context.fetch(query->request, error);
  if (!items) return false;
  for (const ManagedObjectPtr& object : *items)
    if (auto item = std::dynamic_pointer_cast<Item>(object)) printLine(descriptorJSON(ItemFileProviderItem(*item)));
  return true;
}

const char* kindOf(const ManagedObject& group) {
  static const char* kKinds[][2] = {{"LibraryGroup", "library"},  {"Bundle", "bundle"},
                                    {"RecentsGroup", "recents"},  {"FavoriteItemsGroup", "favorites"},
                                    {"UnfiledGroup", "unfiled"},  {"NoLabelGroup", "no-label"},
                                    {"SearchGroup", "search"},    {"Label", "label"},
                                    {"Tag", "tag"}};
  for (const auto& kind : kKinds)
    if (group.entity().name() == kind[0]) return kind[1];
  return "group";
}

[[nodiscard]] std::optional<int64_t> itemCount(ManagedObjectContext& context, const Group& group, Error* error) {
  std::optional<FetchRequest> request;
  if (auto search = dynamic_cast<const SearchGroup*>(&group)) {
    auto query = searchGroupItemQuery(*search, SearchClock::system(), error);
    if (!query) return std::nullopt;
    request = query->request;
  } else {
    request = group.itemsFetchRequest();
  }
  if (!request) {
    if (!group.entity().relationship("items")) return std::nullopt;
    return static_cast<int64_t>(group.objectsForKey("items").size());
  }
  request->sortDescriptors.clear();
  return context.count(*request, error);
}

}  // namespace

int searchCommand(const CommonOptions& common, const SearchCommandOptions& options) {
  if (options.limit < 0) return fail(badArgument("--limit must not be negative."));
  Error error;
  auto session = ExtensionSession::start(common, &error);
  if (!session) return fail(error);
  auto context = LibraryManager::sharedManager()->newBackgroundContext();
  bool done = false;
  context->performAndWait([&] { done = runSearch(*context, options, &error); });
  return done ? 0 : fail(error);
}

int groupsCommand(const CommonOptions& common) {
  Error error;
  auto session = ExtensionSession::start(common, &error);
  if (!session) return fail(error);
  auto context = LibraryManager::sharedManager()->newBackgroundContext();
  std::vector<nlohmann::json> lines;
  bool done = false;
  context->performAndWait([&] {
    FetchRequest request(kGroupEntityName);
    request.sortDescriptors = {SortDescriptor{"groupType"}, SortDescriptor::localizedStandard("name")};
    auto groups = context->fetch(request, &error);
    if (!groups) return;
    for (const ManagedObjectPtr& object : *groups) {
      auto group = std::dynamic_pointer_cast<Group>(object);
      const EntityDescription* folder = object->entity().model().entity(kFolderEntityName);
      if (!group || (folder && group->entity().isKindOfEntity(*folder))) continue;
      auto count = itemCount(*context, *group, &error);
      if (!count && !error.domain().empty()) return;
      lines.push_back({{"identifier", group->identifier()},
                       {"kind", kindOf(*group)},
                       {"name", group->name()},
                       {"groupType", group->groupType()},
                       {"items", count ? nlohmann::json(*count) : nlohmann::json()}});
    }
    done = true;
  });
  if (!done) return fail(error);
  for (const nlohmann::json& line : lines) printLine(line);
  return 0;
}

}  // namespace qlt::tool
