// Item: new files made in the import folder and renamed into place.
#include "model/file_move_journal.h"
#include "model/finder_tags.h"
#include "model/item_creation_steps.h"
#include "model/tag.h"
#include "model/tag_data.h"
#include "platform/defaults/user_defaults.h"
#include "platform/files/file_attributes.h"
#include "platform/files/file_coordinator.h"
#include "platform/files/file_error.h"
#include "platform/files/file_flags.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/foundation/log.h"
#include "platform/foundation/uuid.h"
#include "store/library_manager.h"
#include "util/file_manager.h"

namespace qlt {
namespace creation {
namespace {

bool somethingAt(const std::string& path) { return attributesOfItem(path).has_value(); }

// Unique in the import folder, and with the filename's extension, which
// writers go by.
std::string stagingPath(const std::string& filename) {
  std::string name = newUUIDString() + " " + filename;
  // A long filename keeps only its extension.
  if (name.size() > 255) name = appendingPathExtension(newUUIDString(), pathExtension(filename));
  if (name.size() > 255) name = newUUIDString();
  return appendingPathComponent(LibraryManager::sharedManager()->currentImportFolderPath(), name);
}

void clearImmutableFlag(const std::string& path) {
  if (!isImmutable(path).value_or(false)) return;
  Error failure;
  if (!setImmutable(path, false, &failure)) log("Couldn't unset user immutable flag during item creation: %@", failure);
}

// Moves the finished file at `staged` to `destination`, trashing a stray
// file there first.
bool moveIntoPlace(const std::string& identifier, const std::string& staged, const std::string& destination,
                   Error* error) {
  Error failure;
  bool moved = false;
  FileCoordinator coordinator;
  bool ran = coordinator.coordinateWriting(
      staged, FileCoordinator::kForMoving, destination, FileCoordinator::kForReplacing,
      [&](const std::string& from, const std::string& to) {
        if (somethingAt(to)) {
          log("Trashing file in the way of a new item: %@", to);
          if (!trashItem(to, &failure)) return;
        }
        std::optional<std::string> entry = FileMoveJournal::begin(identifier, from, to, &failure);
        if (!entry) return;
        moved = moveItem(from, to, &failure);
        if (!moved) FileMoveJournal::abandon(*entry);
      },
      &failure);
  if (ran && moved) return true;
  setError(error, failure);
  return false;
}

}  // namespace

bool putFileInPlace(Item& item, const std::string& source, Error* error) {
  std::optional<std::string> destination = item.fileURL(error);
  if (!destination) return false;
  if (standardizingPath(source) == standardizingPath(*destination)) return true;
  const std::string staged = stagingPath(item.filename());
  Error failure;
  bool copied = false;
  FileCoordinator coordinator;
  bool ran = coordinator.coordinateReadingAndWriting(
      source, FileCoordinator::kNoOptions, staged, FileCoordinator::kNoOptions,
      [&](const std::string& from, const std::string& to) { copied = copyItem(from, to, &failure); }, &failure);
  if (ran && copied) {
    clearImmutableFlag(staged);
    if (moveIntoPlace(item.identifier(), staged, *destination, &failure)) return true;
  }
  if (somethingAt(staged)) (void)removeItem(staged);
  setError(error, failure);
  return false;
}

bool writeFileInPlace(Item& item, const FileWriter& write, Error* error) {
  std::optional<std::string> destination = item.fileURL(error);
  if (!destination) return false;
  const std::string staged = stagingPath(item.filename());
  Error failure;
  bool written = false;
  FileCoordinator coordinator;
  bool ran = coordinator.coordinateWriting(
      staged, FileCoordinator::kNoOptions, [&](const std::string& path) { written = write(path, &failure); },
      &failure);
  if (ran && written && moveIntoPlace(item.identifier(), staged, *destination, &failure)) return true;
  if (somethingAt(staged)) (void)removeItem(staged);
  setError(error, failure);
  return false;
}

void applyFinderTagsFromFile(Item& item, const std::string& path, const ManagedObjectPtr& library) {
  if (!UserDefaults::standard().boolForKey(kItemImportFinderTagsKey)) return;
  std::optional<Bytes> data = finderTagsAttribute(path);
  if (!data) return;
  std::optional<std::vector<std::string>> names = tagNamesFromTagData(*data);
  if (!names || names->empty()) return;
  std::vector<ManagedObjectPtr> tags;
  for (const Tag::Ptr& tag : Tag::tagsWithNames(*names, library, true)) tags.push_back(tag);
  item.setObjectsForKey("tags", tags);
  Tag::updateTagNamesOfItem(item);
  item.tagsDidChange();
}

}  // namespace creation
}  // namespace qlt
