// create: the service's request to make a folder or an item from a template.
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
    std::optional<Bytes> data = tagDataFromNames(*options.tags, &error);
    if (!data) return fail(error);
    itemTemplate->tags = *data;
    fields |= kFileProviderItemTagData;
  }
  for (const std::string& pair : options.xattrs) {
    if (!addExtendedAttribute(pair, itemTemplate->attributes, &error)) return fail(error);
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
