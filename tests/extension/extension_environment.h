#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <optional>
#include <memory>
#include <string>

#include "extension/file_provider_extension.h"
#include "extension/file_provider_operation.h"
#include "extension/log_file.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/ipc/recording_distributed_notification_center.h"
#include "support/scoped_environment.h"
#include "support/scratch_directory.h"

namespace qlt {

// Records what it finished with. One that waits starts the response
// time-out in main() and leaves finishing to the test, as a cloud request
// would; the others finish at once.
class TestOperation : public FileProviderOperation {
 public:
  explicit TestOperation(bool waits = false) : waits_(waits) {}
  bool waitForResult(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    return result_.wait_for(timeout) == std::future_status::ready;
  }
  std::optional<Error> error() { return result_.get(); }
  int completions() const { return completions_; }

 protected:
  void main() override { waits_ ? startResponseTimeoutTimer() : finishWithError(); }
  void complete(const Error* error) override {
    if (++completions_ == 1) promise_.set_value(error ? std::optional<Error>(*error) : std::nullopt);
  }
  Error convertError(const Error& error) const override {
    Error converted = error;
    converted.setLocalizedDescription("converted");
    return converted;
  }

 private:
  bool waits_;
  std::promise<std::optional<Error>> promise_;
  std::shared_future<std::optional<Error>> result_ = promise_.get_future().share();
  std::atomic<int> completions_{0};
};

// A fresh group container with distributed notifications recorded; the
// extension is made on demand so that a test may act before it loads.
class ExtensionTest : public ::testing::Test {
 protected:
  ExtensionTest() : container_("QLT_GROUP_CONTAINER", scratch_.path().c_str()) {
    DistributedNotificationCenter::setShared(notifications_);
  }
  ~ExtensionTest() override {
    extension_.reset();
    DistributedNotificationCenter::setShared(nullptr);
  }

  // Tests wait for the materialized-items notice this long, not 2 s.
  static constexpr double kNoticeDelay = 0.4;

  FileProviderExtension& makeExtension(const std::string& domain = "Default") {
    extension_ = std::make_shared<FileProviderExtension>(FileProviderDomain{domain, domain}, kNoticeDelay);
    return *extension_;
  }
  FileProviderExtension& loadedExtension(const std::string& domain = "Default") {
    makeExtension(domain);
    Error error;
    EXPECT_TRUE(extension_->waitUntilLoaded(std::chrono::seconds(20), &error)) << error.description();
    return *extension_;
  }

  // What the extension logged so far.
  std::string logText() const {
    std::fflush(stderr);
    std::string folder = logFolderPath(scratch_.path());
    std::string text;
    for (const std::string& name : contentsOfDirectory(folder).value_or(std::vector<std::string>{}))
      text += readFile(appendingPathComponent(folder, name)).value_or("");
    return text;
  }

  ScratchDirectory scratch_;
  ScopedEnvironment container_;
  std::shared_ptr<RecordingDistributedNotificationCenter> notifications_ =
      std::make_shared<RecordingDistributedNotificationCenter>();
  std::shared_ptr<FileProviderExtension> extension_;
};

}  // namespace qlt
