#include "util/file_snapshot.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "platform/files/extended_attributes.h"

namespace qlt {

namespace {

constexpr std::string_view kUserNamespace = "user.";

bool statOf(const std::string& path, int flags, struct statx* status) {
  return ::statx(AT_FDCWD, path.c_str(), flags, STATX_TYPE | STATX_MTIME, status) == 0;
}

}  // namespace

std::optional<Bytes> FileSnapshot::extendedAttribute(std::string_view name) const {
  if (name.starts_with(kUserNamespace)) name.remove_prefix(kUserNamespace.size());
  auto found = extendedAttributes.find(std::string(name));
  if (found == extendedAttributes.end()) return std::nullopt;
  return found->second;
}

FileSnapshot snapshotOfFile(const std::string& path) {
  FileSnapshot snapshot;
  struct statx status {};
  if (path.empty() || !statOf(path, AT_SYMLINK_NOFOLLOW, &status)) return snapshot;
  std::string target = path;
  if (S_ISLNK(status.stx_mode)) {
    // The attribute calls below do not follow links, so they are given the
    // resolved file.
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return snapshot;
    target = resolved;
    ::free(resolved);
    if (!statOf(target, 0, &status)) return snapshot;
  }
  snapshot.exists = true;
  snapshot.modificationTime = {static_cast<time_t>(status.stx_mtime.tv_sec), static_cast<long>(status.stx_mtime.tv_nsec)};
  auto names = extendedAttributeNames(target);
  if (!names) return snapshot;
  for (const std::string& name : *names) {
    if (name.empty()) continue;
    if (auto value = qlt::extendedAttribute(target, name))
      snapshot.extendedAttributes.emplace(name, Bytes(value->begin(), value->end()));
  }
  return snapshot;
}

}  // namespace qlt
