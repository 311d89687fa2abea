#include "extension/file_provider_item_values.h"

#include "model/finder_tags.h"
#include "model/item.h"
#include "model/tag.h"
#include "platform/defaults/user_defaults.h"
#include "platform/files/extended_attributes.h"
#include "platform/files/file_attributes.h"
#include "platform/files/file_error.h"
#include "platform/files/file_path.h"
#include "platform/foundation/log.h"
#include "platform/foundation/property_list_serialization.h"
#include "store/library.h"
#include "util/file_manager.h"

#include <cerrno>

namespace qlt {
namespace {

// The Finder comment, as a serialized property list.
constexpr const char* kFinderCommentsXAttrKey = "com.apple.metadata:kMDItemFinderComment";

}  // namespace

void setItemTagsFromFileProviderTagData(Item& item, const Bytes& data, const std::shared_ptr<Library>& library,
                                        std::set<RecordID>& insertedTagRecordIDs) {
  if (!UserDefaults::standard().boolForKey(kItemImportFinderTagsKey)) return;
  std::vector<std::string> names = Tag::tagNamesFromFileProviderTagData(data).value_or(std::vector<std::string>());
  std::vector<ManagedObjectPtr> tags;
  for (const Tag::Ptr& tag : Tag::tagsWithNames(names, library, true)) {
    if (tag->cloudRecord().recordChangeTag().empty()) insertedTagRecordIDs.insert(tag->cloudRecordID());
    tags.push_back(tag);
  }
  item.setObjectsForKey("tags", tags);
  Tag::updateTagNamesOfItem(item);
  item.tagsDidChange();
  std::vector<int64_t> colors = Tag::tagLabelColorsFromFileProviderTagData(data).value_or(std::vector<int64_t>());
  for (size_t i = 0; i < names.size() && i < colors.size(); ++i)
    if (Tag::Ptr tag = Tag::tagWithName(names[i], library)) tag->setFileLabelColor(colors[i]);
}

std::optional<Error> filenameRefusal(const std::string& name) {
  if (isValidFilename(name)) return std::nullopt;
  if (name.size() > 255) return posixError(ENAMETOOLONG, name);
  return invalidFilenameError(name, "names may not be empty, “.” or “..”, or hold “/” or NUL");
}

bool storeServiceAttribute(const std::string& path, const std::string& key, const Bytes& value, Error* error) {
  Error failure;
  std::string_view bytes(reinterpret_cast<const char*>(value.data()), value.size());
  if (setExtendedAttribute(path, key, bytes, &failure)) return true;
  const int errnum = static_cast<int>(failure.code());
  if (errnum == E2BIG || errnum == ERANGE || errnum == EOPNOTSUPP) {
    log("Leaving out attribute %@ the file system cannot hold: %@", key, failure);
    return true;
  }
  setError(error, fileWriteError(errnum, path));
  return false;
}

bool applyExtendedAttributesToItem(Item& item, const std::map<std::string, Bytes>& attributes,
                                   const std::optional<std::string>& path, Error* error) {
  for (const auto& [key, value] : attributes) {
    if (key == kFinderCommentsXAttrKey) {
      Error failure;
      std::optional<PropertyList> comment = parsePropertyList(value, &failure);
      if (!comment) {
        log("Error decoding comment: %@", failure);
      } else if (const std::string* text = comment->string()) {
        item.setValueForKey("comments", *text);
      }
      continue;
    }
    if (path && !storeServiceAttribute(*path, key, value, error)) return false;
  }
  return true;
}

bool applyTypeAndCreatorToItem(Item& item, uint64_t codes, const std::optional<std::string>& path, Error* error) {
  const auto typeCode = static_cast<uint32_t>(codes & 0xFFFFFFFFu);
  const auto creatorCode = static_cast<uint32_t>(codes >> 32);
  if (path && !(setTypeCode(*path, typeCode, error) && setCreatorCode(*path, creatorCode, error))) return false;
  item.setValueForKey("fileTypeCode", static_cast<int64_t>(static_cast<int32_t>(typeCode)));
  item.setValueForKey("fileCreatorCode", static_cast<int64_t>(static_cast<int32_t>(creatorCode)));
  return true;
}

}  // namespace qlt
