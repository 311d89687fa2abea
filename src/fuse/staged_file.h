#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/date.h"
#include "platform/foundation/error.h"

namespace qlt::fuse {

// The contents being written to one entry of the mount: a private file
// that collects the writes of every handle open on the entry, handed to the
// service as new contents when a handle is flushed or synced. The library's
// own file is never written in place, so nothing half-written reaches it.
class StagedFile {
 public:
  // A new file in `directory`: empty, or a copy of `source`.
  [[nodiscard]] static std::shared_ptr<StagedFile> make(const std::string& directory,
                                                        const std::optional<std::string>& source,
                                                        Error* error = nullptr);
  // Closes and removes the file.
  ~StagedFile();
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  int descriptor() const { return descriptor_; }
  const std::string& path() const { return path_; }

  // Held while writing and while the contents are handed over, so that a
  // request never sees a write half done.
  std::mutex mutex;
  // Guarded by `mutex`.
  bool dirty = false;
  // Dates a program set while the contents were staged; sent with them.
  std::optional<Date> modified;
  std::optional<Date> accessed;
  // The entry was removed: its contents go nowhere.
  std::atomic<bool> discarded{false};

 private:
  StagedFile(std::string path, int descriptor) : path_(std::move(path)), descriptor_(descriptor) {}
  std::string path_;
  int descriptor_;
};

}  // namespace qlt::fuse
