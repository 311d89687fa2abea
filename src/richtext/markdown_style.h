#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/error.h"
#include "store/cloud_record_fields.h"
#include "store/library_object.h"

namespace qlt {

class ManagedObjectContext;

inline constexpr const char* kMarkdownEditorStyleFileExtension = "style";
inline constexpr const char* kMarkdownPreviewStyleFileExtension = "css";
inline constexpr const char* kMarkdownPreviewStyleDefaultName = "Default";
inline constexpr const char* kMarkdownEditorStyleNameKey = "QLTMarkdownEditorStyleName";
inline constexpr const char* kMarkdownPreviewStyleNameKey = "QLTMarkdownPreviewStyleName";

// What tells the editor and preview styles apart.
struct MarkdownStyleKind {
  const char* entityName;
  const char* folderName;
  const char* fileExtension;
  const char* chosenStyleDefaultsKey;
  const char* assetKey;
  const char* copyErrorFormat;
  const char* removeErrorFormat;
};
extern const MarkdownStyleKind kMarkdownEditorStyleKind;
extern const MarkdownStyleKind kMarkdownPreviewStyleKind;

// A user's Markdown style: one file, named by the style's identifier with
// the kind's extension, in the kind's folder of the library package. The
// visible name lives only in `name`; the chosen-style user default follows
// it through renames and deletion. The file travels as an asset of the
// style's cloud record.
class MarkdownStyle : public LibraryObject {
 public:
  virtual const MarkdownStyleKind& kind() const = 0;

  // The kind's folder, created with intermediates when missing (a failure
  // is logged); empty without a library manager.
  static std::string stylesFolderPath(const MarkdownStyleKind& kind);
  // Built-in styles (from the resources directory), then every style of
  // `context` by name; a user style takes the place of a built-in one of
  // the same name.
  static std::map<std::string, std::string> styleFilePathsByName(const MarkdownStyleKind& kind,
                                                                 ManagedObjectContext& context);
  // Where built-in styles are looked for; $QLT_RESOURCES_DIR unless set.
  static void setResourcesDirectory(std::optional<std::string> path);
  static std::optional<std::string> resourcesDirectory();

  // A new style of `kind` in `library`'s context named after the file,
  // holding a copy of it; nothing (and no object left behind) with the
  // copy's error.
  static std::shared_ptr<MarkdownStyle> styleWithFileAtPath(const MarkdownStyleKind& kind, const std::string& path,
                                                            const ManagedObjectPtr& library, Error* error = nullptr);

  std::string name() const;
  // An empty name is ignored; the chosen-style default moves along.
  void setName(const std::string& name);
  // Trims the proposal; blanks keep the current name, a name another style
  // of the kind has gets the first free "name n". Always true.
  bool validateName(std::string& name) const;
  bool validateValue(Value& value, const std::string& key, Error* error = nullptr) const override;

  [[nodiscard]] std::optional<std::string> fileURL() const;
  std::string exportFileName() const;

  void updateRecordWithCurrentValues(CloudRecord& record) const override;
  void updateFromCloudRecord(const CloudRecord& record) override;

 protected:
  void prepareForDeletion() override;
};

class MarkdownEditorStyle final : public MarkdownStyle {
 public:
  const MarkdownStyleKind& kind() const override { return kMarkdownEditorStyleKind; }
  static std::string editorStylesFolderURL() { return stylesFolderPath(kMarkdownEditorStyleKind); }
};

class MarkdownPreviewStyle final : public MarkdownStyle {
 public:
  const MarkdownStyleKind& kind() const override { return kMarkdownPreviewStyleKind; }
  static std::string previewStylesFolderURL() { return stylesFolderPath(kMarkdownPreviewStyleKind); }
};

// Gives the two style entities their classes; before the library store
// opens. Safe to call again and from any thread.
void registerMarkdownStyleClasses();

}  // namespace qlt
