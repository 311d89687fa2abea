#include "fuse/library_mount.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "fuse/change_follower.h"
#include "fuse/library_file_system.h"
#include "platform/fileprovider/file_provider_domain.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/files/group_container.h"
#include "platform/foundation/log.h"
#include "store/library_manager.h"

namespace qlt::fuse {

namespace {

constexpr std::chrono::milliseconds kFollowInterval{500};

Error mountError(const std::string& text) { return Error(kPOSIXErrorDomain, EIO, text); }

// Connects the domain's service side to the mount: signals wake the
// follower, items are shown at their path in the mount, and a reimport
// lists afresh what is below the item.
void connectDomain(LibraryFileSystem& system, ChangeFollower& follower, bool connect) {
  FileProviderExtension& extension = system.client().extension();
  std::string container = groupContainerPath(kSharedDefaultsSuite).value_or(std::string());
  auto manager = FileProviderDomainManager::managerForDomain(extension.domain(), container);
  if (!connect) {
    manager->setSignalObserver(nullptr);
    manager->setUserVisibleURLResolver(nullptr);
    manager->setReimportHandler(nullptr);
    return;
  }
  manager->setSignalObserver([&follower](const std::string&) { follower.wake(); });
  manager->setUserVisibleURLResolver([&system](const std::string& identifier, Error* error) -> std::optional<std::string> {
    std::optional<fuse_ino_t> ino = system.table().inoOf(identifier);
    std::optional<std::string> relative = ino ? system.table().relativePath(*ino) : std::nullopt;
    if (!relative) {
      setError(error, fileProviderErrorForNonExistentItem(identifier));
      return std::nullopt;
    }
    return relative->empty() ? system.mountPoint() : system.mountPoint() + "/" + *relative;
  });
  manager->setReimportHandler([&system](const std::string& identifier, Error* error) {
    std::optional<fuse_ino_t> ino = system.table().inoOf(identifier);
    if (!ino) {
      // Not shown yet: the item must at least exist.
      if (!system.client().item(identifier, error)) return false;
      return true;
    }
    {
      auto tree = system.changeTree();
      system.table().forgetBelow(*ino);
    }
    system.invalidateNode(*ino, true);
    return true;
  });
}

// Where files being written through the mount collect their contents:
// emptied when a mount starts, as no one can be writing them then.
std::optional<std::string> prepareStagingDirectory(Error* error) {
  std::optional<std::string> container = groupContainerPath(kSharedDefaultsSuite, error);
  if (!container) return std::nullopt;
  std::string staging = appendingPathComponent(*container, kMountStagingDirectoryName);
  if (fileExists(staging) && !removeItem(staging, error)) return std::nullopt;
  if (!createDirectory(staging, true, error)) return std::nullopt;
  return staging;
}

}  // namespace

bool canMount(Error* error) {
  int device = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
  if (device < 0) {
    setError(error, Error(kPOSIXErrorDomain, errno, "/dev/fuse cannot be opened: " + std::string(std::strerror(errno))));
    return false;
  }
  ::close(device);
  if (::geteuid() != 0 && ::access("/usr/bin/fusermount3", X_OK) != 0 && ::access("/bin/fusermount3", X_OK) != 0) {
    setError(error, mountError("fusermount3 is not installed (Debian package fuse3)."));
    return false;
  }
  return true;
}

bool serveMount(const MountOptions& options,
                const std::function<std::shared_ptr<FileProviderExtension>(Error*)>& startExtension, Error* error) {
  if (!canMount(error)) return false;
  bool isDirectory = false;
  if (!fileExists(options.mountPoint, &isDirectory) && !createDirectory(options.mountPoint, true, error)) return false;
  if (fileExists(options.mountPoint, &isDirectory) && !isDirectory) {
    setError(error, Error(kPOSIXErrorDomain, ENOTDIR, options.mountPoint + " is not a directory."));
    return false;
  }
  if (!options.foreground && ::daemon(0, 1) != 0) {
    setError(error, posixError(errno));
    return false;
  }
  std::shared_ptr<FileProviderExtension> extension = startExtension(error);
  if (!extension) return false;

  auto client = std::make_shared<ServiceClient>(extension);
  LibraryFileSystem system(client, options.mountPoint);
  std::optional<std::string> staging = prepareStagingDirectory(error);
  if (!staging) return false;
  system.setStagingDirectory(*staging);
  if (FileProviderItemPtr root = client->item(kRootContainerItemIdentifier))
    system.table().place(kRootContainerItemIdentifier, NodeTable::kRoot, {}, root, true, false);
  std::vector<std::string> arguments{"quillet-fp", "-o", "fsname=quillet,subtype=quillet,default_permissions"};
  if (options.debug) arguments.push_back("-d");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  fuse_args args = FUSE_ARGS_INIT(static_cast<int>(argv.size()), argv.data());
  fuse_session* session =
      fuse_session_new(&args, &LibraryFileSystem::operations(), sizeof(fuse_lowlevel_ops), &system);
  fuse_opt_free_args(&args);
  if (!session) {
    setError(error, mountError("The FUSE session could not be made."));
    return false;
  }
  if (fuse_set_signal_handlers(session) != 0) {
    fuse_session_destroy(session);
    setError(error, mountError("The signal handlers could not be installed."));
    return false;
  }
  if (fuse_session_mount(session, options.mountPoint.c_str()) != 0) {
    fuse_remove_signal_handlers(session);
    fuse_session_destroy(session);
    setError(error, mountError("Cannot mount at " + options.mountPoint + "."));
    return false;
  }
  system.setSession(session);
  log("Mounted domain %@ at %@", extension->domain().identifier, options.mountPoint);
  if (options.mounted) options.mounted();

  ChangeFollower follower(system, kFollowInterval);
  follower.start();
  connectDomain(system, follower, true);

  fuse_loop_config* config = fuse_loop_cfg_create();
  fuse_loop_cfg_set_max_threads(config, 16);
  int status = fuse_session_loop_mt(session, config);
  fuse_loop_cfg_destroy(config);

  connectDomain(system, follower, false);
  follower.stop();
  system.setSession(nullptr);
  fuse_session_unmount(session);
  fuse_remove_signal_handlers(session);
  fuse_session_destroy(session);
  log("Unmounted %@", options.mountPoint);
  if (status != 0 && status != -EINTR) log("The mount ended with status %@", status);
  return true;
}

}  // namespace qlt::fuse
