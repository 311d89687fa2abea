#include "platform/foundation/log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <mutex>

namespace qlt {

namespace {
std::mutex& logMutex() {
  static auto& mutex = *new std::mutex;
  return mutex;
}
}  // namespace

void logLine(std::string_view line) {
  std::lock_guard lock(logMutex());
  std::string text(line);
  text += '\n';
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

namespace {
// What standard error was before the first redirection, given back when the
// log file closes; -1 while standard error is not redirected.
int originalStandardError = -1;
}  // namespace

// Descriptor 2 is swapped under the stream rather than the stream reopened or
// closed: a closed descriptor 2 would be handed to the next file opened, and
// everything written to standard error afterwards (sanitizer reports, SQLite's
// own messages) would land in that file.
std::FILE* redirectStandardErrorToFile(const std::string& path, const char* mode) {
  std::lock_guard lock(logMutex());
  // A process started with descriptor 2 closed would get the log file there,
  // and closing the log would free it again: give it the null device first.
  if (::fcntl(STDERR_FILENO, F_GETFD) < 0) {
    int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0 && null != STDERR_FILENO) {
      (void)::dup2(null, STDERR_FILENO);
      ::close(null);
    }
  }
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (std::strchr(mode, 'a') ? O_APPEND : O_TRUNC);
  int fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0) return nullptr;
  std::fflush(stderr);
  if (originalStandardError < 0) originalStandardError = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  // Without a copy of standard error it could not be given back: keep it.
  if (originalStandardError < 0 || fd == STDERR_FILENO) {
    if (fd != STDERR_FILENO) ::close(fd);
    return nullptr;
  }
  bool redirected = ::dup2(fd, STDERR_FILENO) >= 0;
  ::close(fd);
  return redirected ? stderr : nullptr;
}

void closeLogFile(std::FILE* stream) {
  if (!stream) return;
  std::lock_guard lock(logMutex());
  std::fflush(stream);
  if (originalStandardError < 0) return;
  (void)::dup2(originalStandardError, STDERR_FILENO);
  ::close(originalStandardError);
  originalStandardError = -1;
}

}  // namespace qlt
