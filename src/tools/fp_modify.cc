// modify: the service's request to change an item or folder.
#include "platform/files/content_type.h"
#include "platform/foundation/uniform_type.h"
#include "tools/fp_commands.h"
#include "tools/fp_output.h"
#include "tools/fp_request_values.h"

namespace qlt::tool {
namespace {

int fail(const Error& error) {
  printError(error);
  return 1;
}

struct Answer {
  FileProviderItemPtr item;
  uint64_t pendingFields = 0;
  std::optional<Error> error;
};

}  // namespace

int modifyCommand(const CommonOptions& common, const ModifyOptions& options) {
  Error error;
  StagedContents contents;
  if (options.contents && !stage(*options.contents, contents, &error)) return fail(error);
  std::optional<Bytes> tags;
  if (options.tags && !(tags = tagDataFromNames(*options.tags, &error))) return fail(error);
  std::optional<Date> modified;
  if (options.modified && !(modified = parseDate(*options.modified, "--modified", &error))) return fail(error);
  std::map<std::string, Bytes> attributes;
  for (const std::string& pair : options.xattrs)
    if (!addExtendedAttribute(pair, attributes, &error)) return fail(error);

  auto session = ExtensionSession::start(common, &error);
  if (!session) return fail(error);
  auto current = std::make_shared<Awaited<Answer>>();
  session->extension().itemForIdentifier(options.identifier, [current](FileProviderItemPtr item, const Error* error) {
    current->set(Answer{std::move(item), 0, error ? std::optional<Error>(*error) : std::nullopt});
  });
  std::optional<Answer> before = current->wait();
  if (!before) return fail(timedOut("The item request"));
  // An item the service does not know goes to the extension all the same:
  // its answer is the one to show.
  const bool unknown = !before->item && (!before->error || before->error->is(kFileProviderErrorDomain,
                                                                             kFileProviderErrorNoSuchItem));
  if (before->error && !unknown) return fail(*before->error);
  std::shared_ptr<FileProviderItemTemplate> values = std::make_shared<FileProviderItemTemplate>();
  values->identifier = options.identifier;
  if (before->item) values = FileProviderItemTemplate::copyOf(*before->item);
  uint64_t fields = 0;
  if (options.name) {
    values->name = *options.name;
    fields |= kFileProviderItemFilename;
  }
  if (options.parent) {
    values->parent = containerIdentifier(*options.parent);
    fields |= kFileProviderItemParentItemIdentifier;
  }
  if (options.contents) {
    std::string type = contentTypeOfItem(*options.contents);
    if (!type.empty()) values->type = type;
    fields |= kFileProviderItemContents;
  }
  if (tags) {
    values->tags = *tags;
    fields |= kFileProviderItemTagData;
  }
  if (!attributes.empty()) {
    for (auto& [key, value] : attributes) values->attributes[key] = std::move(value);
    fields |= kFileProviderItemExtendedAttributes;
  }
  if (modified) {
    values->modified = *modified;
    fields |= kFileProviderItemContentModificationDate;
  }

  auto awaited = std::make_shared<Awaited<Answer>>();
  session->extension().modifyItem(
      values, before->item ? std::optional(before->item->itemVersion()) : std::nullopt, fields, contents.path,
      options.mayExist ? uint64_t{kFileProviderModifyItemMayAlreadyExist} : 0,
      [awaited](FileProviderItemPtr item, uint64_t pending, bool, const Error* error) {
        awaited->set(Answer{std::move(item), pending, error ? std::optional<Error>(*error) : std::nullopt});
      });
  std::optional<Answer> answer = awaited->wait();
  if (!answer) return fail(timedOut("The modify request"));
  if (answer->error) {
    nlohmann::json output = errorJSON(*answer->error);
    output["pendingFields"] = answer->pendingFields;
    printErrorLine(output);
    return 1;
  }
  printLine({{"modified", answer->item ? descriptorJSON(*answer->item) : nlohmann::json(nullptr)},
             {"pendingFields", answer->pendingFields}});
  return 0;
}

}  // namespace qlt::tool
