#include "model/file_move_journal.h"
#include "model/item.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "model/cloud_share.h"
#include "model/folder.h"
#include "platform/files/file_path.h"
#include "platform/foundation/archive_object.h"
#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/keyed_unarchiver.h"
#include "platform/foundation/log.h"
#include "platform/foundation/property_list_unicode.h"
#include "platform/foundation/uniform_type.h"
#include "util/filename_rules.h"

namespace qlt {
namespace {

constexpr int64_t kCloudFileUploadStatusUploaded = 2;

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool isEscapeAt(std::string_view text, size_t i) {
  return text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0;
}

// Unreserved and reserved characters of a URI; '#' is handled apart since
// only one may appear.
bool isURLCharacter(unsigned char c) {
  if (std::isalnum(c)) return true;
  return std::string_view("-._~:/?[]@!$&'()*+,;=").find(static_cast<char>(c)) != std::string_view::npos;
}

bool hasValidScheme(std::string_view text) {
  size_t end = text.find_first_of(":/?#");
  if (end == std::string_view::npos || text[end] != ':') return true;
  if (end == 0 || !std::isalpha(static_cast<unsigned char>(text[0]))) return false;
  return std::all_of(text.begin(), text.begin() + static_cast<long>(end), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
  });
}

bool parsesAsURL(std::string_view text) {
  bool fragment = false;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '%') {
      if (!isEscapeAt(text, i)) return false;
      i += 2;
    } else if (c == '#') {
      if (fragment) return false;
      fragment = true;
    } else if (!isURLCharacter(c)) {
      return false;
    }
  }
  return hasValidScheme(text);
}

std::string addingPercentEncoding(std::string_view text) {
  static const char* kHex = "0123456789ABCDEF";
  std::string result;
  bool fragment = false;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    bool keep = isURLCharacter(c) || isEscapeAt(text, i) || (c == '#' && !fragment);
    if (c == '#' && keep) fragment = true;
    if (keep) {
      result += static_cast<char>(c);
    } else {
      result += '%';
      result += kHex[c >> 4];
      result += kHex[c & 0xF];
    }
  }
  return result;
}

// nullopt for a malformed escape, an escaped NUL or a result that is not
// UTF-8.
std::optional<std::string> removingPercentEncoding(std::string_view text) {
  std::string result;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      result += text[i];
      continue;
    }
    if (!isEscapeAt(text, i)) return std::nullopt;
    char byte = static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
    if (byte == '\0') return std::nullopt;
    result += byte;
    i += 2;
  }
  if (!isValidUTF8(result)) return std::nullopt;
  return result;
}

std::optional<ArchiveObject> archiveObject(const PropertyList& value) {
  switch (value.type()) {
    case PropertyList::Type::String:
      return ArchiveObject(*value.string());
    case PropertyList::Type::Integer:
      return ArchiveObject(static_cast<long long>(*value.integer()));
    case PropertyList::Type::Real:
      return ArchiveObject(*value.real());
    case PropertyList::Type::Boolean:
      return ArchiveObject(*value.boolean());
    case PropertyList::Type::Date:
      return ArchiveObject(*value.date());
    case PropertyList::Type::Data:
      return ArchiveObject(*value.data());
    case PropertyList::Type::Array: {
      ArchiveArray array;
      for (const PropertyList& element : *value.array()) {
        auto converted = archiveObject(element);
        if (!converted) return std::nullopt;
        array.elements.push_back(std::move(*converted));
      }
      return ArchiveObject(std::move(array));
    }
    case PropertyList::Type::Dictionary: {
      ArchiveDictionary dictionary;
      for (const auto& [key, element] : *value.dictionary()) {
        auto converted = archiveObject(element);
        if (!converted) return std::nullopt;
        dictionary.entries.emplace_back(ArchiveObject(key), std::move(*converted));
      }
      return ArchiveObject(std::move(dictionary));
    }
    case PropertyList::Type::UID:
      return std::nullopt;
  }
  return std::nullopt;
}

