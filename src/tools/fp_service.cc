// serve, materialize and reimport: the host application's service
// connection, carried over a Unix-domain socket in the group container.
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "extension/file_provider_service_source.h"
#include "platform/fileprovider/file_provider_domain.h"
#include "platform/ipc/service_listener.h"
#include "platform/ipc/service_socket.h"
#include "platform/foundation/log.h"
#include "tools/fp_commands.h"
#include "tools/fp_output.h"
#include "tools/service_messages.h"

namespace qlt::tool {

namespace {

inline constexpr const char* kServiceRequestErrorDomain = "QLTServiceRequestErrorDomain";
inline constexpr long kMalformedServiceRequestErrorCode = 10001;
inline constexpr size_t kMaxRequestSize = 64 * 1024;

int fail(const Error& error) {
  printError(error);
  return 1;
}

nlohmann::json replyJSON(const FileProvidingReply& reply) {
  if (reply.error) return {{"Error", errorJSON(*reply.error)}};
  if (reply.url) return {{"URL", *reply.url}};
  return {{"Success", reply.success.value_or(false)}};
}

nlohmann::json errorReply(const Error& error) { return {{"Error", errorJSON(error)}}; }

// One connection as the platform hands it to the host application: the
// service source of the root item, a listener endpoint of it, and the
// object exported on the connection to that endpoint.
struct BoundConnection {
  std::shared_ptr<FileProviderServiceSource> source;
  std::shared_ptr<ServiceConnection> connection;
  std::shared_ptr<FileProviding> provider;
};

std::optional<BoundConnection> bindServiceConnection(FileProviderExtension& extension, Error* error) {
  struct Sources {
    std::vector<std::shared_ptr<FileProviderServiceSource>> sources;
    std::optional<Error> error;
  };
  auto awaited = std::make_shared<Awaited<Sources>>();
  extension.supportedServiceSourcesForItemIdentifier(
      kRootContainerItemIdentifier,
      [awaited](const std::vector<std::shared_ptr<FileProviderServiceSource>>& sources, const Error* failure) {
        Sources answer{sources, std::nullopt};
        if (failure) answer.error = *failure;
        awaited->set(answer);
      });
  std::optional<Sources> answer = awaited->wait();
  if (!answer) {
    setError(error, timedOut("The service-sources request"));
    return std::nullopt;
  }
  if (answer->error || answer->sources.empty()) {
    setError(error, answer->error.value_or(Error(kExtensionFileProviderErrorDomain,
                                                 kFileProviderNoLibraryObjectErrorCode)));
    return std::nullopt;
  }
  BoundConnection bound;
  bound.source = answer->sources.front();
  std::string endpoint = bound.source->makeListenerEndpoint(error);
  bound.connection = ServiceListener::connectToEndpoint(endpoint, error);
  if (!bound.connection) return std::nullopt;
  bound.provider = bound.connection->exportedObject<FileProviding>();
  if (!bound.provider) {
    setError(error, Error(kExtensionFileProviderErrorDomain, kFileProviderNoLibraryObjectErrorCode,
                          "The service connection exports no object."));
    return std::nullopt;
  }
  return bound;
}

// The reply to one request, or nullopt when the request is malformed and
// the connection should close.
std::optional<nlohmann::json> answerRequest(FileProviding& provider, const std::string& frame) {
  std::optional<ServiceRequest> request = parseServiceRequest(frame);
  if (!request) return std::nullopt;
  const std::string& op = request->op;
  const std::string& argument = request->argument;

  auto awaited = std::make_shared<Awaited<FileProvidingReply>>();
  auto reply = [awaited](const FileProvidingReply& answer) { awaited->set(answer); };
  if (op == "materializeURL")
    provider.materializeURL(argument, reply);
  else
    provider.reimportItemsBelowItemWithIdentifier(argument, reply);
  std::optional<FileProvidingReply> answer = awaited->wait();
  if (!answer) return errorReply(timedOut("The " + op + " request"));
  return replyJSON(*answer);
}

void serveConnection(int socket, const BoundConnection& bound) {
  for (;;) {
    Error error;
    std::optional<std::string> frame = readFrame(socket, kMaxRequestSize, &error);
    if (!frame) {
      if (error.domain() == kServiceSocketErrorDomain && error.code() == kServiceSocketFrameTooLargeErrorCode)
        (void)writeFrame(socket, errorReply(error).dump());  // the peer may be gone; the connection ends
      return;
    }
    std::optional<nlohmann::json> reply = answerRequest(*bound.provider, *frame);
    if (!reply) {
      Error malformed(kServiceRequestErrorDomain, kMalformedServiceRequestErrorCode,
                      "A request is a JSON object with \"op\" \"materializeURL\" and a string \"url\", or \"op\" "
                      "\"reimportItemsBelowItemWithIdentifier\" and a string \"identifier\".");
      (void)writeFrame(socket, errorReply(malformed).dump());  // the peer may be gone; the connection ends
      return;
    }
    if (!writeFrame(socket, reply->dump(-1, ' ', false, nlohmann::json::error_handler_t::replace))) return;
  }
}

// The connections being served, so that stopping can end them.
class Connections {
 public:
  void start(SocketDescriptor socket, BoundConnection bound) {
    std::lock_guard lock(mutex_);
    int fd = socket.get();
    open_.insert(fd);
    threads_.emplace_back([this, fd, socket = std::move(socket), bound = std::move(bound)]() mutable {
      serveConnection(fd, bound);
      std::lock_guard lock(mutex_);
      open_.erase(fd);
      socket.reset();
    });
  }
  // A socket is closed only after its fd left open_, under the lock.
  void stop() {
    {
      std::lock_guard lock(mutex_);
      for (int fd : open_) ::shutdown(fd, SHUT_RDWR);
    }
    for (std::thread& thread : threads_) thread.join();
  }

