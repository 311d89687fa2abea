// mount: the file-provider service as a FUSE file system.
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "fuse/library_mount.h"
#include "platform/cloud/cloud_server_url.h"
#include "platform/files/file_path.h"
#include "platform/foundation/log.h"
#include "tools/fp_commands.h"
#include "tools/fp_output.h"

namespace qlt::tool {

namespace {

constexpr std::chrono::seconds kMountSyncInterval{30};

}  // namespace

std::string defaultMountPoint() {
  const char* home = std::getenv("HOME");
  return appendingPathComponent(home && *home == '/' ? home : "/", "Quillet");
}

int mountCommand(const CommonOptions& common, const MountCommandOptions& command) {
  prepareEnvironment(common);
  Error error;
  if (!groupContainer(&error)) {
    printError(error);
    return 1;
  }
  fuse::MountOptions options;
  options.mountPoint = command.mountPoint.empty() ? defaultMountPoint() : command.mountPoint;
  options.foreground = command.foreground;
  options.debug = command.debug;
  options.mounted = [&] {
    printLine({{"mounted", options.mountPoint},
               {"domain", common.domain},
               {"stop", "fusermount3 -u '" + options.mountPoint + "' (or Ctrl-C in the foreground)"}});
  };

  // With a cloud server configured, the library follows it as `sync
  // --watch` would.
  std::optional<CloudServerURL> server;
  Error serverError;
  if (!configuredCloudServerURL(server, &serverError)) printError(serverError);

  std::shared_ptr<FileProviderExtension> extension;
  int stop = ::eventfd(0, EFD_CLOEXEC);
  int stopSync = ::eventfd(0, EFD_CLOEXEC);
  std::thread hostService;
  std::thread cloudSync;
  bool served = fuse::serveMount(
      options,
      [&](Error* failure) -> std::shared_ptr<FileProviderExtension> {
        extension = std::make_shared<FileProviderExtension>(FileProviderDomain{common.domain, common.domain});
        if (!extension->waitUntilLoaded(kLoadTimeout, failure)) return nullptr;
        Error watchError;
        if (!extension->startWatchingLibraryDirectories(&watchError))
          log("Cannot watch the library's directories: %@", watchError);
        // The host application reaches this extension as it would reach
        // `serve`.
        hostService = std::thread([&] {
          Error serviceError;
          if (!serveHostApplication(*extension, stop, &serviceError)) printError(serviceError);
        });
        if (server && stopSync >= 0)
          cloudSync = std::thread([&] { (void)syncRepeatedly(*extension, stopSync, kMountSyncInterval); });
        return extension;
      },
      &error);
  for (int descriptor : {stop, stopSync}) {
    if (descriptor < 0) continue;
    uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(descriptor, &one, sizeof(one));
  }
  if (hostService.joinable()) hostService.join();
  if (cloudSync.joinable()) cloudSync.join();
  if (stop >= 0) ::close(stop);
  if (stopSync >= 0) ::close(stopSync);
  if (extension) extension->invalidate();
  if (!served) {
    printError(error);
    return 1;
  }
  printLine({{"unmounted", options.mountPoint}});
  return 0;
}

}  // namespace qlt::tool
