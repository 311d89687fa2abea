#include "richtext/markdown_style.h"

#include <cstdlib>
#include <mutex>

#include "platform/defaults/user_defaults.h"
#include "platform/files/file_coordinator.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/foundation/log.h"
#include "platform/objectstore/managed_object_classes.h"
#include "platform/objectstore/managed_object_context.h"
#include "store/library_manager.h"
#include "store/library_model.h"
#include "util/whitespace.h"

namespace qlt {

const MarkdownStyleKind kMarkdownEditorStyleKind = {
    "MarkdownEditorStyle",
    "Markdown Editor Styles",
    kMarkdownEditorStyleFileExtension,
    kMarkdownEditorStyleNameKey,
    kMarkdownEditorStyleFileAssetKey,
    "Error copying markdown editor style asset: %@",
    "Cannot remove Markdown editor style during deletion: %@"};
const MarkdownStyleKind kMarkdownPreviewStyleKind = {
    "MarkdownPreviewStyle",
    "Markdown Preview Styles",
    kMarkdownPreviewStyleFileExtension,
    kMarkdownPreviewStyleNameKey,
    kMarkdownPreviewStyleFileAssetKey,
    "Error copying markdown preview style asset: %@",
    "Cannot remove Markdown preview style during deletion: %@"};

namespace {

std::mutex resourcesMutex;
std::optional<std::optional<std::string>> resourcesOverride;

std::vector<std::shared_ptr<MarkdownStyle>> stylesOfKind(const MarkdownStyleKind& kind, ManagedObjectContext& context) {
  std::vector<std::shared_ptr<MarkdownStyle>> styles;
  std::optional<std::vector<ManagedObjectPtr>> found = context.fetch(FetchRequest(kind.entityName));
  for (const ManagedObjectPtr& object : found.value_or(std::vector<ManagedObjectPtr>{}))
    if (auto style = std::dynamic_pointer_cast<MarkdownStyle>(object)) styles.push_back(style);
  return styles;
}

// Replaces whatever is at `destination` with a copy of `source`.
bool replaceWithCopy(const std::string& source, const std::string& destination, Error* error) {
  if (fileExists(destination) && !removeItem(destination, error)) return false;
  return copyItem(source, destination, error);
}

}  // namespace

std::string MarkdownStyle::stylesFolderPath(const MarkdownStyleKind& kind) {
  std::shared_ptr<LibraryManager> manager = LibraryManager::sharedManager();
  if (!manager) return {};
  std::string folder = appendingPathComponent(manager->libraryFilePath(), kind.folderName);
  Error error;
  if (!fileExists(folder) && !createDirectory(folder, true, &error)) log("Error creating Markdown styles folder: %@", error);
  return folder;
}

void MarkdownStyle::setResourcesDirectory(std::optional<std::string> path) {
  std::lock_guard lock(resourcesMutex);
  resourcesOverride = std::move(path);
}

std::optional<std::string> MarkdownStyle::resourcesDirectory() {
  std::lock_guard lock(resourcesMutex);
  if (resourcesOverride) return *resourcesOverride;
  const char* fromEnvironment = std::getenv("QLT_RESOURCES_DIR");
  if (fromEnvironment && *fromEnvironment) return std::string(fromEnvironment);
  return std::nullopt;
}

std::map<std::string, std::string> MarkdownStyle::styleFilePathsByName(const MarkdownStyleKind& kind,
                                                                       ManagedObjectContext& context) {
  std::map<std::string, std::string> byName;
  if (std::optional<std::string> resources = resourcesDirectory()) {
    if (&kind == &kMarkdownEditorStyleKind) {
      for (const std::string& entry : contentsOfDirectory(*resources).value_or(std::vector<std::string>{}))
        if (pathExtension(entry) == kind.fileExtension)
          byName[deletingPathExtension(entry)] = appendingPathComponent(*resources, entry);
    } else {
      for (const char* name : {kMarkdownPreviewStyleDefaultName, "Lightweight"}) {
        std::string path = appendingPathComponent(*resources, appendingPathExtension(name, kind.fileExtension));
        if (fileExists(path)) byName[name] = path;
      }
    }
  }
  for (const std::shared_ptr<MarkdownStyle>& style : stylesOfKind(kind, context))
    if (std::optional<std::string> path = style->fileURL()) byName[style->name()] = *path;
  return byName;
}

std::shared_ptr<MarkdownStyle> MarkdownStyle::styleWithFileAtPath(const MarkdownStyleKind& kind,
                                                                  const std::string& path,
                                                                  const ManagedObjectPtr& library, Error* error) {
  ManagedObjectContext* context = library ? library->managedObjectContext() : nullptr;
  if (!context) {
    setError(error, Error(kLibraryManagerErrorDomain, kLibraryManagerExceptionErrorCode, "The library is not loaded."));
    return nullptr;
  }
  auto style = std::dynamic_pointer_cast<MarkdownStyle>(context->insertNewObject(kind.entityName));
  if (!style) return nullptr;
  style->setValueForKey("name", deletingPathExtension(lastPathComponent(path)));
  style->setObjectForKey("library", library);
  std::optional<std::string> destination = style->fileURL();
  Error failure;
  if (!destination || !copyItem(path, *destination, &failure)) {
    context->deleteObject(style);
    setError(error, failure);
    return nullptr;
  }
  return style;
}

std::string MarkdownStyle::name() const {
  Value stored = valueForKey("name");
  return stored.string() ? *stored.string() : std::string();
}

void MarkdownStyle::setName(const std::string& name) {
  if (name.empty()) return;
  std::string old = this->name();
  setValueForKey("name", name);
  UserDefaults& defaults = UserDefaults::standard();
  if (!old.empty() && defaults.stringForKey(kind().chosenStyleDefaultsKey) == old) {
    Error error;
    if (!defaults.setString(name, kind().chosenStyleDefaultsKey, &error))
      log("Cannot write the user default %@: %@", kind().chosenStyleDefaultsKey, error);
  }
}

bool MarkdownStyle::validateName(std::string& name) const {
  std::string trimmed(trimmingWhitespaceAndNewlines(name));
  if (trimmed.empty()) {
    name = this->name();
    return true;
  }
  ManagedObjectContext* context = managedObjectContext();
  if (!context) return true;
  std::vector<std::shared_ptr<MarkdownStyle>> others = stylesOfKind(kind(), *context);
  auto taken = [&](const std::string& candidate) {
    for (const std::shared_ptr<MarkdownStyle>& other : others)
      if (other.get() != this && other->name() == candidate) return true;
    return false;
  };
  std::string chosen = trimmed;
  if (taken(trimmed)) {
    for (long counter = 1;; ++counter) {
      chosen = name + " " + std::to_string(counter);
      if (!taken(chosen)) break;
    }
  }
  if (chosen != name) name = chosen;
  return true;
}

bool MarkdownStyle::validateValue(Value& value, const std::string& key, Error* error) const {
  if (key != "name" || !value.string()) return LibraryObject::validateValue(value, key, error);
  std::string name = *value.string();
  validateName(name);
  value = Value(name);
  return true;
}

std::optional<std::string> MarkdownStyle::fileURL() const {
  if (identifier().empty()) return std::nullopt;
  std::string folder = stylesFolderPath(kind());
  if (folder.empty()) return std::nullopt;
  return appendingPathComponent(folder, appendingPathExtension(identifier(), kind().fileExtension));
}

std::string MarkdownStyle::exportFileName() const { return appendingPathExtension(name(), kind().fileExtension); }

void MarkdownStyle::prepareForDeletion() {
  UserDefaults& defaults = UserDefaults::standard();
  if (defaults.stringForKey(kind().chosenStyleDefaultsKey) == name()) {
    Error error;
    if (!defaults.removeObjectForKey(kind().chosenStyleDefaultsKey, &error))
      log("Cannot write the user default %@: %@", kind().chosenStyleDefaultsKey, error);
  }
  if (std::optional<std::string> path = fileURL(); path && fileExists(*path)) {
    Error error;
    if (!removeItem(*path, &error)) log(kind().removeErrorFormat, error);
  }
  LibraryObject::prepareForDeletion();
}

void MarkdownStyle::updateRecordWithCurrentValues(CloudRecord& record) const {
  LibraryObject::updateRecordWithCurrentValues(record);
  if (std::optional<std::string> path = fileURL(); path && fileExists(*path))
    record.setObjectForKey(kind().assetKey, CloudAsset{*path});
}

void MarkdownStyle::updateFromCloudRecord(const CloudRecord& record) {
  LibraryObject::updateFromCloudRecord(record);
  const CloudValue* value = record.objectForKey(kind().assetKey);
  const CloudAsset* asset = value ? value->asset() : nullptr;
  std::optional<std::string> destination = fileURL();
  if (!asset || !destination) return;
  FileCoordinator coordinator;
  bool ran = false;
  Error accessorError, coordinatorError;
  bool copied = false;
  bool coordinated = coordinator.coordinateReadingAndWriting(
      asset->filePath, FileCoordinator::kNoOptions, *destination, FileCoordinator::kNoOptions,
      [&](const std::string& source, const std::string& target) {
        ran = true;
        copied = replaceWithCopy(source, target, &accessorError);
      },
      &coordinatorError);
  if (!coordinated || !copied) log(kind().copyErrorFormat, ran ? accessorError : coordinatorError);
}

void registerMarkdownStyleClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    ManagedObjectClasses::add<MarkdownEditorStyle>(libraryModel()->name(), kMarkdownEditorStyleKind.entityName);
    ManagedObjectClasses::add<MarkdownPreviewStyle>(libraryModel()->name(), kMarkdownPreviewStyleKind.entityName);
  });
}

}  // namespace qlt
