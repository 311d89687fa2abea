// seed: fills the library with generated folders and items whose files
// exist, through the library model.
#include <chrono>
#include <cstdio>
#include <vector>

#include "model/folder.h"
#include "model/item.h"
#include "platform/files/file_attributes.h"
#include "platform/files/file_system.h"
#include "store/library_manager.h"
#include "platform/objectstore/managed_object_context.h"
#include "changes/library_change_set.h"
#include "tools/fp_commands.h"
#include "tools/fp_output.h"

namespace qlt::tool {

namespace {

inline constexpr int64_t kSaveBatchSize = 2000;
inline constexpr int64_t kMaxFileSize = int64_t{1} << 30;

int fail(const Error& error) {
  printError(error);
  return 1;
}

std::string numbered(const char* prefix, int64_t number, const char* suffix = "") {
  char text[64];
  std::snprintf(text, sizeof(text), "%s %06lld%s", prefix, static_cast<long long>(number), suffix);
  return text;
}

struct SeedCounts {
  int64_t folders = 0;
  int64_t items = 0;
  int64_t files = 0;
  int64_t saves = 0;
};

// Folders form chains of `depth` below the root; items go round-robin
// into the folders (into the root when there are none).
// `saved` hears of the records of each batch once it is saved.
bool seed(ManagedObjectContext& context, const SeedOptions& options, SeedCounts& counts,
          const std::function<void(const RecordIDSet&)>& saved, Error* error) {
  auto libraries = context.fetch(FetchRequest("Library"), error);
  if (!libraries) return false;
  if (libraries->empty()) {
    setError(error, badArgument("The library has no Library object."));
    return false;
  }
  Folder::Ptr root = libraries->front()->objectForKey("rootFolder")->as<Folder>();
  // New items belong to All Items, as items made by the application do.
  ManagedObjectPtr libraryGroup = libraries->front()->objectForKey("libraryGroup");
  Date now = Date::now();
  int64_t unsaved = 0;
  auto saveBatch = [&](bool force) {
    if (unsaved == 0 || (!force && unsaved < kSaveBatchSize)) return true;
    RecordIDSet inserted;
    for (const ManagedObjectPtr& object : context.insertedObjects())
      if (auto libraryObject = std::dynamic_pointer_cast<LibraryObject>(object))
        inserted.insert(libraryObject->cloudRecordID());
    if (!context.save(error)) return false;
    saved(inserted);
    ++counts.saves;
    unsaved = 0;
    return true;
  };

  std::vector<Folder::Ptr> folders;
  Folder::Ptr parent = root;
  for (int64_t index = 0; index < options.folders; ++index) {
    if (index % options.depth == 0) parent = root;
    Folder::Ptr folder = parent->createSubfolder(numbered("Folder", index + 1), error);
    if (!folder) return false;
    folder->setDateRecordChanged(now);
    folders.push_back(folder);
    parent = folder;
    ++counts.folders;
    ++unsaved;
    if (!saveBatch(false)) return false;
  }

  std::string contents(static_cast<size_t>(options.fileSize), 'q');
  for (int64_t index = 0; index < options.items; ++index) {
    const Folder::Ptr& folder = folders.empty() ? root : folders[static_cast<size_t>(index) % folders.size()];
    auto item = context.insertNewObject("Item", error);
    if (!item) return false;
    std::string filename = numbered("Item", index + 1, ".txt");
    item->setValueForKey("filename", filename);
    item->setValueForKey("name", filename);
    item->setValueForKey("size", options.fileSize);
    item->setObjectForKey("folder", folder);
    if (libraryGroup) item->addObjectForKey("groups", libraryGroup);
    auto made = item->as<Item>();
    Date modified = now.addingTimeInterval(-static_cast<double>(options.items - index));
    made->setDateCreated(modified);
    made->setDateModified(modified);
    made->setDateRecordChanged(now);
    std::optional<std::string> path = made->fileURL();
    if (path && writeFileAtomically(*path, contents, error) &&
        setModificationTime(*path, modified.toTimespec(), error)) {
      ++counts.files;
    } else {
      if (!path) setError(error, badArgument("The item " + filename + " has no file location."));
      return false;
    }
    ++counts.items;
    ++unsaved;
    if (!saveBatch(false)) return false;
  }
  return saveBatch(true);
}

}  // namespace

int seedCommand(const CommonOptions& common, const SeedOptions& options) {
  prepareEnvironment(common);
  if (options.folders < 0 || options.items < 0 || options.depth < 1 || options.fileSize < 0 ||
      options.fileSize > kMaxFileSize)
    return fail(badArgument("--folders and --items must not be negative, --depth must be at least 1 and "
                            "--file-size between 0 and 1 GiB."));
  Error error;
  auto session = ExtensionSession::start(common, &error);
  if (!session) return fail(error);

  auto started = std::chrono::steady_clock::now();
  auto context = LibraryManager::sharedManager()->newBackgroundContext();
  SeedCounts counts;
  bool seeded = false;
  // As the host application's imports do, each batch leaves a pending
  // change set for `sync` to send.
  std::shared_ptr<ManagedObjectContext> changes = session->extension().changesManagerContext();
  auto recordChanges = [&](const RecordIDSet& inserted) {
    if (!changes || inserted.empty()) return;
    changes->performAndWait([&] {
      LibraryChangeSet::changeRecordSet(inserted, {}, {}, {}, *changes);
      Error changesError;
      if (!changes->save(&changesError)) changes->rollback();
    });
  };
  context->performAndWait([&] { seeded = seed(*context, options, counts, recordChanges, &error); });
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (!seeded) return fail(error);
  printLine({{"folders", counts.folders},
             {"items", counts.items},
             {"files", counts.files},
             {"saves", counts.saves},
             {"seconds", seconds}});
  return 0;
}

}  // namespace qlt::tool
