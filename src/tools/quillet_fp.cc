// quillet-fp: the project's command-line program. `status` starts the
// extension for a domain, waits for its library and reports what it holds.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>

#include "extension/file_provider_extension.h"
#include "platform/date.h"
#include "platform/group_container.h"
#include "platform/uniform_type.h"
#include "platform/user_defaults.h"
#include "store/library/library_changes_container.h"
#include "store/library/library_manager.h"
#include "store/managed_object_context.h"

namespace {

constexpr std::chrono::seconds kLoadTimeout{60};

// Standard error as it was before the extension redirected it to its log.
std::FILE* errorStream = stderr;

void keepOriginalStandardError() {
  int fd = ::dup(STDERR_FILENO);
  if (fd < 0) return;
  if (std::FILE* stream = ::fdopen(fd, "w"))
    errorStream = stream;
  else
    ::close(fd);
}

void printError(const qlt::Error& error) {
  nlohmann::json json{
      {"domain", error.domain()}, {"code", error.code()}, {"description", error.localizedDescription()}};
  std::string text = json.dump() + "\n";
  std::fputs(text.c_str(), errorStream);
  std::fflush(errorStream);
}

int64_t countOf(qlt::ManagedObjectContext& context, const char* entityName) {
  qlt::FetchRequest request(entityName);
  request.includesSubentities = true;
  return context.count(request).value_or(-1);
}

int status(const std::string& domain, const std::string& groupContainer) {
  if (!groupContainer.empty()) setenv("QLT_GROUP_CONTAINER", groupContainer.c_str(), 1);
  keepOriginalStandardError();
  qlt::Error error;
  auto container = qlt::groupContainerPath(qlt::kSharedDefaultsSuite, &error);
  if (!container) {
    printError(error);
    return 1;
  }

  qlt::FileProviderExtension extension(qlt::FileProviderDomain{domain, domain});
  if (!extension.waitUntilLoaded(kLoadTimeout, &error)) {
    printError(error);
    extension.invalidate();
    return 1;
  }

  auto manager = qlt::LibraryManager::sharedManager();
  auto libraryContainer = manager->container();
  nlohmann::json counts;
  libraryContainer->viewContext().performAndWait([&] {
    qlt::ManagedObjectContext& view = libraryContainer->viewContext();
    counts = {{"folders", countOf(view, "Folder")},
              {"items", countOf(view, "Item")},
              {"tags", countOf(view, "Tag")},
              {"labels", countOf(view, "Label")}};
  });
  auto changes = extension.libraryChangesContainer();
  qlt::UserDefaults defaults(qlt::kSharedDefaultsSuite);
  nlohmann::json json{
      {"domain", domain},
      {"libraryPackage", manager->libraryFilePath()},
      {"database", manager->libraryPersistentStorePath()},
      {"changesDatabaseLoaded", changes && changes->isLoaded()},
      {"platform",
       {{"groupContainer", *container},
        {"hostApplicationRunning", qlt::isApplicationRunning(*container, std::string(qlt::kProductIdentifierPrefix))},
        {"now", qlt::Date::now().iso8601()},
        {"sharedDefaultsKeys", defaults.dictionaryRepresentation().size()}}},
  };
  json.update(counts);
  std::cout << json.dump() << "\n";
  extension.invalidate();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Quillet file provider"};
  app.require_subcommand(1);
  std::string domain = "Default";
  std::string groupContainer;
  auto statusCommand = app.add_subcommand("status", "Report what the extension sees");
  statusCommand->add_option("--domain", domain, "File-provider domain identifier");
  statusCommand->add_option("--group-container", groupContainer, "Application-group container folder");
  CLI11_PARSE(app, argc, argv);
  if (statusCommand->parsed()) return status(domain, groupContainer);
  return 0;
}
