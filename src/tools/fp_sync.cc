// sync: what the host application does to keep the library and the cloud
// in step: the zone's changes since the library's token applied, pending
// change sets sent; with --watch, again every N seconds until a signal.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "cloud/library_cloud_sync.h"
#include "platform/cloud/cloud_container.h"
#include "store/library_manager.h"
#include "store/library_model_constants.h"
#include "tools/fp_commands.h"
#include "tools/fp_output.h"

namespace qlt::tool {

namespace {

nlohmann::json describe(const LibraryCloudSyncSummary& summary) {
  return {{"fetched", summary.fetchedRecords},     {"fetchedDeletions", summary.fetchedDeletions},
          {"applied", summary.appliedRecords},     {"deleted", summary.deletedObjects},
          {"uploaded", summary.uploadedObjects},   {"deletedInCloud", summary.deletedRecords}};
}

}  // namespace

// One sync; its line printed. True when it succeeded.
bool syncOnce(LibraryCloudSync& sync) {
  Error failure;
  auto summary = sync.sync(&failure);
  if (!summary) {
    printError(failure);
    return false;
  }
  nlohmann::json line = {{"synced", describe(*summary)}};
  if (auto container = CloudContainer::containerWithIdentifier(kCloudContainerName))
    line["synced"]["server"] = container->storeLocation();
  printLine(line);
  return true;
}

bool syncRepeatedly(FileProviderExtension& extension, int stopDescriptor, std::chrono::seconds interval) {
  LibraryCloudSync sync(LibraryManager::sharedManager(), extension.changesManagerContext());
  bool synced = false;
  while (true) {
    synced = syncOnce(sync);
    pollfd watched{stopDescriptor, POLLIN, 0};
    if (::poll(&watched, 1, static_cast<int>(std::chrono::milliseconds(interval).count())) != 0) return synced;
  }
}

int syncCommand(const CommonOptions& common, const SyncOptions& options) {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  if (options.watchSeconds > 0) pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  int signalDescriptor = options.watchSeconds > 0 ? ::signalfd(-1, &signals, SFD_CLOEXEC) : -1;

  Error error;
  auto session = ExtensionSession::start(common, &error);
  if (!session) {
    printError(error);
    return 1;
  }
  bool synced = false;
  if (options.watchSeconds > 0) {
    synced = syncRepeatedly(session->extension(), signalDescriptor, std::chrono::seconds(options.watchSeconds));
  } else {
    LibraryCloudSync sync(LibraryManager::sharedManager(), session->extension().changesManagerContext());
    synced = syncOnce(sync);
  }
  if (signalDescriptor >= 0) ::close(signalDescriptor);
  return synced ? 0 : 1;
}

}  // namespace qlt::tool
