#include "tools/fp_session.h"

#include <cstdlib>

#include "extension/file_provider_service_source.h"
#include "platform/files/group_container.h"
#include "platform/defaults/user_defaults.h"
#include "store/library_manager.h"
#include "tools/fp_output.h"

namespace qlt::tool {

void prepareEnvironment(const CommonOptions& options) {
  if (!options.groupContainer.empty()) ::setenv("QLT_GROUP_CONTAINER", options.groupContainer.c_str(), 1);
  keepOriginalStandardError();
}

std::optional<std::string> groupContainer(Error* error) { return groupContainerPath(kSharedDefaultsSuite, error); }

std::optional<std::string> serviceSocketPath(Error* error) {
  auto container = groupContainer(error);
  if (!container) return std::nullopt;
  return *container + "/" + FileProviderServiceSource::serviceName() + ".sock";
}

std::unique_ptr<ExtensionSession> ExtensionSession::start(const CommonOptions& options, Error* error) {
  prepareEnvironment(options);
  if (!groupContainer(error)) return nullptr;
  auto extension = std::make_shared<FileProviderExtension>(FileProviderDomain{options.domain, options.domain});
  std::unique_ptr<ExtensionSession> session(new ExtensionSession(extension));
  if (!extension->waitUntilLoaded(kLoadTimeout, error)) return nullptr;
  return session;
}

ExtensionSession::~ExtensionSession() { extension_->invalidate(); }

Error timedOut(const std::string& what) {
  return Error(kCommandLineErrorDomain, kTimedOutErrorCode, what + " did not answer in time.");
}

}  // namespace qlt::tool
