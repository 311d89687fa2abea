#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/error.h"

namespace qlt {

inline constexpr const char* kServiceSocketErrorDomain = "QLTServiceSocketErrorDomain";
// The peer closed the connection between two frames.
inline constexpr long kServiceSocketClosedErrorCode = 10001;
// The peer closed the connection inside a frame.
inline constexpr long kServiceSocketTruncatedFrameErrorCode = 10002;
inline constexpr long kServiceSocketFrameTooLargeErrorCode = 10003;
inline constexpr long kServiceSocketPeerNotAllowedErrorCode = 10004;
inline constexpr long kServiceSocketPathTooLongErrorCode = 10005;
inline constexpr long kServiceSocketInUseErrorCode = 10006;

inline constexpr size_t kServiceSocketMaxFrameSize = 1 << 20;

// An owned socket descriptor, closed on destruction.
class SocketDescriptor {
 public:
  SocketDescriptor() = default;
  explicit SocketDescriptor(int fd) : fd_(fd) {}
  SocketDescriptor(SocketDescriptor&& other) noexcept : fd_(other.release()) {}
  SocketDescriptor& operator=(SocketDescriptor&& other) noexcept;
  SocketDescriptor(const SocketDescriptor&) = delete;
  SocketDescriptor& operator=(const SocketDescriptor&) = delete;
  ~SocketDescriptor() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release();
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// A Unix-domain stream socket listening at a path that only its owner may
// open (mode 0600). The socket file is removed again on destruction. A
// stale socket file nobody listens on is replaced; a live one is refused.
class ServiceSocketListener {
 public:
  [[nodiscard]] static std::optional<ServiceSocketListener> listen(const std::string& path, Error* error = nullptr);
  ServiceSocketListener(ServiceSocketListener&& other) noexcept;
  ServiceSocketListener& operator=(ServiceSocketListener&&) = delete;
  ~ServiceSocketListener();

  int fd() const { return socket_.get(); }
  const std::string& path() const { return path_; }
  // Waits for the next connection and accepts it only from a peer running
  // as `allowedUser`; a peer of another user is closed at once.
  [[nodiscard]] std::optional<SocketDescriptor> accept(uid_t allowedUser, Error* error = nullptr);

 private:
  ServiceSocketListener(SocketDescriptor socket, std::string path);

  SocketDescriptor socket_;
  std::string path_;
};

[[nodiscard]] std::optional<SocketDescriptor> connectToServiceSocket(const std::string& path, Error* error = nullptr);

// The user the process at the other end of a connected Unix socket runs as.
[[nodiscard]] std::optional<uid_t> peerUser(int fd, Error* error = nullptr);
[[nodiscard]] bool checkPeerUser(int fd, uid_t allowedUser, Error* error = nullptr);

// Frames: a 4-byte big-endian length, then that many bytes.
[[nodiscard]] bool writeFrame(int fd, std::string_view payload, Error* error = nullptr);
// The next frame's bytes. A length above `maxSize` fails before its body is
// read (the stream is then out of step and should be closed).
[[nodiscard]] std::optional<std::string> readFrame(int fd, size_t maxSize = kServiceSocketMaxFrameSize, Error* error = nullptr);

}  // namespace qlt
