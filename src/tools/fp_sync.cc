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
  LibraryCloudSync sync(LibraryManager::sharedManager(), session->extension().changesManagerContext());
  int status = 0;
  while (true) {
    Error failure;
    if (auto summary = sync.sync(&failure)) {
      auto container = CloudContainer::containerWithIdentifier(kCloudContainerName);
      nlohmann::json line = {{"synced", describe(*summary)}};
      if (container) line["synced"]["server"] = container->storeLocation();
      printLine(line);
      status = 0;
    } else {
      printError(failure);
      status = 1;
    }
    if (options.watchSeconds <= 0) break;
    pollfd watched{signalDescriptor, POLLIN, 0};
    if (::poll(&watched, 1, static_cast<int>(options.watchSeconds * 1000)) != 0) break;
  }
  if (signalDescriptor >= 0) ::close(signalDescriptor);
  return status;
}

}  // namespace qlt::tool
