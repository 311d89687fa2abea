#include "platform/files/file_coordinator.h"

#include <cerrno>
#include <condition_variable>
#include <filesystem>
#include <list>
#include <mutex>
#include <thread>

#include "platform/files/file_path.h"

namespace qlt {

namespace {

struct Request {
  std::vector<std::string> paths;  // absolute, with symbolic links resolved
  std::vector<bool> writing;
  std::thread::id thread;
  bool granted = false;
};

// Whether one is the other or lies inside it.
bool related(const std::string& a, const std::string& b) {
  const std::string& shorter = a.size() <= b.size() ? a : b;
  const std::string& longer = a.size() <= b.size() ? b : a;
  if (longer.compare(0, shorter.size(), shorter) != 0) return false;
  return longer.size() == shorter.size() || shorter == "/" || longer[shorter.size()] == '/';
}

bool conflict(const Request& a, const Request& b) {
  for (size_t i = 0; i < a.paths.size(); ++i)
    for (size_t j = 0; j < b.paths.size(); ++j)
      if ((a.writing[i] || b.writing[j]) && related(a.paths[i], b.paths[j])) return true;
  return false;
}

// Requests are granted in arrival order among those that conflict, so a
// stream of readers cannot starve a writer. A request made inside an
// accessor skips that order and ignores its own thread's claims; making it
// wait for anything queued behind the claims it already holds would never
// end.
class ClaimTable {
 public:
  static ClaimTable& shared() {
    static auto& table = *new ClaimTable;  // outlives queue threads
    return table;
  }

  std::mutex mutex;
  std::condition_variable changed;

  // With `mutex` held.
  bool grantable(const Request& request) const {
    bool nested = false;
    for (const Request* other : requests_)
      if (other->granted && other->thread == request.thread) nested = true;
    bool before = true;
    for (const Request* other : requests_) {
      if (other == &request) {
        before = false;
        continue;
      }
      if (other->granted && other->thread == request.thread) continue;
      if ((other->granted || (before && !nested)) && conflict(*other, request)) return false;
    }
    return true;
  }

  void add(Request& request) { requests_.push_back(&request); }
  void remove(Request& request) {
    requests_.remove(&request);
    changed.notify_all();
  }

 private:
  std::list<Request*> requests_;
};

std::string claimPath(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code failure;
  fs::path absolute = fs::absolute(path, failure);
  fs::path resolved = fs::weakly_canonical(absolute, failure);
  return standardizingPath(failure ? absolute.native() : resolved.native());
}

bool validOptions(FileCoordinator::Options options, bool writing) {
  unsigned reading = FileCoordinator::kWithoutChanges;
  unsigned writes = FileCoordinator::kForDeleting | FileCoordinator::kForMoving | FileCoordinator::kForReplacing |
                    FileCoordinator::kForMerging;
  return (options & ~(writing ? writes : reading)) == 0;
}

}  // namespace

bool FileCoordinator::coordinate(const std::vector<Claim>& claims, const std::function<void()>& run, Error* error) {
  Request request;
  request.thread = std::this_thread::get_id();
  for (const Claim& claim : claims) {
    if (claim.path.empty() || claim.path.find('\0') != std::string::npos) {
      setError(error, invalidFilenameError(claim.path, "it is not a path"));
      return false;
    }
    if (!validOptions(claim.options, claim.writing)) {
      Error failure(kPOSIXErrorDomain, EINVAL,
                    std::string("Options ") + std::to_string(claim.options) + " do not apply to " +
                        (claim.writing ? "writing." : "reading."));
      failure.setUserInfoValue(kFilePathErrorKey, claim.path);
      setError(error, std::move(failure));
      return false;
    }
    request.paths.push_back(claimPath(claim.path));
    request.writing.push_back(claim.writing);
  }

  ClaimTable& table = ClaimTable::shared();
  {
    std::unique_lock lock(table.mutex);
    if (!cancelled_) {
      table.add(request);
      table.changed.wait(lock, [&] { return cancelled_ || table.grantable(request); });
      if (cancelled_) table.remove(request);
    }
    if (cancelled_) {
      setError(error, userCancelledError());
      return false;
    }
    request.granted = true;
  }
  struct Release {
    ClaimTable& table;
    Request& request;
    ~Release() {
      std::lock_guard lock(table.mutex);
      table.remove(request);
    }
  } release{table, request};
  run();
  return true;
}

bool FileCoordinator::coordinateReading(const std::string& path, Options options, const Accessor& accessor,
                                        Error* error) {
  return coordinate({{path, false, options}}, [&] { accessor(path); }, error);
}

bool FileCoordinator::coordinateWriting(const std::string& path, Options options, const Accessor& accessor,
                                        Error* error) {
  return coordinate({{path, true, options}}, [&] { accessor(path); }, error);
}

bool FileCoordinator::coordinateReadingAndWriting(const std::string& readPath, Options readOptions,
                                                  const std::string& writePath, Options writeOptions,
                                                  const TwoPathAccessor& accessor, Error* error) {
  return coordinate({{readPath, false, readOptions}, {writePath, true, writeOptions}},
                    [&] { accessor(readPath, writePath); }, error);
}

bool FileCoordinator::coordinateWriting(const std::string& first, Options firstOptions, const std::string& second,
                                        Options secondOptions, const TwoPathAccessor& accessor, Error* error) {
  return coordinate({{first, true, firstOptions}, {second, true, secondOptions}}, [&] { accessor(first, second); },
                    error);
}

void FileCoordinator::cancel() {
  ClaimTable& table = ClaimTable::shared();
  std::lock_guard lock(table.mutex);
  cancelled_ = true;
  table.changed.notify_all();
}

}  // namespace qlt
