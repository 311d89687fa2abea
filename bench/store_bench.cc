#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/objectstore/persistent_container.h"
#include "platform/sqlite/database.h"
#include "platform/sqlite/transaction.h"

namespace qlt {
namespace {

constexpr int64_t kStoreItems = 100000;
constexpr int kFolders = 100;
constexpr int64_t kPageSize = 200;

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "store_bench: %s\n", what.c_str());
  std::exit(1);
}

void check(bool ok, const std::string& what, const Error& error = {}) {
  if (!ok) fail(what + ": " + error.description());
}

// A fresh directory, removed with everything in it when the object goes.
class TempDirectory {
 public:
  TempDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qlt-bench-XXXXXX").native();
    if (!mkdtemp(pattern.data())) fail("mkdtemp failed");
    path_ = pattern;
  }
  ~TempDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDirectory(const TempDirectory&) = delete;
  TempDirectory& operator=(const TempDirectory&) = delete;

  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

std::shared_ptr<const ManagedObjectModel> libraryModel() {
  ModelBuilder builder("BenchLibrary");
  builder.entity("Folder")
      .attribute("name", AttributeType::String).done()
      .relationship("items", "Item").toMany().inverse("folder").done();
  builder.entity("Item")
      .attribute("name", AttributeType::String).indexed().done()
      .attribute("identifier", AttributeType::String).done()
      .attribute("comment", AttributeType::String).done()
      .attribute("source", AttributeType::String).done()
      .attribute("path", AttributeType::String).done()
      .attribute("kind", AttributeType::String).done()
      .attribute("size", AttributeType::Integer64).done()
      .attribute("flags", AttributeType::Integer32).done()
      .attribute("label", AttributeType::Integer32).done()
      .attribute("rating", AttributeType::Double).done()
      .attribute("dateCreated", AttributeType::Date).done()
      .attribute("dateModified", AttributeType::Date).done()
      .attribute("dateRecordChanged", AttributeType::Date).done()
      .attribute("isFlagged", AttributeType::Boolean).done()
      .attribute("thumbnail", AttributeType::Binary).done()
      .relationship("folder", "Folder").inverse("items").done();
  Error error;
  auto model = builder.build(&error);
  check(model != nullptr, "model", error);
  return model;
}

// One item's values; `folder` is the folder's index (0 holds most items).
struct ItemRow {
  std::string name, identifier, comment, source, path, kind;
  int64_t size = 0;
  int flags = 0, label = 0;
  double rating = 0;
  Date dateCreated, dateModified, dateRecordChanged;
  bool isFlagged = false;
  Bytes thumbnail;
  int folder = 0;
};

std::vector<ItemRow> makeItems(int64_t count) {
  static const std::vector<std::string> words = {"report", "notes",  "Invoice", "photo", "draft",  "meeting",
                                                 "Budget", "scan",   "letter",  "résumé", "summary", "Agenda"};
  static const std::vector<std::string> kinds = {"public.plain-text", "com.adobe.pdf", "public.jpeg", "public.html",
                                                 "net.daringfireball.markdown"};
  std::mt19937_64 random(42);
  std::vector<ItemRow> rows(static_cast<size_t>(count));
  for (int64_t i = 0; i < count; ++i) {
    ItemRow& row = rows[static_cast<size_t>(i)];
    char number[16];
    std::snprintf(number, sizeof number, "%05d", static_cast<int>(random() % 100000));
    row.name = "Item " + std::string(number) + " " + words[random() % words.size()];
    if (random() % 4 == 0) row.name += " " + std::to_string(random() % 50);
    char identifier[40];
    std::snprintf(identifier, sizeof identifier, "%016llx-%08llx", static_cast<unsigned long long>(random()),
                  static_cast<unsigned long long>(i));
    row.identifier = identifier;
    row.comment = random() % 3 ? "" : "Imported from the scanner, page " + std::to_string(random() % 20);
    row.source = "https://example.com/library/" + std::to_string(random() % 100000);
    row.path = "Files/" + std::string(number, 2) + "/" + row.name + ".pdf";
    row.kind = kinds[random() % kinds.size()];
    row.size = static_cast<int64_t>(random() % 50000000);
    row.flags = static_cast<int>(random() % 16);
    row.label = static_cast<int>(random() % 8);
    row.rating = static_cast<double>(random() % 11) / 2;
    row.dateCreated = Date(600000000.0 + static_cast<double>(random() % 100000000));
    row.dateModified = row.dateCreated.addingTimeInterval(static_cast<double>(random() % 1000000));
    row.dateRecordChanged = row.dateModified.addingTimeInterval(60);
    row.isFlagged = random() % 10 == 0;
    row.thumbnail.resize(32);
    for (uint8_t& byte : row.thumbnail) byte = static_cast<uint8_t>(random());
    row.folder = i % 10 ? 0 : 1 + static_cast<int>((i / 10) % (kFolders - 1));
  }
  return rows;
}

