#include "platform/ipc/local_distributed_notification_center.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/foundation/log.h"
#include "platform/foundation/property_list_serialization.h"

namespace qlt {

namespace {

constexpr size_t kMaximumDatagramSize = 256 * 1024;
constexpr const char* kSocketSuffix = ".sock";

Bytes encode(const DistributedNotification& notification, Error* error) {
  PropertyListDictionary payload{{"name", notification.name}, {"userInfo", notification.userInfo}};
  if (!notification.object.empty()) payload["object"] = notification.object;
  return serializePropertyList(PropertyList(std::move(payload)), PropertyListFormat::Binary, error)
      .value_or(Bytes{});
}

std::optional<DistributedNotification> decode(const uint8_t* bytes, size_t size) {
  auto payload = parsePropertyList(bytes, size);
  if (!payload) return std::nullopt;
  auto name = payload->find("name");
  if (!name || !name->isString()) return std::nullopt;
  DistributedNotification notification{*name->string(), {}, {}};
  if (auto object = payload->find("object"); object && object->isString()) notification.object = *object->string();
  if (auto userInfo = payload->find("userInfo"); userInfo && userInfo->isDictionary()) {
    notification.userInfo = *userInfo->dictionary();
  }
  return notification;
}

// The folder must be ours alone: anyone who can write to it could listen in
// or plant sockets.
bool usePrivateDirectory(const std::string& path, bool create, Error* error) {
  if (create && mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    setError(error, posixError(errno, path));
    return false;
  }
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) {
    setError(error, posixError(errno, path));
    return false;
  }
  if (!S_ISDIR(info.st_mode) || info.st_uid != geteuid() || (info.st_mode & 0077) != 0) {
    setError(error, posixError(EACCES, path));
    return false;
  }
  return true;
}

std::optional<sockaddr_un> socketAddress(const std::string& path) {
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) return std::nullopt;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

bool hasSuffix(const std::string& text, const std::string& suffix) {
  return text.size() > suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

std::string LocalDistributedNotificationCenter::defaultDirectory() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && runtime[0] == '/') {
    return std::string(runtime) + "/quillet-notifications";
  }
  return "/tmp/quillet-notifications-" + std::to_string(geteuid());
}

LocalDistributedNotificationCenter::LocalDistributedNotificationCenter(std::string directory)
    : directory_(directory.empty() ? defaultDirectory() : std::move(directory)) {}

LocalDistributedNotificationCenter::~LocalDistributedNotificationCenter() {
  if (receiver_.joinable()) {
    char wake = 0;
    while (write(wakeWrite_, &wake, 1) < 0 && errno == EINTR) {
    }
    receiver_.join();
  }
  for (int fd : {socket_, wakeRead_, wakeWrite_}) {
    if (fd >= 0) close(fd);
  }
  if (!socketPath_.empty()) unlink(socketPath_.c_str());
}

bool LocalDistributedNotificationCenter::post(const DistributedNotification& notification, bool, Error* error) {
  Bytes datagram = encode(notification, error);
  if (datagram.empty()) return false;
  if (datagram.size() > kMaximumDatagramSize) {
    setError(error, posixError(EMSGSIZE));
    return false;
  }
  struct stat info {};
  if (lstat(directory_.c_str(), &info) != 0 && errno == ENOENT) return true;  // nobody ever listened
  if (!usePrivateDirectory(directory_, false, error)) return false;

  DIR* folder = opendir(directory_.c_str());
  int sender = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (!folder || sender < 0) {
    setError(error, posixError(errno, directory_));
    if (folder) closedir(folder);
    if (sender >= 0) close(sender);
    return false;
  }
  // A receiver whose queue stays full must not hold up the poster for long.
  timeval timeout{0, 250000};
  setsockopt(sender, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);

  bool sent = true;
  while (dirent* entry = readdir(folder)) {
    std::string name = entry->d_name;
    if (!hasSuffix(name, kSocketSuffix)) continue;
    std::string path = directory_ + "/" + name;
    auto address = socketAddress(path);
    if (!address) continue;
    ssize_t result;
    do {
      result = sendto(sender, datagram.data(), datagram.size(), MSG_NOSIGNAL,
                      reinterpret_cast<const sockaddr*>(&*address), sizeof *address);
    } while (result < 0 && errno == EINTR);
    if (result >= 0 || errno == ENOENT) continue;
    if (errno == ECONNREFUSED) {
      unlink(path.c_str());  // its process is gone
    } else if (errno == EMSGSIZE) {
      setError(error, posixError(errno));
      sent = false;
      break;
    } else {
      log("Cannot deliver notification %@ to %@: %@", notification.name, path, posixError(errno));
    }
  }
  closedir(folder);
  close(sender);
  return sent;
}

ObserverToken LocalDistributedNotificationCenter::addObserver(const std::string& name, const std::string& object,
                                                              Callback callback, Error* error) {
  {
    std::lock_guard lock(mutex_);
    if (socket_ < 0 && !startReceiving(error)) return 0;
  }
  return observers_.add({name, object}, std::move(callback));
}

void LocalDistributedNotificationCenter::removeObserver(ObserverToken token) { observers_.remove(token); }

bool LocalDistributedNotificationCenter::startReceiving(Error* error) {
  if (!usePrivateDirectory(directory_, true, error)) return false;
  static std::atomic<unsigned> instances{0};
  std::string path =
      directory_ + "/" + std::to_string(getpid()) + "-" + std::to_string(++instances) + kSocketSuffix;
  auto address = socketAddress(path);
  if (!address) {
    setError(error, posixError(ENAMETOOLONG, path));
    return false;
  }
  int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    setError(error, posixError(errno));
    return false;
  }
  // A socket of a dead process that had our process identifier.
  unlink(path.c_str());
  int wake[2];
  if (bind(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0 ||
      pipe2(wake, O_CLOEXEC) != 0) {
    setError(error, posixError(errno, path));
    close(fd);
    unlink(path.c_str());
    return false;
  }
  socket_ = fd;
  socketPath_ = path;
  wakeRead_ = wake[0];
  wakeWrite_ = wake[1];
  receiver_ = std::thread([this] { receive(); });
  return true;
}

void LocalDistributedNotificationCenter::receive() {
  std::vector<uint8_t> buffer(kMaximumDatagramSize);
  for (;;) {
    pollfd fds[2] = {{socket_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      log("Distributed notifications stop: %@", posixError(errno));
      return;
    }
    if (fds[1].revents != 0) return;
    if ((fds[0].revents & POLLIN) == 0) continue;
    ssize_t size = recv(socket_, buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (size < 0) continue;
    auto notification = decode(buffer.data(), static_cast<size_t>(size));
    if (!notification) {
      log("Ignoring a malformed distributed notification of %@ bytes", size);
      continue;
    }
    deliver(observers_, *notification);
  }
}

}  // namespace qlt