 private:
  std::mutex mutex_;
  std::set<int> open_;
  std::vector<std::thread> threads_;
};

int sendRequest(const CommonOptions& common, const nlohmann::json& request) {
  prepareEnvironment(common);
  Error error;
  std::optional<std::string> path = serviceSocketPath(&error);
  if (!path) return fail(error);
  std::optional<SocketDescriptor> socket = connectToServiceSocket(*path, &error);
  if (!socket) return fail(error);
  if (!writeFrame(socket->get(), request.dump(), &error)) return fail(error);
  std::optional<std::string> frame = readFrame(socket->get(), kServiceSocketMaxFrameSize, &error);
  if (!frame) return fail(error);
  std::optional<ServiceReply> reply = parseServiceReply(*frame, &error);
  if (!reply) return fail(error);
  printLine(reply->json);
  if (reply->failure) return fail(*reply->failure);
  return 0;
}

}  // namespace

bool serveHostApplication(FileProviderExtension& extension, int stopDescriptor, Error* error) {
  std::optional<std::string> path = serviceSocketPath(error);
  if (!path) return false;
  std::optional<ServiceSocketListener> listener = ServiceSocketListener::listen(*path, error);
  if (!listener) return false;
  printLine({{"serving", *path}, {"domain", extension.domain().identifier}});

  Connections connections;
  for (;;) {
    pollfd watched[2] = {{listener->fd(), POLLIN, 0}, {stopDescriptor, POLLIN, 0}};
    if (::poll(watched, 2, -1) < 0) {
      if (errno == EINTR) continue;
      printError(posixError(errno));
      break;
    }
    if (watched[1].revents) break;
    if (!watched[0].revents) continue;
    Error failure;
    std::optional<SocketDescriptor> socket = listener->accept(::geteuid(), &failure);
    if (!socket) {
      printError(failure);
      continue;
    }
    std::optional<BoundConnection> bound = bindServiceConnection(extension, &failure);
    if (!bound) {
      (void)writeFrame(socket->get(), errorReply(failure).dump());  // the peer may be gone
      continue;
    }
    connections.start(std::move(*socket), std::move(*bound));
  }
  connections.stop();
  printLine({{"stopped", *path}});
  return true;
}

int serveCommand(const CommonOptions& common) {
  // Blocked before any thread starts, so that they all inherit the mask and
  // only the signal descriptor sees the signals.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  SocketDescriptor signalDescriptor(::signalfd(-1, &signals, SFD_CLOEXEC));

  Error error;
  auto session = ExtensionSession::start(common, &error);
  if (!session) return fail(error);
  if (!signalDescriptor) return fail(posixError(errno));
  Error watchError;
  if (!session->extension().startWatchingLibraryDirectories(&watchError))
    log("Cannot watch the library's directories: %@", watchError);
  if (!serveHostApplication(session->extension(), signalDescriptor.get(), &error)) return fail(error);
  return 0;
}

int materializeCommand(const CommonOptions& common, const std::string& path) {
  std::error_code ignored;
  std::string absolute = std::filesystem::absolute(path, ignored).lexically_normal().string();
  return sendRequest(common, {{"op", "materializeURL"}, {"url", absolute.empty() ? path : absolute}});
}

int reimportCommand(const CommonOptions& common, const std::string& identifier) {
  return sendRequest(common, {{"op", "reimportItemsBelowItemWithIdentifier"}, {"identifier", identifier}});
}

}  // namespace qlt::tool
