// Listing one folder page by page, as the file manager's `ls -l` does
// through the mount: the folder enumerator building descriptors, beside a
// raw twin that selects the same rows in SQLite itself, reads each file's
// stat and extended attributes once and builds the same descriptor values.
//
// Each library is built once per process through the model, in a group
// container of its own under a temporary folder: one folder "Listed" with N
// items whose files hold 100 bytes. BM_ListPage and BM_ListPage_Raw take
// (items, offset) pairs: the first and the last page of each library.
// BM_ListAll and BM_ListAll_Raw follow every page and report the resident
// memory the whole listing added.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include "bench_libraries.h"
#include "extension/file_provider_enumerator.h"
#include "extension/file_provider_extension.h"
#include "model/folder.h"
#include "model/item.h"
#include "platform/files/extended_attributes.h"
#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/uniform_type.h"
#include "platform/objectstore/managed_object_context.h"
#include "platform/sqlite/database.h"
#include "platform/sqlite/statement.h"
#include "store/library_manager.h"

namespace qlt {
namespace {

constexpr int64_t kPageSize = 500;
constexpr int kSaveBatch = 5000;
constexpr double kBaseDate = 700000000;

struct Listed {
  std::string folderIdentifier;  // the file-provider identifier
  int64_t folderKey = 0;         // its row
  std::string directory;
  std::string storePath;
};

Listed buildListed(FileProviderExtension&, const std::string&, int itemCount) {
  auto started = std::chrono::steady_clock::now();
  Listed listed;
  auto manager = LibraryManager::sharedManager();
  listed.storePath = manager->libraryPersistentStorePath();
  auto context = manager->newBackgroundContext();
  const std::string contents(100, 'x');
  context->performAndWait([&] {
    auto root = context->fetch(FetchRequest("Library")).value().front()->objectForKey("rootFolder")->as<Folder>();
    Folder::Ptr folder = root->createSubfolder("Listed");
    if (!context->save()) std::abort();
    listed.folderIdentifier = folder->fileProviderItemIdentifier();
    listed.directory = *folder->folderPath();
    for (int index = 0; index < itemCount; ++index) {
      char filename[32];
      std::snprintf(filename, sizeof(filename), "Item %06d.txt", index);
      auto item = context->insertNewObject("Item");
      item->setValueForKey("filename", std::string(filename));
      item->setValueForKey("name", std::string(filename));
      item->setValueForKey("size", int64_t{100});
      item->setObjectForKey("folder", folder);
      auto made = item->as<Item>();
      made->setDateCreated(Date(kBaseDate + index));
      made->setDateModified(Date(kBaseDate + index));
      made->setDateRecordChanged(Date(kBaseDate + 10 + index * 0.001));
      std::ofstream(listed.directory + "/" + filename) << contents;
      if ((index + 1) % kSaveBatch == 0 && !context->save()) std::abort();
    }
    if (!context->save()) std::abort();
  });
  auto database = Database::open(listed.storePath, {.readOnly = true, .create = false});
  auto key = database ? database->cachedStatement("SELECT \"_pk\" FROM \"Group\" WHERE \"name\" = 'Listed'") : nullptr;
  if (!key || !key->step()) std::abort();
  listed.folderKey = key->columnInt64(0);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::fprintf(stderr, "Built a library of %d items in %.1f s\n", itemCount, seconds);
  return listed;
}

BenchLibraries<Listed>& libraries() {
  static BenchLibraries<Listed> shared("qlt-listing", buildListed);
  return shared;
}

long residentKilobytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// --- Through the enumerator ---

struct Pages : FileProviderEnumerationObserver {
  int64_t suggestedPageSize() const override { return kPageSize; }
  void didEnumerateItems(const std::vector<FileProviderItemPtr>& items) override {
    received += items.size();
    for (const FileProviderItemPtr& item : items) benchmark::DoNotOptimize(item->filename());
  }
  void finishEnumeratingUpToPage(const std::optional<Bytes>& page) override { nextPage = page; }
  void finishEnumeratingWithError(const Error&) override { failed = true; }
  size_t received = 0;
  std::optional<Bytes> nextPage;
  bool failed = false;
};

void BM_ListPage(benchmark::State& state) {
  const int items = static_cast<int>(state.range(0));
  const Listed& listed = libraries().open(items);
  auto enumerator = libraries().extension().enumeratorForContainerItemIdentifier(listed.folderIdentifier);
  const Bytes page = pageTokenForOffsets(0, static_cast<uint64_t>(state.range(1)));
  for (auto _ : state) {
    Pages pages;
    enumerator->enumerateItemsForObserver(pages, page);
    if (pages.failed || pages.received != kPageSize) state.SkipWithError("listing failed");
  }
  enumerator->invalidate();
  state.SetItemsProcessed(state.iterations() * kPageSize);
}

void BM_ListAll(benchmark::State& state) {
  const Listed& listed = libraries().open(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    ::malloc_trim(0);
    long before = residentKilobytes();
    auto enumerator = libraries().extension().enumeratorForContainerItemIdentifier(listed.folderIdentifier);
    std::optional<Bytes> page;
    size_t received = 0;
    do {
      Pages pages;
      enumerator->enumerateItemsForObserver(pages, page);
      if (pages.failed) state.SkipWithError("listing failed");
      received += pages.received;
      page = pages.nextPage;
    } while (page);
    enumerator->invalidate();
    if (received != static_cast<size_t>(state.range(0))) state.SkipWithError("wrong item count");
    state.counters["rss_growth_kb"] = static_cast<double>(residentKilobytes() - before);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// --- The raw twin ---

// The values an item descriptor carries, for a library kept on this disk.
struct RawDescriptor {
  std::string itemIdentifier;
  std::string parentItemIdentifier;
  std::string filename;
  std::string contentType;
  std::optional<Date> creationDate, contentModificationDate, lastUsedDate;
  uint64_t capabilities = 0;
  FileProviderItemVersion itemVersion;
  std::map<std::string, Bytes> extendedAttributes;
  std::optional<Bytes> tagData;
  std::optional<uint64_t> documentSize;
  bool isDownloaded = false;
  bool isMostRecentVersionDownloaded = false;
};

class RawLister {
 public:
  explicit RawLister(const Listed& listed) : listed_(listed) {
    database_ = Database::open(listed.storePath, {.readOnly = true, .create = false});
    if (!database_) std::abort();
  }

  // One page of descriptors, from `offset`.
  std::vector<RawDescriptor> page(int64_t offset) {
    Error error;
    auto rows = database_->cachedStatement(
        "SELECT * FROM \"Item\" WHERE \"folder\" = ? ORDER BY \"filename\" COLLATE QLT_LOCALIZED_STANDARD, \"_pk\" "
        "LIMIT ? OFFSET ?",
        &error);
    if (!rows || !rows->bindInt64(1, listed_.folderKey) || !rows->bindInt64(2, kPageSize) ||
        !rows->bindInt64(3, offset))
      std::abort();
    if (columns_.empty())
      for (const char* name : {"identifier", "fileProviderIdentifierVersion", "filename", "fileType", "dateCreated",
                               "dateModified", "mostRecentDate", "dateRecordChanged", "size", "fileProviderTagData"})
        columns_[name] = columnIndex(*rows, name);
    std::vector<RawDescriptor> descriptors;
    descriptors.reserve(kPageSize);
    while (rows->step(&error)) descriptors.push_back(describe(*rows));
    if (rows->failed()) std::abort();
    return descriptors;
  }

 private:
  static int columnIndex(const Statement& statement, const std::string& name) {
    for (int column = 0; column < statement.columnCount(); ++column)
      if (statement.columnName(column) == name) return column;
    std::abort();
  }

  static std::optional<Date> dateAt(const Statement& row, int column) {
    if (row.isNull(column)) return std::nullopt;
    return Date(row.columnDouble(column));
  }

  RawDescriptor describe(const Statement& row) {
    RawDescriptor descriptor;
    std::string identifier(row.columnText(columns_["identifier"]));
    descriptor.itemIdentifier =
        "Item|" + identifier +
        (row.columnInt64(columns_["fileProviderIdentifierVersion"]) > 0
             ? "|" + std::to_string(row.columnInt64(columns_["fileProviderIdentifierVersion"]))
             : "");
    descriptor.parentItemIdentifier = listed_.folderIdentifier;
    descriptor.filename = std::string(row.columnText(columns_["filename"]));
    const UniformType* type = UniformType::withIdentifier(row.columnText(columns_["fileType"]));
    if (!type) {
      size_t dot = descriptor.filename.rfind('.');
      type = UniformType::withFilenameExtension(dot == std::string::npos ? std::string_view()
                                                                         : std::string_view(descriptor.filename).substr(dot + 1));
    }
    descriptor.contentType = type ? type->identifier() : UniformType::data().identifier();
    descriptor.creationDate = dateAt(row, columns_["dateCreated"]);
    descriptor.contentModificationDate = dateAt(row, columns_["dateModified"]);
    descriptor.lastUsedDate = dateAt(row, columns_["mostRecentDate"]);
    descriptor.capabilities = kFileProviderItemAllowsReading | kFileProviderItemAllowsWriting |
                              kFileProviderItemAllowsReparenting | kFileProviderItemAllowsRenaming |
                              kFileProviderItemAllowsTrashing | kFileProviderItemAllowsDeleting;
    auto version = [&](const char* column) {
      std::optional<Date> date = dateAt(row, columns_[column]);
      return archivedNumber(date ? date->timeIntervalSinceReferenceDate() : 0.0).value_or(Bytes{});
    };
    descriptor.itemVersion = {version("dateModified"), version("dateRecordChanged")};
    if (!row.isNull(columns_["size"])) descriptor.documentSize = static_cast<uint64_t>(row.columnInt64(columns_["size"]));

    std::string path = listed_.directory + "/" + descriptor.filename;
    struct stat status {};
    if (::stat(path.c_str(), &status) == 0) {
      descriptor.isDownloaded = true;
      descriptor.isMostRecentVersionDownloaded =
          descriptor.contentModificationDate &&
          Date::fromTimespec(status.st_mtim).timeIntervalSinceReferenceDate() ==
              descriptor.contentModificationDate->timeIntervalSinceReferenceDate();
      if (auto names = extendedAttributeNames(path))
        for (const std::string& name : *names)
          if (auto value = extendedAttribute(path, name))
            descriptor.extendedAttributes.emplace(name, Bytes(value->begin(), value->end()));
    }
    descriptor.extendedAttributes.emplace("com.quillet.identifier", Bytes(identifier.begin(), identifier.end()));
    auto tags = descriptor.extendedAttributes.find("com.apple.metadata:_kMDItemUserTags");
    if (tags != descriptor.extendedAttributes.end()) {
      descriptor.tagData = tags->second;
    } else if (!row.isNull(columns_["fileProviderTagData"])) {
      auto blob = row.columnBlob(columns_["fileProviderTagData"]);
      descriptor.tagData = Bytes(blob.begin(), blob.end());
    }
    return descriptor;
  }

  const Listed& listed_;
  std::unique_ptr<Database> database_;
  std::map<std::string, int> columns_;
};

void BM_ListPage_Raw(benchmark::State& state) {
  const Listed& listed = libraries().open(static_cast<int>(state.range(0)));
  RawLister lister(listed);
  for (auto _ : state) {
    auto descriptors = lister.page(state.range(1));
    if (descriptors.size() != kPageSize) state.SkipWithError("listing failed");
    benchmark::DoNotOptimize(descriptors.data());
  }
  state.SetItemsProcessed(state.iterations() * kPageSize);
}

void BM_ListAll_Raw(benchmark::State& state) {
  const Listed& listed = libraries().open(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    ::malloc_trim(0);
    long before = residentKilobytes();
    RawLister lister(listed);
    size_t received = 0;
    for (int64_t offset = 0;; offset += kPageSize) {
      auto descriptors = lister.page(offset);
      received += descriptors.size();
      if (descriptors.size() < kPageSize) break;
    }
    if (received != static_cast<size_t>(state.range(0))) state.SkipWithError("wrong item count");
    state.counters["rss_growth_kb"] = static_cast<double>(residentKilobytes() - before);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Grouped by library so that each is opened once; each pair runs side by
// side.
BENCHMARK(BM_ListPage)->Args({10000, 0})->Args({10000, 10000 - kPageSize})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListPage_Raw)->Args({10000, 0})->Args({10000, 10000 - kPageSize})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListAll)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListAll_Raw)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListPage)->Args({100000, 0})->Args({100000, 100000 - kPageSize})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListPage_Raw)->Args({100000, 0})->Args({100000, 100000 - kPageSize})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListAll)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListAll_Raw)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qlt

BENCHMARK_MAIN();