// A loaded store holding kFolders folders and no items yet.
struct Library {
  explicit Library(const std::string& directory) : container("Library", libraryModel(), directory) {
    Error loadError;
    bool loaded = false;
    container.loadPersistentStores([&](const PersistentStoreDescription&, const Error* error) {
      loaded = error == nullptr;
      if (error) loadError = *error;
    });
    check(loaded, "loading the store", loadError);
    auto context = container.newBackgroundContext();
    context->performAndWait([&] {
      for (int i = 0; i < kFolders; ++i) {
        ManagedObjectPtr folder = context->insertNewObject("Folder");
        folder->setValueForKey("name", Value("Folder " + std::to_string(i)));
        folders.push_back(folder->objectID());
      }
      Error error;
      check(context->save(&error), "saving the folders", error);
    });
  }

  std::string path() { return container.persistentStoreDescription().path; }
  int64_t itemEntityCode() { return *container.persistentStore().entityCode("Item"); }

  PersistentContainer container;
  std::vector<ObjectID> folders;
};

void insertItems(ManagedObjectContext& context, const std::vector<ItemRow>& rows, const std::vector<ObjectID>& folders) {
  for (const ItemRow& row : rows) {
    Error error;
    ManagedObjectPtr item = context.insertNewObject("Item", &error);
    check(item != nullptr, "inserting an item", error);
    item->setValueForKey("name", Value(row.name));
    item->setValueForKey("identifier", Value(row.identifier));
    item->setValueForKey("comment", Value(row.comment));
    item->setValueForKey("source", Value(row.source));
    item->setValueForKey("path", Value(row.path));
    item->setValueForKey("kind", Value(row.kind));
    item->setValueForKey("size", Value(row.size));
    item->setValueForKey("flags", Value(row.flags));
    item->setValueForKey("label", Value(row.label));
    item->setValueForKey("rating", Value(row.rating));
    item->setValueForKey("dateCreated", Value(row.dateCreated));
    item->setValueForKey("dateModified", Value(row.dateModified));
    item->setValueForKey("dateRecordChanged", Value(row.dateRecordChanged));
    item->setValueForKey("isFlagged", Value(row.isFlagged));
    item->setValueForKey("thumbnail", Value(row.thumbnail));
    item->setValueForKey("folder", Value(folders[static_cast<size_t>(row.folder)]));
  }
  Error error;
  check(context.save(&error), "saving the items", error);
}

// The rows as the store writes them: dates as seconds since 2001, Booleans
// as 0/1, the folder as its primary key. Keys start at `firstKey`.
void insertItemsRaw(Database& database, const std::vector<ItemRow>& rows, int64_t firstKey, int64_t entityCode,
                    const std::vector<ObjectID>& folders) {
  Error error;
  auto transaction = Transaction::begin(database, Transaction::Mode::Immediate, &error);
  check(transaction.has_value(), "beginning the insert", error);
  auto insert = database.prepare(
      "INSERT INTO \"Item\" (\"_pk\", \"_entity\", \"_version\", \"name\", \"identifier\", \"comment\", \"source\", "
      "\"path\", \"kind\", \"size\", \"flags\", \"label\", \"rating\", \"dateCreated\", \"dateModified\", "
      "\"dateRecordChanged\", \"isFlagged\", \"thumbnail\", \"folder\") "
      "VALUES (?, ?, 1, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
      &error);
  check(insert != nullptr, "preparing the insert", error);
  int64_t key = firstKey;
  for (const ItemRow& row : rows) {
    Statement& s = *insert;
    bool bound = s.bindInt64(1, key++) && s.bindInt64(2, entityCode) && s.bindText(3, row.name) &&
                 s.bindText(4, row.identifier) && s.bindText(5, row.comment) && s.bindText(6, row.source) &&
                 s.bindText(7, row.path) && s.bindText(8, row.kind) && s.bindInt64(9, row.size) &&
                 s.bindInt64(10, row.flags) && s.bindInt64(11, row.label) && s.bindDouble(12, row.rating) &&
                 s.bindDouble(13, row.dateCreated.timeIntervalSinceReferenceDate()) &&
                 s.bindDouble(14, row.dateModified.timeIntervalSinceReferenceDate()) &&
                 s.bindDouble(15, row.dateRecordChanged.timeIntervalSinceReferenceDate()) &&
                 s.bindInt64(16, row.isFlagged ? 1 : 0) && s.bindBlob(17, row.thumbnail) &&
                 s.bindInt64(18, folders[static_cast<size_t>(row.folder)].primaryKey);
    check(bound && s.execute(&error), "inserting a row", error);
  }
  insert.reset();
  check(transaction->commit(&error), "committing the insert", error);
}