std::optional<PropertyList> propertyList(const ArchiveObject& value) {
  switch (value.type()) {
    case ArchiveObject::Type::String:
      return PropertyList(*value.string());
    case ArchiveObject::Type::Integer:
      return PropertyList(static_cast<long long>(*value.integer()));
    case ArchiveObject::Type::Real:
      return PropertyList(*value.real());
    case ArchiveObject::Type::Boolean:
      return PropertyList(*value.boolean());
    case ArchiveObject::Type::Date:
      return PropertyList(*value.date());
    case ArchiveObject::Type::Data:
      return PropertyList(*value.data());
    case ArchiveObject::Type::Array: {
      PropertyListArray array;
      for (const ArchiveObject& element : value.array()->elements) {
        auto converted = propertyList(element);
        if (!converted) return std::nullopt;
        array.push_back(std::move(*converted));
      }
      return PropertyList(std::move(array));
    }
    case ArchiveObject::Type::Dictionary: {
      PropertyListDictionary dictionary;
      for (const auto& [key, element] : value.dictionary()->entries) {
        auto converted = propertyList(element);
        if (!key.string() || !converted) return std::nullopt;
        dictionary[*key.string()] = std::move(*converted);
      }
      return PropertyList(std::move(dictionary));
    }
    default:
      return std::nullopt;
  }
}

std::optional<PropertyListDictionary> decodeStateInfo(const Bytes& data) {
  static const ClassNameSet kAllowed = {"NSDictionary", "NSArray", "NSString", "NSNumber", "NSDate", "NSData"};
  Error error;
  auto root = KeyedUnarchiver::unarchivedObject(data, kAllowed, &error);
  if (!root) {
    log("Couldn't unarchive stateInfo: %@", error.description());
    return std::nullopt;
  }
  if (root->isNil()) return std::nullopt;
  std::optional<PropertyList> converted;
  if (root->dictionary()) converted = propertyList(*root);
  if (!converted || !converted->dictionary()) {
    log("Couldn't unarchive stateInfo: %@", "the archive does not hold a dictionary of property-list values");
    return std::nullopt;
  }
  return std::move(*converted->dictionary());
}

}  // namespace

std::string Item::stringForKey(const char* key) const {
  Value value = valueForKey(key);
  return value.string() ? *value.string() : std::string();
}

std::optional<Date> Item::dateForKey(const char* key) const {
  Value value = valueForKey(key);
  if (!value.date()) return std::nullopt;
  return *value.date();
}

std::string Item::name() const {
  std::string stored = stringForKey("name");
  if (!stored.empty()) return stored;
  // Without a stored name the filename stands in, as the file manager
  // would show it.
  std::string file = filename();
  return extensionHidden() ? deletingPathExtension(file) : file;
}
std::string Item::filename() const { return stringForKey("filename"); }
std::string Item::fileType() const { return stringForKey("fileType"); }
std::string Item::highLevelFileType() const { return stringForKey("highLevelFileType"); }

int64_t Item::fileProviderIdentifierVersion() const {
  Value value = valueForKey("fileProviderIdentifierVersion");
  return value.integer() ? *value.integer() : 0;
}

std::optional<Date> Item::dateAdded() const { return dateForKey("dateAdded"); }
std::optional<Date> Item::dateCreated() const { return dateForKey("dateCreated"); }
std::optional<Date> Item::dateModified() const { return dateForKey("dateModified"); }
std::optional<Date> Item::dateLastViewed() const { return dateForKey("dateLastViewed"); }
std::optional<Date> Item::mostRecentDate() const { return dateForKey("mostRecentDate"); }

void Item::awakeFromInsert() {
  LibraryObject::awakeFromInsert();
  Date now = Date::now();
  setValueForKey("dateCreated", now);
  setValueForKey("dateModified", now);
  setValueForKey("dateAdded", now);
  updateMostRecentDate();
}

void Item::awakeFromFetch() {
  LibraryObject::awakeFromFetch();
  if (valueForKey("cloudUploadCompleted").boolValue() && valueForKey("cloudLastUploadedModificationDate").isNull()) {
    setValueForKey("cloudLastUploadedModificationDate", valueForKey("dateModified"));
    setValueForKey("cloudFileUploadStatus", kCloudFileUploadStatusUploaded);
  }
}

void Item::updateMostRecentDate() {
  std::optional<Date> latest;
  for (const char* key : {"dateAdded", "dateCreated", "dateModified", "dateLastViewed"}) {
    std::optional<Date> date = dateForKey(key);
    if (date && (!latest || *date > *latest)) latest = date;
  }
  if (latest) {
    setValueForKey("mostRecentDate", *latest);
  } else {
    setValueForKey("mostRecentDate", Value());
  }
}

void Item::setDateAdded(Date date) {
  setValueForKey("dateAdded", date);
  updateMostRecentDate();
}

void Item::setDateCreated(Date date) {
  setValueForKey("dateCreated", date);
  updateMostRecentDate();
}

void Item::setDateModified(Date date) {
  std::optional<Date> stored = dateModified();
  if (!stored || !stored->matchesToTheSecond(date)) {
    setValueForKey("metadataState", 0);
    setValueForKey("indexingState", 0);
  }
  setValueForKey("dateModified", date);
  updateMostRecentDate();
}

