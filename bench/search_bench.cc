// Searching a large library: a live search group's query for a name and for
// a tag, the first 100 matches sorted by name, beside a raw twin that runs
// the same query written by hand on SQLite and reads the same rows; and a
// label's item count in a small and a large library.
//
// Libraries are built once per process through the model, each in a group
// container of its own under a temporary folder: N items named
// "Item 000123 <word>" (five words in turn), each in All Items and tagged
// with one of ten tags "Tag0" to "Tag9" in turn, the first 100 carrying the
// label "Bench".
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "bench_home.h"
#include "model/folder.h"
#include "model/label.h"
#include "model/model_classes.h"
#include "model/search_group.h"
#include "platform/foundation/string_comparison.h"
#include "platform/objectstore/managed_object_context.h"
#include "platform/sqlite/database.h"
#include "platform/sqlite/statement.h"
#include "search/search_group_query.h"
#include "store/library_manager.h"

namespace qlt {
namespace {

constexpr int kSaveBatch = 5000;
constexpr int kLabelled = 100;
constexpr int64_t kFirstResults = 100;
const char* const kWords[] = {"report", "notes", "photo", "draft", "memo"};

class Libraries {
 public:
  ~Libraries() { close(); }

  // The library of `items` items, loaded by the shared library manager.
  LibraryManager& open(int items) {
    if (!home_) makeRoot();
    if (openItems_ == items) return *manager_;
    close();
    std::string container = home_->root() + "/library-" + std::to_string(items);
    bool fresh = !std::filesystem::exists(container);
    std::filesystem::create_directories(container);
    ::setenv("QLT_GROUP_CONTAINER", container.c_str(), 1);
    manager_ = std::make_shared<LibraryManager>(libraryModelDelegate());
    LibraryManager::setSharedManager(manager_);
    bool loaded = false;
    manager_->loadLibrary([&](std::shared_ptr<Library> library, const Error*) { loaded = library != nullptr; });
    if (!loaded) std::abort();
    openItems_ = items;
    if (fresh) build(items);
    return *manager_;
  }

 private:
  void makeRoot() {
    registerLibraryModelClasses();
    home_ = std::make_unique<BenchHome>("qlt-search");
  }

  void close() {
    if (!manager_) return;
    LibraryManager::setSharedManager(nullptr);
    manager_.reset();
    openItems_ = -1;
  }

  void build(int itemCount) {
    auto started = std::chrono::steady_clock::now();
    auto context = manager_->newBackgroundContext();
    context->performAndWait([&] {
      ManagedObjectPtr library = context->fetch(FetchRequest("Library")).value().front();
      ManagedObjectPtr root = library->objectForKey("rootFolder");
      ManagedObjectPtr allItems = library->objectForKey("libraryGroup");
      std::vector<ManagedObjectPtr> tags;
      for (int index = 0; index < 10; ++index) {
        ManagedObjectPtr tag = context->insertNewObject("Tag");
        tag->setValueForKey("name", "Tag" + std::to_string(index));
        tag->setObjectForKey("library", library);
        tags.push_back(tag);
      }
      ManagedObjectPtr label = context->insertNewObject("Label");
      label->setValueForKey("name", "Bench");
      label->setObjectForKey("library", library);
      for (int index = 0; index < itemCount; ++index) {
        char name[48];
        std::snprintf(name, sizeof(name), "Item %06d %s", index, kWords[index % 5]);
        auto item = context->insertNewObject("Item");
        item->setValueForKey("name", std::string(name));
        item->setValueForKey("filename", std::string(name) + ".txt");
        item->setObjectForKey("folder", root);
        item->addObjectForKey("groups", allItems);
        item->addObjectForKey("tags", tags[static_cast<size_t>(index % 10)]);
        if (index < kLabelled) item->setObjectForKey("label", label);
        if ((index + 1) % kSaveBatch == 0) {
          if (!context->save()) std::abort();
          context->reset();
          library = context->fetch(FetchRequest("Library")).value().front();
          root = library->objectForKey("rootFolder");
          allItems = library->objectForKey("libraryGroup");
          FetchRequest tagRequest("Tag");
          tagRequest.sortDescriptors = {SortDescriptor{"name"}};
          tags = context->fetch(tagRequest).value();
          FetchRequest labelRequest("Label");
          label = context->fetch(labelRequest).value().front();
        }
      }
      if (!context->save()) std::abort();
    });
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::fprintf(stderr, "Built a library of %d items in %.1f s\n", itemCount, seconds);
  }

