#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/group.h"
#include "platform/foundation/error.h"
#include "platform/foundation/property_list.h"

namespace qlt {

class ManagedObjectContext;

inline constexpr const char* kTagErrorDomain = "QLTTagErrorDomain";
inline constexpr long kTagWithNameAlreadyExistsErrorCode = 10001;

// A tag that items carry by name (entity "Tag"). Tag names match ignoring
// case only: "Home" and "HOME" are one tag, "Café" and "Cafe" two. Lookups
// run in the library's context; nothing here saves.
class Tag : public Group {
 public:
  using Ptr = std::shared_ptr<Tag>;

  // File-provider tag data of `tags` in the order given (callers sort by
  // name first); nullopt when archiving fails, which is logged.
  [[nodiscard]] static std::optional<Bytes> fileProviderTagData(const std::vector<Ptr>& tags);
  [[nodiscard]] static std::optional<std::vector<std::string>> tagNamesFromFileProviderTagData(const Bytes& data);
  [[nodiscard]] static std::optional<std::vector<int64_t>> tagLabelColorsFromFileProviderTagData(const Bytes& data);

  // The first tag whose name equals `name` ignoring case.
  static Ptr existingTagWithName(const std::string& name, const ManagedObjectPtr& library);
  // The existing tag, or a new one of that name attached to the library.
  static Ptr tagWithName(const std::string& name, const ManagedObjectPtr& library);
  // The tags of the non-empty names, each once; missing ones are created
  // when `create` is true.
  static std::vector<Ptr> tagsWithNames(const std::vector<std::string>& names, const ManagedObjectPtr& library,
                                        bool create);
  // Tags in use by an item whose name begins with `prefix` ignoring case.
  static std::vector<Ptr> tagsWithPrefix(const std::string& prefix, const ManagedObjectPtr& library);
  // Of the tags sharing one exact name, the one with the lowest identifier
  // takes the items of the others, which are deleted.
  static void consolidateDuplicateTagNames(ManagedObjectContext& context);
  // Deletes the tags that neither an item nor a search group uses.
  static void removeUnusedTags(ManagedObjectContext& context);
  // Sorted by name, as file-provider tag data lists them.
  static void sortByName(std::vector<Ptr>& tags);
  // The item's tag names as one text, recomputed from its tags.
  static void updateTagNamesOfItem(ManagedObject& item);

  int64_t fileLabelColor() const;
  void setFileLabelColor(int64_t color);
  std::vector<ManagedObjectPtr> items() const;

  // Trimmed of whitespace and newlines, an empty name or the current one is
  // accepted; a name that another tag of the library has (ignoring case) is
  // refused with kTagWithNameAlreadyExistsErrorCode.
  [[nodiscard]] bool canChangeName(const std::string& newName, Error* error = nullptr) const override;
  // Renames after the check and recomputes the tagNames of the tag's items.
  [[nodiscard]] bool changeName(const std::string& newName, Error* error = nullptr) override;
};

}  // namespace qlt
