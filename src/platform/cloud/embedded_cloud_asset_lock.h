#pragma once

#include <memory>
#include <string>

#include "platform/foundation/error.h"

namespace qlt {

// An flock on one file beside a store's asset folder. Fetches hold it
// shared while they copy stored assets; removing stored assets holds it
// exclusively, so no file goes away under a copy in any process (or in
// another store of this process, which has a descriptor of its own).
class EmbeddedCloudAssetLock {
 public:
  enum class Mode { Shared, Exclusive };

  static std::unique_ptr<EmbeddedCloudAssetLock> open(const std::string& path, Error* error = nullptr);
  ~EmbeddedCloudAssetLock();
  EmbeddedCloudAssetLock(const EmbeddedCloudAssetLock&) = delete;
  EmbeddedCloudAssetLock& operator=(const EmbeddedCloudAssetLock&) = delete;

  // Holds the lock in `mode` while it lives; waits for other holders.
  class Holder {
   public:
    Holder(EmbeddedCloudAssetLock& lock, Mode mode);
    ~Holder();
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;

   private:
    EmbeddedCloudAssetLock& lock_;
    bool held_;
  };

 private:
  explicit EmbeddedCloudAssetLock(int fd) : fd_(fd) {}

  int fd_;
};

}  // namespace qlt
