// item, fetch, service-sources and delete: the service's requests about one item.
#include <vector>

#include "extension/file_provider_service_source.h"
#include "platform/files/file_system.h"
#include "tools/fp_commands.h"
#include "tools/fp_output.h"

namespace qlt::tool {

namespace {

int fail(const Error& error) {
  printError(error);
  return 1;
}

struct ItemAnswer {
  FileProviderItemPtr item;
  std::optional<std::string> contents;
  std::optional<Error> error;
};

ItemAnswer answerOf(const FileProviderItemPtr& item, const Error* error) {
  ItemAnswer answer;
  answer.item = item;
  if (error) answer.error = *error;
  return answer;
}

}  // namespace

int itemCommand(const CommonOptions& common, const std::string& identifier) {
  Error error;
  auto session = ExtensionSession::start(common, &error);
  if (!session) return fail(error);
  auto awaited = std::make_shared<Awaited<ItemAnswer>>();
  session->extension().itemForIdentifier(
      identifier, [awaited](FileProviderItemPtr item, const Error* error) { awaited->set(answerOf(item, error)); });
  std::optional<ItemAnswer> answer = awaited->wait();
  if (!answer) return fail(timedOut("The item request"));
  if (answer->error) return fail(*answer->error);
  if (!answer->item) return fail(fileProviderErrorForNonExistentItem(identifier));
  printLine(descriptorJSON(*answer->item));
  return 0;
}

int fetchCommand(const CommonOptions& common, const std::string& identifier, const std::optional<std::string>& to) {
  Error error;
  auto session = ExtensionSession::start(common, &error);
  if (!session) return fail(error);
  auto awaited = std::make_shared<Awaited<ItemAnswer>>();
  session->extension().fetchContentsForItemWithIdentifier(
      identifier,
      [awaited](const std::optional<std::string>& contents, FileProviderItemPtr item, const Error* error) {
        ItemAnswer answer = answerOf(item, error);
        answer.contents = contents;
        awaited->set(answer);
      });
  std::optional<ItemAnswer> answer = awaited->wait();
  if (!answer) return fail(timedOut("The contents request"));
  if (answer->error) return fail(*answer->error);
  if (!answer->item || !answer->contents) return fail(fileProviderErrorForNonExistentItem(identifier));

  nlohmann::json json{{"item", descriptorJSON(*answer->item)}, {"contents", *answer->contents}};
  if (to) {
    if (fileExists(*to) && !removeItem(*to, &error)) return fail(error);
    if (!copyItem(*answer->contents, *to, &error)) return fail(error);
    json["copiedTo"] = *to;
  }
  printLine(json);
  return 0;
}

int serviceSourcesCommand(const CommonOptions& common, const std::string& identifier) {
  struct Answer {
    std::vector<std::string> names;
    std::optional<Error> error;
  };
  Error error;
  auto session = ExtensionSession::start(common, &error);
  if (!session) return fail(error);
  auto awaited = std::make_shared<Awaited<Answer>>();
  session->extension().supportedServiceSourcesForItemIdentifier(
      identifier, [awaited](const std::vector<std::shared_ptr<FileProviderServiceSource>>& sources, const Error* error) {
        Answer answer;
        for (const auto& source : sources) answer.names.push_back(source->serviceName());
        if (error) answer.error = *error;
        awaited->set(answer);
      });
  std::optional<Answer> answer = awaited->wait();
  if (!answer) return fail(timedOut("The service-sources request"));
  if (answer->error) return fail(*answer->error);
  printLine({{"count", answer->names.size()}, {"services", answer->names}});
  return 0;
}

int deleteCommand(const CommonOptions& common, const std::string& identifier, bool recursive) {
  Error error;
  auto session = ExtensionSession::start(common, &error);
  if (!session) return fail(error);
  auto awaited = std::make_shared<Awaited<std::optional<Error>>>();
  session->extension().deleteItemWithIdentifier(
      identifier, std::nullopt, recursive ? uint64_t{kFileProviderDeleteItemRecursive} : uint64_t{0},
      [awaited](const Error* error) { awaited->set(error ? std::optional<Error>(*error) : std::nullopt); });
  std::optional<std::optional<Error>> answer = awaited->wait();
  if (!answer) return fail(timedOut("The delete request"));
  if (*answer) return fail(**answer);
  printLine({{"deleted", identifier}, {"recursive", recursive}});
  return 0;
}

}  // namespace qlt::tool
