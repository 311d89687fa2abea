// quillet-fp: the project's command-line program. Until the extension
// exists, `status` reports what the platform layer sees on this machine.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <iostream>
#include <mutex>

#include "platform/date.h"
#include "platform/group_container.h"
#include "platform/keyed_archiver.h"
#include "platform/operation_queue.h"
#include "platform/timer.h"
#include "platform/uniform_type.h"
#include "platform/user_defaults.h"
#include "platform/uuid.h"

namespace {

constexpr const char* kSharedDefaultsSuite = "group.com.quillet";

void printError(const qlt::Error& error) {
  nlohmann::json json{{"domain", error.domain()}, {"code", error.code()}, {"description", error.localizedDescription()}};
  std::cerr << json.dump() << "\n";
}

int status(const std::string& domain, const std::string& groupContainer) {
  if (!groupContainer.empty()) setenv("QLT_GROUP_CONTAINER", groupContainer.c_str(), 1);
  qlt::Error error;
  auto container = qlt::groupContainerPath(kSharedDefaultsSuite, &error);
  if (!container) {
    printError(error);
    return 1;
  }

  // A timer on the main queue and a block on an operation queue, to show
  // both threads answer.
  std::mutex mutex;
  std::condition_variable fired;
  bool timerFired = false;
  qlt::Timer::scheduled(0.01, false, [&](qlt::Timer&) {
    std::lock_guard lock(mutex);
    timerFired = true;
    fired.notify_all();
  });
  {
    std::unique_lock lock(mutex);
    fired.wait_for(lock, std::chrono::seconds(2), [&] { return timerFired; });
  }
  std::atomic<int> operationsRun{0};
  qlt::OperationQueue queue;
  queue.setMaxConcurrentOperationCount(5);
  for (int i = 0; i < 10; ++i) queue.addOperationWithBlock([&] { ++operationsRun; });
  queue.waitUntilAllOperationsAreFinished();

  qlt::UserDefaults defaults(kSharedDefaultsSuite);
  auto version = qlt::archivedNumber(qlt::Date::now().timeIntervalSinceReferenceDate());
  nlohmann::json json{
      {"domain", domain},
      {"groupContainer", *container},
      {"hostApplicationRunning", qlt::isApplicationRunning(*container, "com.quillet")},
      {"now", qlt::Date::now().iso8601()},
      {"newIdentifier", qlt::newUUIDString()},
      {"noteType", qlt::UniformType::withFilenameExtension("qltnote")->identifier()},
      {"sharedDefaultsKeys", defaults.dictionaryRepresentation().size()},
      {"versionBytes", version ? version->size() : 0},
      {"mainQueueTimerFired", timerFired},
      {"operationsRun", operationsRun.load()},
  };
  std::cout << json.dump() << "\n";
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
