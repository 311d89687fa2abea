// The read path of the extension on large libraries: listing pages,
// change enumeration, the current sync anchor, and memory while listing.
//
// Each library is built once per process, through the model in a
// background context, in a group container of its own under a temporary
// folder: one folder "Big" holding 1,000 subfolders and N items. The items'
// files exist (empty), so that descriptors and change enumeration see a
// library that is not stored in the cloud, as on disk.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdlib.h>
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
#include "store/library_manager.h"
#include "platform/objectstore/managed_object_context.h"

namespace qlt {
namespace {

constexpr int kFolders = 1000;
constexpr int kModifiedItems = 1000;
constexpr int64_t kPageSize = 500;
constexpr int kSaveBatch = 2000;
constexpr double kBaseDate = 700000000;

struct Library {
  std::string container;
  std::string bigFolderIdentifier;
  // The current anchor before kModifiedItems items were touched.
  Bytes anchorBeforeChanges;
};

Library buildLibrary(FileProviderExtension& extension, const std::string& container, int itemCount) {
  auto started = std::chrono::steady_clock::now();
  Library library{container, {}, {}};
  auto context = LibraryManager::sharedManager()->newBackgroundContext();
  std::vector<ManagedObjectPtr> items;
  context->performAndWait([&] {
    auto root = context->fetch(FetchRequest("Library")).value().front()->objectForKey("rootFolder")->as<Folder>();
    Folder::Ptr big = root->createSubfolder("Big");
    big->setDateRecordChanged(Date(kBaseDate));
    for (int index = 0; index < kFolders; ++index) {
      char name[32];
      std::snprintf(name, sizeof(name), "Folder %04d", index);
      big->createSubfolder(name)->setDateRecordChanged(Date(kBaseDate + index * 0.001));
    }
    if (!context->save()) std::abort();
    library.bigFolderIdentifier = big->fileProviderItemIdentifier();
    std::string directory = *big->folderPath();
    for (int index = 0; index < itemCount; ++index) {
      char filename[32];
      std::snprintf(filename, sizeof(filename), "Item %06d.txt", index);
      auto item = context->insertNewObject("Item");
      item->setValueForKey("filename", std::string(filename));
      item->setValueForKey("name", std::string(filename));
      item->setObjectForKey("folder", big);
      auto made = item->as<Item>();
      made->setDateCreated(Date(kBaseDate + index));
      made->setDateModified(Date(kBaseDate + index));
      made->setDateRecordChanged(Date(kBaseDate + 10 + index * 0.001));
      std::ofstream(directory + "/" + filename);
      if ((index + 1) % kSaveBatch == 0 && !context->save()) std::abort();
      if (index % (itemCount / kModifiedItems) == 0) items.push_back(item);
    }
    if (!context->save()) std::abort();
  });

  auto enumerator = extension.enumeratorForContainerItemIdentifier(kWorkingSetContainerItemIdentifier);
  library.anchorBeforeChanges = enumerator->currentSyncAnchor().value();
  enumerator->invalidate();
  context->performAndWait([&] {
    for (size_t index = 0; index < items.size(); ++index)
      items[index]->as<LibraryObject>()->setDateRecordChanged(Date(kBaseDate + 1e6 + index));
    if (!context->save()) std::abort();
  });
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::fprintf(stderr, "Built a library of %d items and %d folders in %.1f s\n", itemCount, kFolders, seconds);
  return library;
}

BenchLibraries<Library>& libraries() {
  static BenchLibraries<Library> shared("qlt-read-path", buildLibrary);
  return shared;
}

struct Pages : FileProviderEnumerationObserver {
  int64_t suggestedPageSize() const override { return kPageSize; }
  void didEnumerateItems(const std::vector<FileProviderItemPtr>& items) override { received += items.size(); }
  void finishEnumeratingUpToPage(const std::optional<Bytes>& page) override { nextPage = page; }
  void finishEnumeratingWithError(const Error&) override { failed = true; }
  size_t received = 0;
  std::optional<Bytes> nextPage;
  bool failed = false;
};

struct Changes : FileProviderChangeObserver {
  void didUpdateItems(const std::vector<FileProviderItemPtr>& items) override { updated += items.size(); }
  void didDeleteItemsWithIdentifiers(const std::vector<std::string>&) override {}
  void finishEnumeratingChangesUpToSyncAnchor(const Bytes&, bool more) override { moreComing = more; }
  void finishEnumeratingWithError(const Error&) override { failed = true; }
  size_t updated = 0;
  bool moreComing = false;
  bool failed = false;
};

long residentKilobytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

// One page of the big folder on a fresh enumerator (which counts the
// folder's children first), starting at the given offsets.
void listPage(benchmark::State& state, std::optional<Bytes> page) {
  const Library& library = libraries().open(100000);
  for (auto _ : state) {
    auto enumerator = libraries().extension().enumeratorForContainerItemIdentifier(library.bigFolderIdentifier);
    Pages pages;
    enumerator->enumerateItemsForObserver(pages, page);
    if (pages.failed || pages.received == 0) state.SkipWithError("listing failed");
    enumerator->invalidate();
  }
}

void BM_ListFirstPage(benchmark::State& state) { listPage(state, std::nullopt); }
void BM_ListFirstItemPage(benchmark::State& state) { listPage(state, pageTokenForOffsets(kFolders, 0)); }
void BM_ListLastPage(benchmark::State& state) { listPage(state, pageTokenForOffsets(kFolders, 100000 - kPageSize)); }

void BM_ListingMemory(benchmark::State& state) {
  const Library& library = libraries().open(100000);
  for (auto _ : state) {
    // Hands what building the library freed back to the system first, so
    // that the growth is the listing's own.
    ::malloc_trim(0);
    long before = residentKilobytes();
    auto enumerator = libraries().extension().enumeratorForContainerItemIdentifier(library.bigFolderIdentifier);
    std::optional<Bytes> page;
    size_t received = 0;
    for (int index = 0; index < 200; ++index) {
      Pages pages;
      enumerator->enumerateItemsForObserver(pages, page);
      received += pages.received;
      page = pages.nextPage;
      if (!page) break;
    }
    state.counters["rss_growth_kb"] = static_cast<double>(residentKilobytes() - before);
    state.counters["rss_before_kb"] = static_cast<double>(before);
    state.counters["entries"] = static_cast<double>(received);
    enumerator->invalidate();
  }
}

// Every batch of the changes since the anchor taken before 1,000 items
// were touched, on a fresh working-set enumerator.
void BM_ChangesAfterModifications(benchmark::State& state) {
  const Library& library = libraries().open(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    auto enumerator = libraries().extension().enumeratorForContainerItemIdentifier(kWorkingSetContainerItemIdentifier);
    Changes changes;
    do {
      enumerator->enumerateChangesForObserver(changes, library.anchorBeforeChanges);
    } while (changes.moreComing && !changes.failed);
    if (changes.failed || changes.updated != kModifiedItems) state.SkipWithError("wrong change count");
    enumerator->invalidate();
  }
}

void BM_CurrentSyncAnchor(benchmark::State& state) {
  libraries().open(static_cast<int>(state.range(0)));
  auto enumerator = libraries().extension().enumeratorForContainerItemIdentifier(kWorkingSetContainerItemIdentifier);
  for (auto _ : state) benchmark::DoNotOptimize(enumerator->currentSyncAnchor());
  enumerator->invalidate();
}

// Grouped by library so that each is opened as few times as possible.
BENCHMARK(BM_CurrentSyncAnchor)->Arg(1000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ChangesAfterModifications)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChangesAfterModifications)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CurrentSyncAnchor)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ListFirstPage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListFirstItemPage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListLastPage)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListingMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qlt

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
