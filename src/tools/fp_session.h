#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "extension/file_provider_extension.h"
#include "platform/foundation/error.h"

namespace qlt::tool {

inline constexpr std::chrono::seconds kLoadTimeout{60};
inline constexpr std::chrono::seconds kRequestTimeout{180};

struct CommonOptions {
  std::string domain = "Default";
  std::string groupContainer;
};

// Points the process at the chosen group container and keeps the original
// standard error; every command starts with it.
void prepareEnvironment(const CommonOptions& options);
// The group container in use, or nullopt with the error.
[[nodiscard]] std::optional<std::string> groupContainer(Error* error = nullptr);
// Where `serve` listens: "<group container>/<service name>.sock".
[[nodiscard]] std::optional<std::string> serviceSocketPath(Error* error = nullptr);

// A loaded extension for the chosen domain, invalidated on destruction.
class ExtensionSession {
 public:
  static std::unique_ptr<ExtensionSession> start(const CommonOptions& options, Error* error = nullptr);
  ~ExtensionSession();
  ExtensionSession(const ExtensionSession&) = delete;
  ExtensionSession& operator=(const ExtensionSession&) = delete;

  FileProviderExtension& extension() { return *extension_; }

 private:
  explicit ExtensionSession(std::shared_ptr<FileProviderExtension> extension) : extension_(std::move(extension)) {}
  std::shared_ptr<FileProviderExtension> extension_;
};

// Waits for a value delivered once from another thread.
template <class T>
class Awaited {
 public:
  void set(T value) {
    std::call_once(once_, [&] { promise_.set_value(std::move(value)); });
  }
  [[nodiscard]] std::optional<T> wait(std::chrono::seconds timeout = kRequestTimeout) {
    if (future_.wait_for(timeout) != std::future_status::ready) return std::nullopt;
    return future_.get();
  }

 private:
  std::once_flag once_;
  std::promise<T> promise_;
  std::future<T> future_ = promise_.get_future();
};

Error timedOut(const std::string& what);

}  // namespace qlt::tool
