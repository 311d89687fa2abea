#include "extension/log_file.h"

#include <algorithm>
#include <vector>

#include "platform/files/file_attributes.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/foundation/log.h"

namespace qlt {
namespace {

struct LogEntry {
  std::string path;
  Date creationDate;
};

void collectLogEntries(const std::string& folder, std::vector<LogEntry>& entries) {
  auto names = contentsOfDirectory(folder);
  if (!names) return;
  for (const std::string& name : *names) {
    if (name.starts_with('.')) continue;
    std::string path = appendingPathComponent(folder, name);
    auto attributes = attributesOfItem(path);
    if (!attributes) continue;
    if (name.starts_with(kLogFileNamePrefix)) entries.push_back({path, attributes->creationDate()});
    if (attributes->type == FileAttributes::Type::Directory) collectLogEntries(path, entries);
  }
}

}  // namespace

std::string logFolderPath(const std::string& groupContainerPath) {
  return appendingPathComponent(appendingPathComponent(appendingPathComponent(groupContainerPath, "Library"),
                                                       "File Provider"),
                                "Logs");
}

std::optional<std::string> prepareNewLogFile(const std::string& groupContainerPath, Date now) {
  std::string folder = logFolderPath(groupContainerPath);
  if (!isDirectory(folder) && !createDirectory(folder, true)) return std::nullopt;

  std::vector<LogEntry> entries;
  collectLogEntries(folder, entries);
  if (entries.size() > kOldLogFilesKept) {
    std::stable_sort(entries.begin(), entries.end(),
                     [](const LogEntry& a, const LogEntry& b) { return a.creationDate < b.creationDate; });
    size_t excess = entries.size() - kOldLogFilesKept;
    for (size_t i = 0; i < excess; ++i) (void)removeItem(entries[i].path);  // retried at the next start
  }

  std::string name = std::string(kLogFileNamePrefix) + "_" + now.formattedLocal("yyyy-MM-dd-HHmmss") + ".log";
  return appendingPathComponent(folder, name);
}

std::FILE* redirectStandardErrorToNewLogFile(const std::string& groupContainerPath) {
  auto path = prepareNewLogFile(groupContainerPath);
  if (!path) return nullptr;
  return redirectStandardErrorToFile(*path, "w");
}

}  // namespace qlt