  std::unique_ptr<BenchHome> home_;
  std::shared_ptr<LibraryManager> manager_;
  int openItems_ = -1;
};

Libraries& libraries() {
  static Libraries shared;
  return shared;
}

// --- Through a live search group ---

// The transient search group lives in a context of its own, as a live
// search's does: the query runs in a context without unsaved changes, so
// that the store answers the first page itself. `queryOnly`: only turn the
// group's settings into its query.
void runSearch(benchmark::State& state, const std::string& text, SearchGroup::Field field, bool queryOnly = false) {
  LibraryManager& manager = libraries().open(static_cast<int>(state.range(0)));
  auto settings = manager.newBackgroundContext();
  auto reading = manager.newBackgroundContext();
  std::shared_ptr<SearchGroup> group;
  settings->performAndWait([&] {
    ManagedObjectPtr library = settings->fetch(FetchRequest("Library")).value().front();
    group = std::dynamic_pointer_cast<SearchGroup>(settings->insertNewObject("SearchGroup"));
    group->setObjectForKey("library", library);
    group->setTargetGroup(nullptr);
    group->setSearchAll(false);
    group->setSearchesField(field, true);
    group->setSearchText(text);
  });
  for (auto _ : state) {
    std::optional<SearchItemQuery> query;
    settings->performAndWait([&] { query = searchGroupItemQuery(*group, SearchClock::system()); });
    if (!query) return state.SkipWithError("no query");
    if (queryOnly) continue;
    query->request.limit = kFirstResults;
    bool found = false;
    reading->performAndWait([&] {
      auto items = reading->fetch(query->request);
      found = items && items->size() == kFirstResults;
      if (found)
        for (const ManagedObjectPtr& item : *items) benchmark::DoNotOptimize(item->valueForKey("name"));
    });
    if (!found) return state.SkipWithError("search failed");
  }
  settings->performAndWait([&] { settings->rollback(); });
}

void BM_NameSearch(benchmark::State& state) { runSearch(state, "report", SearchGroup::Field::Name); }
void BM_TagSearch(benchmark::State& state) { runSearch(state, "tag:Tag3", SearchGroup::Field::Name); }
void BM_NameSearchQueryOnly(benchmark::State& state) { runSearch(state, "report", SearchGroup::Field::Name, true); }

// --- By hand on SQLite ---

constexpr unsigned kFolding = CaseInsensitive | DiacriticInsensitive | WidthInsensitive;

void runRaw(benchmark::State& state, const std::string& condition, const std::string& needle) {
  LibraryManager& manager = libraries().open(static_cast<int>(state.range(0)));
  auto database = Database::open(manager.libraryPersistentStorePath(), {.readOnly = true, .create = false});
  if (!database) return state.SkipWithError("no database");
  const std::string select =
      "SELECT i.\"_pk\" FROM \"Item\" i WHERE " + condition +
      " AND EXISTS (SELECT 1 FROM \"_join_ItemGroup_items\" j JOIN \"Group\" g ON g.\"_pk\" = j.\"src\" "
      "WHERE j.\"dst\" = i.\"_pk\" AND g.\"identifier\" = 'LibraryGroup') "
      "ORDER BY i.\"name\" COLLATE QLT_LOCALIZED_STANDARD, i.\"_pk\" LIMIT " + std::to_string(kFirstResults);
  for (auto _ : state) {
    auto keys = database->cachedStatement(select);
    if (!keys) return state.SkipWithError("bad query");
    keys->reset();
    if (!keys->bindText(1, needle) || !keys->bindInt64(2, kFolding)) return state.SkipWithError("cannot bind");
    std::string inList;
    int64_t found = 0;
    while (keys->step()) {
      inList += (found++ ? "," : "") + std::to_string(keys->columnInt64(0));
    }
    if (found != kFirstResults) return state.SkipWithError("raw search failed");
    auto rows = database->cachedStatement("SELECT * FROM \"Item\" WHERE \"_pk\" IN (" + inList + ")");
    if (!rows) return state.SkipWithError("bad rows query");
    while (rows->step()) benchmark::DoNotOptimize(rows->columnText(4));
  }
}

void BM_NameSearch_Raw(benchmark::State& state) { runRaw(state, "qlt_contains(i.\"name\", ?, ?)", "report"); }
void BM_TagSearch_Raw(benchmark::State& state) {
  runRaw(state,
         "EXISTS (SELECT 1 FROM \"_join_Tag_items\" t JOIN \"Group\" n ON n.\"_pk\" = t.\"src\" "
         "WHERE t.\"dst\" = i.\"_pk\" AND qlt_like(?, n.\"name\", ?))",
         "Tag3");
}

// --- A label's item count ---

void BM_LabelCount(benchmark::State& state) {
  LibraryManager& manager = libraries().open(static_cast<int>(state.range(0)));
  auto context = manager.newBackgroundContext();
  context->performAndWait([&] {
    auto label = std::dynamic_pointer_cast<Label>(context->fetch(FetchRequest("Label")).value().front());
    for (auto _ : state) {
      auto request = label->itemsFetchRequest();
      if (!request) return state.SkipWithError("no request");
      request->sortDescriptors.clear();
      auto count = context->count(*request);
      if (!count || *count != kLabelled) return state.SkipWithError("count failed");
    }
  });
}

BENCHMARK(BM_LabelCount)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_NameSearch)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NameSearchQueryOnly)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NameSearch_Raw)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TagSearch)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TagSearch_Raw)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qlt
