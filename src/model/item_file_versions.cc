#include "model/item_file_versions.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "store/library_manager.h"

namespace qlt {
namespace {

constexpr size_t kSequenceDigits = 6;

// The sequence number of a version's name; 0 for names of anything else.
unsigned long sequenceOf(const std::string& name) {
  if (name.size() <= kSequenceDigits || name[kSequenceDigits] != ' ') return 0;
  for (size_t index = 0; index < kSequenceDigits; ++index)
    if (name[index] < '0' || name[index] > '9') return 0;
  return std::strtoul(name.substr(0, kSequenceDigits).c_str(), nullptr, 10);
}

}  // namespace

ItemFileVersions ItemFileVersions::ofSharedLibrary() {
  return ItemFileVersions(
      appendingPathComponent(LibraryManager::sharedManager()->libraryFilePath(), kItemFileVersionsFolderName));
}

std::vector<std::string> ItemFileVersions::versionsOfItem(const std::string& identifier) const {
  std::vector<std::string> versions;
  if (!isValidFilename(identifier)) return versions;
  std::string folder = appendingPathComponent(folderPath_, identifier);
  // Names are sorted, and sequence numbers have a fixed width.
  for (const std::string& name : contentsOfDirectory(folder).value_or(std::vector<std::string>{}))
    if (sequenceOf(name) > 0) versions.push_back(appendingPathComponent(folder, name));
  return versions;
}

bool ItemFileVersions::addVersionOfItem(const std::string& identifier, const std::string& path, Error* error) const {
  if (!isValidFilename(identifier)) {
    setError(error, posixError(EINVAL, appendingPathComponent(folderPath_, identifier)));
    return false;
  }
  std::string folder = appendingPathComponent(folderPath_, identifier);
  if (!createDirectory(folder, true, error)) return false;
  std::vector<std::string> versions = versionsOfItem(identifier);
  unsigned long next = versions.empty() ? 1 : sequenceOf(lastPathComponent(versions.back())) + 1;
  char sequence[16];
  std::snprintf(sequence, sizeof(sequence), "%06lu", next);
  std::string version = appendingPathComponent(folder, std::string(sequence) + " " + lastPathComponent(path));
  if (!copyItem(path, version, error)) return false;
  versions.push_back(version);
  // What cannot be removed now is retried with the next version.
  for (size_t index = 0; index + kMaximumItemFileVersions < versions.size(); ++index)
    (void)removeItem(versions[index]);
  return true;
}

}  // namespace qlt