void Item::setDateLastViewed(std::optional<Date> date) {
  if (date) {
    setValueForKey("dateLastViewed", *date);
  } else {
    setValueForKey("dateLastViewed", Value());
  }
  updateMostRecentDate();
}

void Item::setFileType(const std::string& type) {
  std::string stored = fileType();
  if (type == stored) return;
  const UniformType* oldType = UniformType::withIdentifier(stored);
  const UniformType* newType = UniformType::withIdentifier(type);
  if (oldType && newType &&
      oldType->conformsTo(UniformType::package()) != newType->conformsTo(UniformType::package()))
    setValueForKey("fileProviderIdentifierVersion", fileProviderIdentifierVersion() + 1);
  if (type.empty()) {
    setValueForKey("fileType", Value());
  } else {
    setValueForKey("fileType", type);
  }
  std::string highLevel = highLevelFileTypeForType(type);
  if (!highLevel.empty()) {
    setValueForKey("highLevelFileType", highLevel);
  } else {
    setValueForKey("highLevelFileType", Value());
  }
}

std::string Item::highLevelFileTypeForType(const std::string& type) {
  const UniformType* uniform = UniformType::withIdentifier(type);
  if (!uniform) return {};
  for (const UniformType* candidate : {&UniformType::image(), &UniformType::movie(), &UniformType::video(),
                                       &UniformType::audio(), &UniformType::plainText()})
    if (uniform->conformsTo(*candidate)) return candidate->identifier();
  return {};
}

void Item::setSourceURL(const std::optional<std::string>& url) {
  if (!url || url->empty()) {
    cachedSourceURL_.reset();
    setValueForKey("source", Value());
    return;
  }
  std::string source = removingPercentEncoding(*url).value_or(*url);
  setValueForKey("source", source);
  cachedSourceURL_.emplace(std::move(source), *url);
}

std::optional<std::string> Item::sourceURL() const {
  std::string source = stringForKey("source");
  if (source.empty()) return std::nullopt;
  if (cachedSourceURL_ && cachedSourceURL_->first == source) return cachedSourceURL_->second;
  std::optional<std::string> url;
  if (parsesAsURL(source)) {
    url = source;
  } else if (std::string encoded = addingPercentEncoding(source); parsesAsURL(encoded)) {
    url = std::move(encoded);
  }
  cachedSourceURL_.emplace(std::move(source), url);
  return url;
}

std::optional<PropertyListDictionary> Item::stateInfo() const {
  Value data = valueForKey("stateInfoData");
  if (!data.data()) return std::nullopt;
  if (!cachedStateInfo_ || cachedStateInfo_->first != *data.data())
    cachedStateInfo_.emplace(*data.data(), decodeStateInfo(*data.data()));
  return cachedStateInfo_->second;
}

void Item::setStateInfo(const std::optional<PropertyListDictionary>& info) {
  if (info && info == stateInfo()) return;
  std::optional<Bytes> data;
  if (info) {
    Error error;
    auto root = archiveObject(PropertyList(*info));
    if (root) data = KeyedArchiver::archivedData(*root, true, &error);
    if (!root) log("Couldn't archive stateInfo: %@", "it holds a value that is not a property-list value");
    if (root && !data) log("Couldn't archive stateInfo: %@", error.description());
  }
  if (data) {
    setValueForKey("stateInfoData", *data);
    cachedStateInfo_.emplace(std::move(*data), info);
  } else {
    setValueForKey("stateInfoData", Value());
    cachedStateInfo_.reset();
  }
}

std::string Item::uniqueFilename(const std::string& filename, const Folder& folder) const {
  // Shared with this user alone, the file lives in a directory of its own.
  if (decodedCloudShare(*this) && !isItemLocalRecord(*this)) return filename;
  return qlt::uniqueFilename(filename, [&](const std::string& candidate) {
    if (std::shared_ptr<Item> other = folder.itemWithFilename(candidate, this);
        other && other->identifier() != identifier())
      return true;
    Folder::Ptr subfolder = folder.subfolderWithName(candidate);
    return subfolder != nullptr;
  });
}

void Item::didSave() {
  LibraryObject::didSave();
  // Saved but not deleted, though a deletion set it aside (and was then
  // rolled back): back where the row says.
  if (!isDeleted()) (void)FileMoveJournal::putBack(identifier(), fileURL());
  FileMoveJournal::finish(identifier(), isDeleted());
}

}  // namespace qlt
