// mount: the file-provider service as a FUSE file system.
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdlib>
#include <thread>

#include "fuse/library_mount.h"
#include "platform/files/file_path.h"
#include "platform/foundation/log.h"
#include "tools/fp_commands.h"
#include "tools/fp_output.h"

namespace qlt::tool {

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

  std::shared_ptr<FileProviderExtension> extension;
  int stop = ::eventfd(0, EFD_CLOEXEC);
  std::thread hostService;
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
        return extension;
      },
      &error);
  if (stop >= 0) {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t written = ::write(stop, &one, sizeof(one));
  }
  if (hostService.joinable()) hostService.join();
  if (stop >= 0) ::close(stop);
  if (extension) extension->invalidate();
  if (!served) {
    printError(error);
    return 1;
  }
  printLine({{"unmounted", options.mountPoint}});
  return 0;
}

}  // namespace qlt::tool
