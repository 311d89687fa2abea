#pragma once

#include <string>
#include <string_view>

namespace qlt::keyed_archive {

inline constexpr const char* kArchiverKey = "$archiver";
inline constexpr const char* kArchiverName = "NSKeyedArchiver";
inline constexpr const char* kVersionKey = "$version";
inline constexpr long kVersion = 100000;
inline constexpr const char* kTopKey = "$top";
inline constexpr const char* kObjectsKey = "$objects";
inline constexpr const char* kNullObject = "$null";
inline constexpr const char* kClassKey = "$class";
inline constexpr const char* kClassNameKey = "$classname";
inline constexpr const char* kClassesKey = "$classes";
inline constexpr const char* kRootKey = "root";

inline constexpr const char* kObjectsField = "NS.objects";
inline constexpr const char* kKeysField = "NS.keys";
inline constexpr const char* kTimeField = "NS.time";
inline constexpr const char* kStringField = "NS.string";
inline constexpr const char* kDataField = "NS.data";

inline constexpr int kMaximumDepth = 512;

// Keys of our own that begin with '$' get one more, keeping them apart from
// the archive's reserved keys.
inline std::string escapedKey(std::string_view key) {
  std::string escaped;
  if (key.starts_with('$')) escaped.push_back('$');
  escaped.append(key);
  return escaped;
}

}  // namespace qlt::keyed_archive
