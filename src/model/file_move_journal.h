#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/error.h"

namespace qlt {

class ManagedObjectContext;

// Moves of an item's file or a folder's directory that the next save
// makes true. A file is moved
// before the save that records its new place; a process killed in between
// would leave a file where no row says it is. Each move is written down
// (in the library package's "Moves" folder, flushed) before it happens and
// struck out when the item is saved; whatever a dead process left written
// down is undone when a library loads: the file goes back where its row
// says it is, or, for a new item that was never saved, away.
class FileMoveJournal {
 public:
  // Writes down that the file at `from` (identified by its inode) is about
  // to go to `to` for the item `identifier`; the entry to pass to
  // abandon() when the move does not happen. Nullopt with the error when
  // it cannot be written down: then the file must not be moved.
  [[nodiscard]] static std::optional<std::string> begin(const std::string& identifier, const std::string& from,
                                                        const std::string& to, Error* error = nullptr);
  static void abandon(const std::string& entry);
  // For a new folder: written down before its directory at `path` is made,
  // so that a directory no saved row came to own is removed (while still
  // empty). The entry to pass to abandon() when nothing was made.
  [[nodiscard]] static std::optional<std::string> beginCreation(const std::string& identifier, const std::string& path,
                                                                Error* error = nullptr);
  // For a deletion: moves the file or directory at `path` out of its
  // folder into the library's import folder, written down so that it comes
  // back if the deletion is never saved, and is removed when it is.
  [[nodiscard]] static bool setAside(const std::string& identifier, const std::string& path, Error* error = nullptr);
  // The item was saved: its moves are done. What it set aside goes only
  // when the save deleted its row (`deleted`); a row that was saved
  // instead (another process kept it) gets its file back.
  static void finish(const std::string& identifier, bool deleted);
  // The deletion of `identifier` was not saved: what it set aside goes
  // back to `savedPath` (where the row now says it is) when that is free,
  // or else where it came from. Returns false when something could not
  // go back; it then stays written down for recovery.
  static bool putBack(const std::string& identifier, const std::optional<std::string>& savedPath = std::nullopt);
  // A save of `identifier` failed and its rows were rolled back: its moves
  // since its last save are undone, latest first, its new directory is
  // removed while empty and what it set aside goes back, so that its file
  // is where its rows say. Returns false when something could not be
  // undone; it then stays written down for recovery.
  static bool undoUnsaved(const std::string& identifier);
  // A new object was not saved and its file or directory is gone again:
  // nothing is left to undo.
  static void forgetCreation(const std::string& identifier);
  // Undoes what processes that are gone left written down. Runs inside
  // `context`, which sees the saved library. Returns how many moves it undid.
  static int recover(ManagedObjectContext& context);
};

}  // namespace qlt