// The 100,000-item store every read benchmark shares. Items are written with
// raw SQL to keep the start-up short; the rows are the ones the store itself
// writes (BM_Insert measures the store's own way).
struct SeededLibrary {
  SeededLibrary() : library(directory.path()) {
    Error error;
    auto database = Database::open(library.path(), {}, &error);
    check(database != nullptr, "opening the store file", error);
    insertItemsRaw(*database, makeItems(kStoreItems), 1, library.itemEntityCode(), library.folders);
    context = library.container.newBackgroundContext();
    raw = Database::open(library.path(), {}, &error);
    check(raw != nullptr, "opening a second connection", error);
    std::optional<int64_t> count;
    context->performAndWait([&] { count = context->count(FetchRequest("Item"), &error); });
    check(count == kStoreItems, "counting the seeded items", error);
  }

  TempDirectory directory;
  Library library;
  std::shared_ptr<ManagedObjectContext> context;
  std::unique_ptr<Database> raw;
};

SeededLibrary& seeded() {
  static SeededLibrary instance;
  return instance;
}

// --- Inserting ---

void BM_Insert(benchmark::State& state) {
  const std::vector<ItemRow> rows = makeItems(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto directory = std::make_unique<TempDirectory>();
    auto library = std::make_unique<Library>(directory->path());
    auto context = library->container.newBackgroundContext();
    state.ResumeTiming();
    context->performAndWait([&] { insertItems(*context, rows, library->folders); });
    state.PauseTiming();
    context.reset();
    library.reset();
    directory.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Insert_Raw(benchmark::State& state) {
  const std::vector<ItemRow> rows = makeItems(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto directory = std::make_unique<TempDirectory>();
    auto library = std::make_unique<Library>(directory->path());
    Error error;
    auto database = Database::open(library->path(), {}, &error);
    check(database != nullptr, "opening the store file", error);
    state.ResumeTiming();
    insertItemsRaw(*database, rows, 1, library->itemEntityCode(), library->folders);
    state.PauseTiming();
    database.reset();
    library.reset();
    directory.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// --- Paging by name ---

// VmRSS and VmHWM in kB.
std::map<std::string, int64_t> memoryStatus() {
  std::map<std::string, int64_t> values;
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    for (const char* key : {"VmRSS:", "VmHWM:"})
      if (line.rfind(key, 0) == 0) values[key] = std::strtoll(line.c_str() + std::string(key).size(), nullptr, 10);
  }
  return values;
}

// Runs `page` 50 times and records how much the resident set grew and how far
// its peak rose above the starting point. Measured once per benchmark and
// offset (Google Benchmark calls the function several times).
void recordMemoryGrowth(benchmark::State& state, const std::string& name, const std::function<void()>& page) {
  static std::map<std::string, std::pair<double, double>> measured;
  auto found = measured.find(name);
  if (found == measured.end()) {
    std::ofstream("/proc/self/clear_refs") << "5";  // resets VmHWM to the current RSS
    auto before = memoryStatus();
    for (int i = 0; i < 50; ++i) page();
    auto after = memoryStatus();
    found = measured
                .emplace(name, std::pair<double, double>(static_cast<double>(after["VmRSS:"] - before["VmRSS:"]),
                                                         static_cast<double>(after["VmHWM:"] - before["VmRSS:"])))
                .first;
  }
  state.counters["rss_growth_kb"] = found->second.first;
  state.counters["rss_peak_growth_kb"] = found->second.second;
}

void BM_PageByName(benchmark::State& state) {
  SeededLibrary& library = seeded();
  ManagedObjectContext& context = *library.context;
  const int64_t offset = state.range(0);
  auto page = [&] {
    context.performAndWait([&] {
      Error error;
      FetchRequest ids("Item");
      ids.resultType = FetchRequest::ResultType::ObjectIDs;
      ids.sortDescriptors = {SortDescriptor::localizedStandard("name")};
      ids.offset = offset;
      ids.limit = kPageSize;
      auto idResult = context.execute(ids, &error);
      check(idResult && idResult->objectIDs.size() == kPageSize, "fetching a page of IDs", error);

      ValueList idValues(idResult->objectIDs.begin(), idResult->objectIDs.end());
      FetchRequest objects("Item");
      objects.predicate = Predicate::withFormat("self IN %@", {Value(std::move(idValues))}, &error);
      auto fetched = context.fetch(objects, &error);
      check(fetched && fetched->size() == kPageSize, "fetching a page of objects", error);
      for (const ManagedObjectPtr& object : *fetched) {
        Value name = object->valueForKey("name");
        benchmark::DoNotOptimize(name);
      }
      fetched.reset();
      context.reset();
    });
  };
  for (auto _ : state) page();
  state.SetItemsProcessed(state.iterations() * kPageSize);
  recordMemoryGrowth(state, "store/" + std::to_string(offset), page);
}

void BM_PageByName_Raw(benchmark::State& state) {
  Database& database = *seeded().raw;
  const int64_t offset = state.range(0);
  std::string inList;
  for (int64_t i = 0; i < kPageSize; ++i) inList += i ? ",?" : "?";
  auto page = [&] {
    Error error;
    auto keys = database.cachedStatement(
        "SELECT \"_pk\" FROM \"Item\" ORDER BY \"name\" COLLATE QLT_LOCALIZED_STANDARD, \"_pk\" LIMIT ? OFFSET ?",
        &error);
    check(keys && keys->bindInt64(1, kPageSize) && keys->bindInt64(2, offset), "preparing the page query", error);
    std::vector<int64_t> pks;
    while (keys->step(&error)) pks.push_back(keys->columnInt64(0));
    check(!keys->failed() && pks.size() == kPageSize, "running the page query", error);

    auto rows = database.cachedStatement("SELECT * FROM \"Item\" WHERE \"_pk\" IN (" + inList + ")", &error);
    check(rows != nullptr, "preparing the row query", error);
    for (size_t i = 0; i < pks.size(); ++i)
      check(rows->bindInt64(static_cast<int>(i + 1), pks[i], &error), "binding a key", error);
    int64_t read = 0, checksum = 0;
    while (rows->step(&error)) {
      ++read;
      for (int column = 0, count = rows->columnCount(); column < count; ++column) {
        switch (rows->columnType(column)) {
          case Statement::ColumnType::Integer: checksum += rows->columnInt64(column); break;
          case Statement::ColumnType::Float: checksum += static_cast<int64_t>(rows->columnDouble(column)); break;
          case Statement::ColumnType::Text: checksum += static_cast<int64_t>(rows->columnText(column).size()); break;
          case Statement::ColumnType::Blob: checksum += static_cast<int64_t>(rows->columnBlob(column).size()); break;
          case Statement::ColumnType::Null: break;
        }
      }
    }
    check(!rows->failed() && read == kPageSize, "reading the rows", error);
    benchmark::DoNotOptimize(checksum);
  };
  for (auto _ : state) page();
  state.SetItemsProcessed(state.iterations() * kPageSize);
  recordMemoryGrowth(state, "raw/" + std::to_string(offset), page);
}

// --- Counting a folder's items ---

// The argument is the folder's index: 0 holds 90% of the items, the others
// about 100 each.
void BM_CountByFolder(benchmark::State& state) {
  SeededLibrary& library = seeded();
  ManagedObjectContext& context = *library.context;
  const ObjectID folder = library.library.folders[static_cast<size_t>(state.range(0))];
  int64_t count = 0;
  for (auto _ : state) {
    context.performAndWait([&] {
      Error error;
      FetchRequest request("Item");
      request.predicate = Predicate::withFormat("folder == %@", {Value(folder)}, &error);
      request.resultType = FetchRequest::ResultType::Count;
      auto result = context.execute(request, &error);
      check(result.has_value(), "counting", error);
      count = result->count;
    });
  }
  state.counters["count"] = static_cast<double>(count);
}

void BM_CountByFolder_Raw(benchmark::State& state) {
  SeededLibrary& library = seeded();
  Database& database = *library.raw;
  const int64_t folder = library.library.folders[static_cast<size_t>(state.range(0))].primaryKey;
  int64_t count = 0;
  for (auto _ : state) {
    Error error;
    auto statement = database.cachedStatement("SELECT COUNT(*) FROM \"Item\" WHERE \"folder\" = ?", &error);
    check(statement && statement->bindInt64(1, folder) && statement->step(&error), "counting", error);
    count = statement->columnInt64(0);
  }
  state.counters["count"] = static_cast<double>(count);
}

}  // namespace
}  // namespace qlt

// Store work runs on the contexts' own queues, so wall-clock time is the
// measure throughout.
BENCHMARK(qlt::BM_Insert)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(qlt::BM_Insert_Raw)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(qlt::BM_PageByName)->Arg(0)->Arg(50000)->Arg(99800)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(qlt::BM_PageByName_Raw)->Arg(0)->Arg(50000)->Arg(99800)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(qlt::BM_CountByFolder)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(qlt::BM_CountByFolder_Raw)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();
