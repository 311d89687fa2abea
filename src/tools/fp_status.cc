// status: what the extension sees of the domain's library.
#include "platform/cloud/cloud_container.h"
#include "platform/files/group_container.h"
#include "platform/sqlite/database.h"
#include "platform/sqlite/statement.h"
#include "platform/foundation/uniform_type.h"
#include "platform/defaults/user_defaults.h"
#include "store/library_changes_container.h"
#include "store/library_manager.h"
#include "store/library_model_constants.h"
#include "platform/objectstore/managed_object_context.h"
#include "tools/fp_commands.h"
#include "tools/fp_output.h"

namespace qlt::tool {

namespace {

// SQLite's integrity_check of the library database, through a connection
// of its own that knows the database's functions: "ok", or what is wrong.
std::string integrityOf(const std::string& path) {
  Error error;
  std::unique_ptr<Database> database = Database::open(path, {}, &error);
  std::unique_ptr<Statement> check = database ? database->prepare("PRAGMA integrity_check", &error) : nullptr;
  if (!check) return error.description();
  std::string answer;
  while (check->step(&error)) {
    if (!answer.empty()) answer += "\n";
    answer += check->columnText(0);
  }
  return answer.empty() ? error.description() : answer;
}

int64_t countOf(ManagedObjectContext& context, const char* entityName) {
  FetchRequest request(entityName);
  request.includesSubentities = true;
  return context.count(request).value_or(-1);
}

}  // namespace

int statusCommand(const CommonOptions& common) {
  Error error;
  auto session = ExtensionSession::start(common, &error);
  if (!session) {
    printError(error);
    return 1;
  }
  std::string container = groupContainer().value_or(std::string());

  auto manager = LibraryManager::sharedManager();
  auto libraryContainer = manager->container();
  nlohmann::json counts;
  libraryContainer->viewContext().performAndWait([&] {
    ManagedObjectContext& view = libraryContainer->viewContext();
    counts = {{"folders", countOf(view, "Folder")},
              {"items", countOf(view, "Item")},
              {"tags", countOf(view, "Tag")},
              {"labels", countOf(view, "Label")}};
  });
  auto changes = session->extension().libraryChangesContainer();
  UserDefaults defaults(kSharedDefaultsSuite);
  std::optional<std::string> cloudStore = cloudStoreDirectory(kCloudContainerName);
  nlohmann::json json{
      {"domain", common.domain},
      {"libraryPackage", manager->libraryFilePath()},
      {"database", manager->libraryPersistentStorePath()},
      {"integrity", integrityOf(manager->libraryPersistentStorePath())},
      {"changesDatabaseLoaded", changes && changes->isLoaded()},
      {"cloudStore", cloudStore ? nlohmann::json(*cloudStore) : nlohmann::json()},
      {"platform",
       {{"groupContainer", container},
        {"hostApplicationRunning", isApplicationRunning(container, std::string(kProductIdentifierPrefix))},
        {"now", Date::now().iso8601()},
        {"sharedDefaultsKeys", defaults.dictionaryRepresentation().size()}}},
  };
  json.update(counts);
  printLine(json);
  return 0;
}

}  // namespace qlt::tool
