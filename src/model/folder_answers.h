#pragma once

#include <optional>
#include <string>
#include <map>
#include <utility>

#include "platform/foundation/error.h"
#include "platform/objectstore/managed_object.h"
#include "platform/objectstore/object_id.h"

namespace qlt {

// While one lives on a thread, the answers folders give about their place
// (their directory, their library, whether they are shared or a local
// record) are worked out once per folder, then remembered: a page of
// descriptors asks them of the same few folders for every item. Scopes
// nest; the outermost one does the remembering. Answers belong to the
// context that asked: another context on the thread (one that reads the
// store afresh, say) works its own out.
// REQUIRES: nothing changes the folders, their parents or their library
// while it lives.
class FolderAnswers {
 public:
  FolderAnswers();
  ~FolderAnswers();
  FolderAnswers(const FolderAnswers&) = delete;
  FolderAnswers& operator=(const FolderAnswers&) = delete;

  struct Remembered {
    std::optional<std::optional<std::string>> path;
    std::optional<Error> pathError;
    std::optional<ManagedObjectPtr> library;
    std::optional<bool> isShared;
    std::optional<bool> isLocalRecord;
  };

  // The remembered answers of `folder` in the thread's scope; null outside
  // any.
  static Remembered* of(const ManagedObject& folder);

 private:
  std::map<std::pair<const ManagedObjectContext*, ObjectID>, Remembered> remembered_;
  bool outermost_ = false;
};

// `compute()` once per folder and scope, through `member`.
template <class T, class Compute>
T rememberedFolderAnswer(const ManagedObject& folder, std::optional<T> FolderAnswers::Remembered::*member,
                         Compute compute) {
  FolderAnswers::Remembered* remembered = FolderAnswers::of(folder);
  if (!remembered) return compute();
  std::optional<T>& slot = remembered->*member;
  if (!slot) slot = compute();
  return *slot;
}

}  // namespace qlt
