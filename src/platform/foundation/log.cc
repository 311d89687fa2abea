#include "platform/foundation/log.h"

#include <mutex>

namespace qlt {

namespace {
std::mutex& logMutex() {
  static std::mutex mutex;
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

std::FILE* redirectStandardErrorToFile(const std::string& path, const char* mode) {
  std::lock_guard lock(logMutex());
  std::fflush(stderr);
  return std::freopen(path.c_str(), mode, stderr);
}

void closeLogFile(std::FILE* stream) {
  if (!stream) return;
  std::lock_guard lock(logMutex());
  std::fclose(stream);
}

}  // namespace qlt
