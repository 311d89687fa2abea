#include "platform/ipc/service_socket.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace qlt {

namespace {

std::optional<sockaddr_un> socketAddress(const std::string& path, Error* error) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof(address.sun_path) || path.find('\0') != std::string::npos) {
    setError(error, Error(kServiceSocketErrorDomain, kServiceSocketPathTooLongErrorCode,
                          "The socket path \"" + path + "\" is empty or longer than " +
                              std::to_string(sizeof(address.sun_path) - 1) + " bytes."));
    return std::nullopt;
  }
  std::memcpy(address.sun_path, path.data(), path.size());
  return address;
}

SocketDescriptor newStreamSocket() { return SocketDescriptor(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)); }

int connectRetrying(int fd, const sockaddr_un& address) {
  int result;
  do {
    result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  } while (result < 0 && errno == EINTR);
  return result;
}

// Reads exactly `size` bytes; the number read before the end of stream
// otherwise, or -1 with errno.
ssize_t readAll(int fd, char* buffer, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t got = ::recv(fd, buffer + done, size - done, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  return static_cast<ssize_t>(done);
}

bool sendAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

}  // namespace

SocketDescriptor& SocketDescriptor::operator=(SocketDescriptor&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

int SocketDescriptor::release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

void SocketDescriptor::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

ServiceSocketListener::ServiceSocketListener(SocketDescriptor socket, std::string path)
    : socket_(std::move(socket)), path_(std::move(path)) {}

ServiceSocketListener::ServiceSocketListener(ServiceSocketListener&& other) noexcept
    : socket_(std::move(other.socket_)), path_(std::move(other.path_)) {
  other.path_.clear();
}

ServiceSocketListener::~ServiceSocketListener() {
  if (socket_ && !path_.empty()) ::unlink(path_.c_str());
}

std::optional<ServiceSocketListener> ServiceSocketListener::listen(const std::string& path, Error* error) {
  auto address = socketAddress(path, error);
  if (!address) return std::nullopt;

  struct stat existing {};
  if (::lstat(path.c_str(), &existing) == 0) {
    if (!S_ISSOCK(existing.st_mode)) {
      setError(error, posixError(EEXIST, path));
      return std::nullopt;
    }
    SocketDescriptor probe = newStreamSocket();
    if (probe && connectRetrying(probe.get(), *address) == 0) {
      setError(error, Error(kServiceSocketErrorDomain, kServiceSocketInUseErrorCode,
                            "Another process is already serving at \"" + path + "\"."));
      return std::nullopt;
    }
    ::unlink(path.c_str());
  }

  SocketDescriptor socket = newStreamSocket();
  if (!socket) {
    setError(error, posixError(errno, path));
    return std::nullopt;
  }
  if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof(*address)) < 0) {
    setError(error, posixError(errno, path));
    return std::nullopt;
  }
  // Nobody can connect before listen(), so the mode is in place in time.
  ServiceSocketListener listener(std::move(socket), path);
  if (::chmod(path.c_str(), 0600) < 0 || ::listen(listener.fd(), 16) < 0) {
    setError(error, posixError(errno, path));
    return std::nullopt;
  }
  return listener;
}

std::optional<SocketDescriptor> ServiceSocketListener::accept(uid_t allowedUser, Error* error) {
  for (;;) {
    SocketDescriptor connection(::accept4(socket_.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!connection) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      setError(error, posixError(errno, path_));
      return std::nullopt;
    }
    if (!checkPeerUser(connection.get(), allowedUser, error)) return std::nullopt;
    return connection;
  }
}

std::optional<SocketDescriptor> connectToServiceSocket(const std::string& path, Error* error) {
  auto address = socketAddress(path, error);
  if (!address) return std::nullopt;
  SocketDescriptor socket = newStreamSocket();
  if (!socket || connectRetrying(socket.get(), *address) < 0) {
    setError(error, posixError(errno, path));
    return std::nullopt;
  }
  return socket;
}

std::optional<uid_t> peerUser(int fd, Error* error) {
  ucred credentials{};
  socklen_t length = sizeof(credentials);
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) < 0) {
    setError(error, posixError(errno));
    return std::nullopt;
  }
  return credentials.uid;
}

bool checkPeerUser(int fd, uid_t allowedUser, Error* error) {
  auto user = peerUser(fd, error);
  if (!user) return false;
  if (*user != allowedUser) {
    setError(error, Error(kServiceSocketErrorDomain, kServiceSocketPeerNotAllowedErrorCode,
                          "A process of user " + std::to_string(*user) + " may not connect."));
    return false;
  }
  return true;
}

bool writeFrame(int fd, std::string_view payload, Error* error) {
  if (payload.size() > UINT32_MAX) {
    setError(error, Error(kServiceSocketErrorDomain, kServiceSocketFrameTooLargeErrorCode,
                          "A frame of " + std::to_string(payload.size()) + " bytes is too large."));
    return false;
  }
  auto size = static_cast<uint32_t>(payload.size());
  const char header[4] = {static_cast<char>(size >> 24), static_cast<char>(size >> 16), static_cast<char>(size >> 8),
                          static_cast<char>(size)};
  if (!sendAll(fd, header, sizeof(header)) || !sendAll(fd, payload.data(), payload.size())) {
    setError(error, posixError(errno));
    return false;
  }
  return true;
}

std::optional<std::string> readFrame(int fd, size_t maxSize, Error* error) {
  unsigned char header[4];
  ssize_t got = readAll(fd, reinterpret_cast<char*>(header), sizeof(header));
  if (got < 0) {
    setError(error, posixError(errno));
    return std::nullopt;
  }
  if (got == 0) {
    setError(error, Error(kServiceSocketErrorDomain, kServiceSocketClosedErrorCode, "The connection was closed."));
    return std::nullopt;
  }
  if (got < static_cast<ssize_t>(sizeof(header))) {
    setError(error, Error(kServiceSocketErrorDomain, kServiceSocketTruncatedFrameErrorCode,
                          "The connection was closed inside a frame header."));
    return std::nullopt;
  }
  size_t size = (size_t{header[0]} << 24) | (size_t{header[1]} << 16) | (size_t{header[2]} << 8) | header[3];
  if (size > maxSize) {
    setError(error, Error(kServiceSocketErrorDomain, kServiceSocketFrameTooLargeErrorCode,
                          "A frame of " + std::to_string(size) + " bytes exceeds the limit of " +
                              std::to_string(maxSize) + " bytes."));
    return std::nullopt;
  }
  std::string payload(size, '\0');
  got = readAll(fd, payload.data(), size);
  if (got < 0) {
    setError(error, posixError(errno));
    return std::nullopt;
  }
  if (static_cast<size_t>(got) < size) {
    setError(error, Error(kServiceSocketErrorDomain, kServiceSocketTruncatedFrameErrorCode,
                          "The connection was closed after " + std::to_string(got) + " of " + std::to_string(size) +
                              " bytes of a frame."));
    return std::nullopt;
  }
  return payload;
}

}  // namespace qlt
