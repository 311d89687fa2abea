// create: the service's request to make a folder or an item from a template.
#include <sys/stat.h>

#include "model/tag_data.h"
#include "platform/files/content_type.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/foundation/uniform_type.h"
#include "tools/fp_commands.h"
#include "tools/fp_output.h"

namespace qlt::tool {
namespace {

int fail(const Error& error) {
  printError(error);
  return 1;
}

std::optional<Date> parseDate(const std::string& text, const char* option, Error* error) {
  if (std::optional<Date> date = Date::fromISO8601(text)) return date;
  setError(error, badArgument(std::string(option) + " wants a date such as 2024-05-01T12:00:00Z, not “" + text + "”."));
  return std::nullopt;
}

std::vector<std::string> splitNames(const std::string& text) {
  std::vector<std::string> names;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    if (comma > start) names.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  return names;
}

// The contents as the service stages them: a copy of a file or directory in
// a place of its own. Anything else (a link, a pipe, a missing file) is
// handed over as it is, for the extension to refuse.
struct StagedContents {
  std::optional<std::string> path;
  std::optional<std::string> directory;
  ~StagedContents() {
    if (directory) (void)removeItem(*directory);
  }
};

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

}  // namespace

int createCommand(const CommonOptions& common, const CreateOptions& options) {
  Error error;
  auto itemTemplate = std::make_shared<FileProviderItemTemplate>();
  itemTemplate->parent = containerIdentifier(options.parent);
  itemTemplate->name = options.name;
  uint64_t fields = kFileProviderItemFilename | kFileProviderItemParentItemIdentifier;
  StagedContents contents;
  if (options.folder) {
    itemTemplate->type = UniformType::folder().identifier();
  } else {
    if (!options.from) return fail(badArgument("create needs --from FILE or --folder."));
    fields |= kFileProviderItemContents;
    std::string type = contentTypeOfItem(*options.from);
    itemTemplate->type = type.empty() ? UniformType::data().identifier() : type;
    if (!stage(*options.from, contents, &error)) return fail(error);
  }
  if (options.tags) {
    std::vector<TagDataEntry> entries;
    for (const std::string& name : splitNames(*options.tags)) entries.push_back({name, 0});
    std::optional<Bytes> data = fileProviderTagData(entries, &error);
    if (!data) return fail(error);
    itemTemplate->tags = *data;
    fields |= kFileProviderItemTagData;
  }
  for (const std::string& pair : options.xattrs) {
    size_t equals = pair.find('=');
    if (equals == std::string::npos || equals == 0) return fail(badArgument("--xattr wants KEY=VALUE, not “" + pair + "”."));
    std::string value = pair.substr(equals + 1);
    itemTemplate->attributes[pair.substr(0, equals)] = Bytes(value.begin(), value.end());
    fields |= kFileProviderItemExtendedAttributes;
  }
  if (options.created) {
    itemTemplate->created = parseDate(*options.created, "--created", &error);
    if (!itemTemplate->created) return fail(error);
    fields |= kFileProviderItemCreationDate;
  }
  if (options.modified) {
    itemTemplate->modified = parseDate(*options.modified, "--modified", &error);
    if (!itemTemplate->modified) return fail(error);
    fields |= kFileProviderItemContentModificationDate;
  }

  auto session = ExtensionSession::start(common, &error);
  if (!session) return fail(error);
  struct Answer {
    FileProviderItemPtr item;
    std::optional<Error> error;
  };
  auto awaited = std::make_shared<Awaited<Answer>>();
  session->extension().createItemBasedOnTemplate(
      itemTemplate, fields, contents.path, options.mayExist ? uint64_t{kFileProviderCreateItemMayAlreadyExist} : 0,
      [awaited](FileProviderItemPtr item, uint64_t, bool, const Error* error) {
        awaited->set(Answer{std::move(item), error ? std::optional<Error>(*error) : std::nullopt});
      });
  std::optional<Answer> answer = awaited->wait();
  if (!answer) return fail(timedOut("The create request"));
  if (answer->error) return fail(*answer->error);
  if (!answer->item) {
    printLine({{"created", nullptr}});
    return 0;
  }
  printLine({{"created", descriptorJSON(*answer->item)}});
  return 0;
}

}  // namespace qlt::tool
