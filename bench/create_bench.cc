// Creation requests one at a time into one folder: 10,000 small files made
// through the extension's create request, each from its own staged file,
// as the service would send them. Reports requests per second for the
// first and the last thousand and their ratio (the last thousand must not
// cost much more: name checks and saves must not grow with the folder).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>

#include "bench_libraries.h"
#include "platform/fileprovider/file_provider_domain.h"
#include "platform/fileprovider/file_provider_item.h"

namespace qlt {
namespace {

constexpr int kRequests = 10000;
constexpr int kBlock = 1000;

struct Library {
  std::string staging;
};

Library prepare(FileProviderExtension&, const std::string& container, int) {
  Library library{container + "/staging"};
  std::filesystem::create_directories(library.staging);
  return library;
}

void BM_CreateTenThousandFilesInOneFolder(benchmark::State& state) {
  static BenchLibraries<Library> libraries("qlt-create", prepare);
  for (auto _ : state) {
    const Library& library = libraries.open(0);
    FileProviderExtension& extension = libraries.extension();
    std::vector<double> blockSeconds;
    auto blockStart = std::chrono::steady_clock::now();
    for (int index = 0; index < kRequests; ++index) {
      char name[32];
      std::snprintf(name, sizeof(name), "File %05d.txt", index);
      std::string staged = library.staging + "/" + name;
      std::ofstream(staged) << "small file " << index << '\n';
      auto itemTemplate = std::make_shared<FileProviderItemTemplate>();
      itemTemplate->name = name;
      itemTemplate->parent = kRootContainerItemIdentifier;
      itemTemplate->type = "public.plain-text";
      std::promise<bool> done;
      extension.createItemBasedOnTemplate(
          itemTemplate, kFileProviderItemContents | kFileProviderItemFilename, staged, 0,
          [&done](FileProviderItemPtr item, uint64_t, bool, const Error* error) { done.set_value(item && !error); });
      if (!done.get_future().get()) {
        state.SkipWithError("a create request failed");
        return;
      }
      std::filesystem::remove(staged);
      if ((index + 1) % kBlock == 0) {
        auto now = std::chrono::steady_clock::now();
        blockSeconds.push_back(std::chrono::duration<double>(now - blockStart).count());
        blockStart = now;
      }
    }
    state.counters["first_1000_per_s"] = kBlock / blockSeconds.front();
    state.counters["last_1000_per_s"] = kBlock / blockSeconds.back();
    state.counters["last_vs_first_cost"] = blockSeconds.back() / blockSeconds.front();
    double total = 0;
    for (double seconds : blockSeconds) total += seconds;
    state.counters["requests_per_s"] = kRequests / total;
  }
}
BENCHMARK(BM_CreateTenThousandFilesInOneFolder)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
}  // namespace qlt
