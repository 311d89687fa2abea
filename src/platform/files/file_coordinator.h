#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/foundation/error.h"

namespace qlt {

// Serializes access to items among the threads of this process. Readers of
// an item share it; a writer has it alone. Claims are hierarchical: a
// claim on a directory conflicts with claims on the items inside it, so a
// writer of a folder waits for readers of its files and they wait for it.
// Claims made inside an accessor by the same thread do not wait for that
// thread's own claims; a thread that coordinates on two unrelated paths in
// turn can still deadlock with one doing the reverse, as with any locks.
//
// Each call runs its accessor at most once, synchronously, and returns
// whether it ran; when it did not (cancelled, invalid options or path) the
// error says why.
class FileCoordinator {
 public:
  enum Options : unsigned {
    kNoOptions = 0,
    // Reading: the item is wanted as it is on disk right now.
    kWithoutChanges = 1u << 0,
    // Writing: what the write does to the item.
    kForDeleting = 1u << 1,
    kForMoving = 1u << 2,
    kForReplacing = 1u << 3,
    kForMerging = 1u << 4,
  };

  using Accessor = std::function<void(const std::string& path)>;
  using TwoPathAccessor = std::function<void(const std::string& first, const std::string& second)>;

  FileCoordinator() = default;
  FileCoordinator(const FileCoordinator&) = delete;
  FileCoordinator& operator=(const FileCoordinator&) = delete;

  [[nodiscard]] bool coordinateReading(const std::string& path, Options options, const Accessor& accessor, Error* error = nullptr);
  [[nodiscard]] bool coordinateWriting(const std::string& path, Options options, const Accessor& accessor, Error* error = nullptr);
  // Both claims are taken together; the accessor gets (readPath, writePath).
  [[nodiscard]] bool coordinateReadingAndWriting(const std::string& readPath, Options readOptions, const std::string& writePath,
                                   Options writeOptions, const TwoPathAccessor& accessor, Error* error = nullptr);
  // For moves and copies: both claims are taken together, so two moves in
  // opposite directions cannot deadlock. The accessor gets (first, second).
  [[nodiscard]] bool coordinateWriting(const std::string& first, Options firstOptions, const std::string& second,
                         Options secondOptions, const TwoPathAccessor& accessor, Error* error = nullptr);

  // Calls of this coordinator still waiting, and all later ones, fail with
  // the user-cancelled error. An accessor already running is not affected.
  void cancel();

 private:
  struct Claim {
    std::string path;
    bool writing = false;
    Options options = kNoOptions;
  };

  [[nodiscard]] bool coordinate(const std::vector<Claim>& claims, const std::function<void()>& run, Error* error);

  // Guarded by the process-wide claim table's mutex.
  bool cancelled_ = false;
};

constexpr FileCoordinator::Options operator|(FileCoordinator::Options a, FileCoordinator::Options b) {
  return static_cast<FileCoordinator::Options>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}

}  // namespace qlt
