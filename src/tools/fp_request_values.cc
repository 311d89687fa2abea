#include "tools/fp_request_values.h"

#include <sys/stat.h>

#include "model/tag_data.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "tools/fp_output.h"

namespace qlt::tool {

std::optional<Date> parseDate(const std::string& text, const char* option, Error* error) {
  if (std::optional<Date> date = Date::fromISO8601(text)) return date;
  setError(error, badArgument(std::string(option) + " wants a date such as 2024-05-01T12:00:00Z, not “" + text + "”."));
  return std::nullopt;
}

std::optional<Bytes> tagDataFromNames(const std::string& text, Error* error) {
  std::vector<TagDataEntry> entries;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    if (comma > start) entries.push_back({text.substr(start, comma - start), 0});
    start = comma + 1;
  }
  return fileProviderTagData(entries, error);
}

bool addExtendedAttribute(const std::string& pair, std::map<std::string, Bytes>& attributes, Error* error) {
  size_t equals = pair.find('=');
  if (equals == std::string::npos || equals == 0) {
    setError(error, badArgument("--xattr wants KEY=VALUE, not “" + pair + "”."));
    return false;
  }
  std::string value = pair.substr(equals + 1);
  attributes[pair.substr(0, equals)] = Bytes(value.begin(), value.end());
  return true;
}

StagedContents::~StagedContents() {
  if (directory) (void)removeItem(*directory);
}

bool stage(const std::string& source, StagedContents& staged, Error* error) {
  struct stat status {};
  staged.path = source;
  if (::lstat(source.c_str(), &status) != 0 || !(S_ISREG(status.st_mode) || S_ISDIR(status.st_mode))) return true;
  staged.directory = createTemporaryDirectory(error);
  if (!staged.directory) return false;
  std::string copy = appendingPathComponent(*staged.directory, "contents");
  Error failure;
  // Unreadable contents go over unstaged: reading them is the extension's
  // business, and its error the one to show.
  if (copyItem(source, copy, &failure)) staged.path = copy;
  return true;
}

}  // namespace qlt::tool
