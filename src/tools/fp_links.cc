// link and open: item links of the application's scheme, made and followed.
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <fstream>
#include <sstream>

#include "formats/item_link.h"
#include "model/item.h"
#include "platform/fileprovider/file_provider_domain.h"
#include "platform/fileprovider/file_provider_item.h"
#include "platform/files/file_path.h"
#include "platform/objectstore/managed_object_context.h"
#include "store/library_manager.h"
#include "store/library_model_constants.h"
#include "tools/fp_commands.h"
#include "tools/fp_output.h"

extern char** environ;

namespace qlt::tool {

namespace {

int fail(const Error& error) {
  printError(error);
  return 1;
}

Error noSuchItem(const std::string& identifier) {
  return Error(kItemLinkErrorDomain, kItemLinkNoSuchItemErrorCode, "No item has the identifier " + identifier + ".");
}

struct LinkedItem {
  std::string identifier;
  std::string fileProviderIdentifier;
  std::optional<std::string> path;
  std::string link;
};

// An item by its identifier or its file-provider identifier ("Item|I").
std::optional<LinkedItem> findItem(const std::string& given, const std::optional<std::string>& from, Error* error) {
  std::string identifier = given;
  if (given.find('|') != std::string::npos) {
    if (LibraryObject::entityNameFromFileProviderIdentifier(given) != kItemEntityName) {
      setError(error, badArgument("“" + given + "” does not name an item."));
      return std::nullopt;
    }
    identifier = LibraryObject::libraryObjectIdentifierFromFileProviderIdentifier(given).value_or("");
  }
  std::shared_ptr<ManagedObjectContext> context = LibraryManager::sharedManager()->newBackgroundContext();
  std::optional<LinkedItem> found;
  if (context)
    context->performAndWait([&] {
      auto item = std::dynamic_pointer_cast<Item>(LibraryObject::libraryObject(*context, kItemEntityName, identifier));
      if (!item) return;
      found = LinkedItem{item->identifier(), item->fileProviderItemIdentifier(), item->fileURL(),
                         from ? item->itemLinkFromItemWithIdentifier(*from) : item->itemLinkURL()};
    });
  if (!found) setError(error, noSuchItem(identifier));
  return found;
}

bool isQuilletMount(const std::string& mountPoint) {
  std::ifstream mounts("/proc/self/mountinfo");
  std::string line;
  while (std::getline(mounts, line)) {
    std::istringstream fields(line);
    std::string id, parent, device, root, point, field;
    fields >> id >> parent >> device >> root >> point;
    while (fields >> field && field != "-") {
    }
    std::string type;
    fields >> type;
    if (point == mountPoint && type == "fuse.quillet") return true;
  }
  return false;
}

// The item's place in the mount, from the descriptors' names up to the
// root container (or the trash, which the mount shows at the top).
std::optional<std::string> pathInMount(FileProviderExtension& extension, const std::string& mountPoint,
                                       std::string identifier, Error* error) {
  std::vector<std::string> names;
  while (identifier != kRootContainerItemIdentifier) {
    auto awaited = std::make_shared<Awaited<std::pair<FileProviderItemPtr, std::optional<Error>>>>();
    extension.itemForIdentifier(identifier, [awaited](FileProviderItemPtr item, const Error* failure) {
      awaited->set({item, failure ? std::optional<Error>(*failure) : std::nullopt});
    });
    auto answer = awaited->wait();
    if (!answer || !answer->first) {
      setError(error, answer && answer->second ? *answer->second : timedOut("The item request"));
      return std::nullopt;
    }
    names.insert(names.begin(), answer->first->filename());
    if (identifier == kTrashContainerItemIdentifier) break;  // shown at the top
    identifier = answer->first->parentItemIdentifier();
    if (names.size() > 512 || identifier.empty()) {
      setError(error, badArgument("The item is not placed below the root folder."));
      return std::nullopt;
    }
  }
  std::string path = mountPoint;
  for (const std::string& name : names) path = appendingPathComponent(path, name);
  return path;
}

bool openWithDesktop(const std::string& path, Error* error) {
  const char* argv[] = {"xdg-open", path.c_str(), nullptr};
  pid_t child = 0;
  int failed = posix_spawnp(&child, "xdg-open", nullptr, nullptr, const_cast<char**>(argv), environ);
  if (failed != 0) {
    setError(error, posixError(failed, "xdg-open"));
    return false;
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  setError(error, badArgument("xdg-open could not open " + path + "."));
  return false;
}

}  // namespace

int linkCommand(const CommonOptions& common, const std::string& identifier, const std::optional<std::string>& from) {
  Error error;
  auto session = ExtensionSession::start(common, &error);
  if (!session) return fail(error);
  std::optional<LinkedItem> item = findItem(identifier, from, &error);
  if (!item) return fail(error);
  printLine({{"item", item->identifier}, {"link", item->link}});
  return 0;
}

int openCommand(const CommonOptions& common, const OpenOptions& options) {
  prepareEnvironment(common);
  Error error;
  std::optional<ItemLink> link = parseItemLink(options.link, &error);
  if (!link) return fail(error);
  auto session = ExtensionSession::start(common, &error);
  if (!session) return fail(error);
  std::optional<LinkedItem> item = findItem(link->item, std::nullopt, &error);
  if (!item) return fail(error);

  std::string mountPoint = standardizingPath(options.mountPoint.empty() ? defaultMountPoint() : options.mountPoint);
  bool mounted = isQuilletMount(mountPoint);
  std::optional<std::string> path =
      mounted ? pathInMount(session->extension(), mountPoint, item->fileProviderIdentifier, &error) : item->path;
  if (!path) return fail(error);
  nlohmann::json answer{{"item", item->identifier}, {"path", *path}, {"mounted", mounted}};
  if (link->from) answer["from"] = *link->from;
  if (options.open) {
    if (!openWithDesktop(*path, &error)) return fail(error);
    answer["opened"] = true;
  }
  printLine(answer);
  return 0;
}

}  // namespace qlt::tool
