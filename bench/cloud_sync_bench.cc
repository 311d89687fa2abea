// Sync through each cloud backend: a library of items with small
// files sent to an empty server (its first sync), then pulled into an
// empty second library. Reports records per second for both directions.
// QLT_BENCH_RECORDS sets the item count (2,000; the issue asks about
// 10,000, which takes minutes); QLT_BENCH_CLOUD_URL names a
// PostgreSQL server to use instead of a temporary one.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "bench_home.h"
#include "cloud/library_cloud_sync.h"
#include "extension/file_provider_extension.h"
#include "model/folder.h"
#include "model/item.h"
#include "platform/cloud/embedded_cloud_container.h"
#include "platform/cloud/postgres_cloud_container.h"
#include "platform/objectstore/managed_object_context.h"
#include "store/library_manager.h"
#include "store/library_model_constants.h"
#include "support/postgres_test_server.h"

namespace qlt {
namespace {

int recordCount() {
  const char* count = std::getenv("QLT_BENCH_RECORDS");
  return count && std::atoi(count) > 0 ? std::atoi(count) : 2000;
}

std::shared_ptr<FileProviderExtension> openLibrary(const std::string& container) {
  std::filesystem::create_directories(container);
  ::setenv("QLT_GROUP_CONTAINER", container.c_str(), 1);
  auto extension = std::make_shared<FileProviderExtension>(FileProviderDomain{"Default", "Default"});
  Error error;
  if (!extension->waitUntilLoaded(std::chrono::minutes(5), &error)) {
    std::fprintf(stderr, "Cannot load library: %s\n", error.description().c_str());
    std::abort();
  }
  return extension;
}

// `count` items with 200-byte files, spread over 20 folders, in one save.
void fillLibrary(int count) {
  auto context = LibraryManager::sharedManager()->newBackgroundContext();
  context->performAndWait([&] {
    auto root = std::dynamic_pointer_cast<Folder>(LibraryObject::libraryObject(*context, "RootFolder", "RootFolder"));
    std::vector<Folder::Ptr> folders;
    for (int index = 0; index < 20; ++index) folders.push_back(root->createSubfolder("Folder " + std::to_string(index)));
    std::string contents(200, 'q');
    for (int index = 0; index < count; ++index) {
      auto item = std::dynamic_pointer_cast<Item>(context->insertNewObject("Item"));
      std::string name = "Item " + std::to_string(index) + ".txt";
      item->setValueForKey("filename", name);
      item->setValueForKey("name", name);
      item->setValueForKey("size", static_cast<int64_t>(contents.size()));
      item->setObjectForKey("folder", folders[static_cast<size_t>(index) % folders.size()]);
      item->setDateModified(Date::now());
      std::ofstream(*item->fileURL()) << contents;
    }
    if (!context->save()) std::abort();
  });
}

// Seconds for one sync of the open library; aborts when it fails.
double timedSync(FileProviderExtension& extension, LibraryCloudSyncSummary& summary) {
  LibraryCloudSync sync(LibraryManager::sharedManager(), extension.changesManagerContext());
  auto start = std::chrono::steady_clock::now();
  Error error;
  auto done = sync.sync(&error);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!done) {
    std::fprintf(stderr, "Sync failed: %s\n", error.description().c_str());
    std::abort();
  }
  summary = *done;
  return seconds;
}

void runSyncBenchmark(benchmark::State& state, bool postgres) {
  BenchHome home(postgres ? "qlt-bench-sync-pg" : "qlt-bench-sync-embedded");
  std::shared_ptr<CloudContainer> cloud;
  if (postgres) {
    std::string url;
    if (const char* given = std::getenv("QLT_BENCH_CLOUD_URL"); given && *given) {
      url = given;
    } else {
      std::string why;
      PostgresTestServer* server = PostgresTestServer::shared(&why);
      auto created = server ? server->createDatabase(&why) : std::nullopt;
      if (!created) {
        state.SkipWithError(("PostgreSQL: " + why).c_str());
        for (auto _ : state) {
        }
        return;
      }
      url = *created;
    }
    cloud = PostgresCloudContainer::open(kCloudContainerName, url, "bench", home.root() + "/downloads");
  } else {
    cloud = EmbeddedCloudContainer::open(kCloudContainerName, home.root() + "/cloud");
  }
  if (!cloud) std::abort();
  ScopedCloudContainer installed(kCloudContainerName, cloud);
  int count = recordCount();
  double upload = 0;
  double pull = 0;
  LibraryCloudSyncSummary sent;
  LibraryCloudSyncSummary pulled;
  for (auto _ : state) {
    {
      auto extension = openLibrary(home.root() + "/one");
      fillLibrary(count);
      upload = timedSync(*extension, sent);
      extension->invalidate();
    }
    {
      auto extension = openLibrary(home.root() + "/two");
      pull = timedSync(*extension, pulled);
      extension->invalidate();
    }
    state.SetIterationTime(upload + pull);
  }
  state.counters["uploaded"] = static_cast<double>(sent.uploadedObjects);
  state.counters["upload_records_per_s"] = static_cast<double>(sent.uploadedObjects) / upload;
  state.counters["pulled"] = static_cast<double>(pulled.appliedRecords);
  state.counters["pull_records_per_s"] = static_cast<double>(pulled.fetchedRecords) / pull;
}

void BM_SyncEmbeddedStore(benchmark::State& state) { runSyncBenchmark(state, false); }
void BM_SyncPostgreSQL(benchmark::State& state) { runSyncBenchmark(state, true); }

BENCHMARK(BM_SyncEmbeddedStore)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_SyncPostgreSQL)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
}  // namespace qlt
