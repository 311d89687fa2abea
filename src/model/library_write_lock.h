#pragma once

namespace qlt {

// Writers of the shared library take turns. A writer holds the turn from
// reading the rows it is about to change until it has saved or rolled
// back, so the file moves and saves of two writers never interleave: not
// those of two threads, and not those of two processes (the service and the
// host application) on one library. Across processes the turn is an
// advisory lock (flock) on the library package's "Writer.lock"; the kernel
// releases it when a process dies. Without a loaded library only this
// process's threads take turns.
//
// A thread that holds the turn may take it again (scopes nest). A scope
// must end on the thread that began it.
class LibraryWriteLock {
 public:
  // Waits for the turn.
  LibraryWriteLock();
  ~LibraryWriteLock();
  LibraryWriteLock(const LibraryWriteLock&) = delete;
  LibraryWriteLock& operator=(const LibraryWriteLock&) = delete;

  struct TryOnly {};
  // Takes the turn only when nobody holds it now; owns() says whether.
  explicit LibraryWriteLock(TryOnly);

  bool owns() const { return owns_; }

 private:
  bool owns_ = false;
};

}  // namespace qlt
