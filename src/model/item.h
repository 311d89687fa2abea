#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "platform/date.h"
#include "platform/property_list.h"
#include "store/library/library_object.h"

namespace qlt {

// A note, web link or imported document of the library (entity "Item").
// Dates, type and source go through the typed setters below so that the
// values derived from them stay right; other attributes are set by key.
class Folder;

class Item : public LibraryObject {
 public:
  // A filename for this item in `folder` that no other item there and no
  // plain subfolder uses (equal as file names), numbered "B n" when needed,
  // and sanitized.
  std::string uniqueFilename(const std::string& filename, const Folder& folder) const;

  // Empty when unset.
  std::string name() const;
  std::string filename() const;
  std::string fileType() const;
  std::string highLevelFileType() const;
  int64_t fileProviderIdentifierVersion() const;

  std::optional<Date> dateAdded() const;
  std::optional<Date> dateCreated() const;
  std::optional<Date> dateModified() const;
  std::optional<Date> dateLastViewed() const;
  std::optional<Date> mostRecentDate() const;

  // Each recomputes mostRecentDate. A dateModified at least one second away
  // from the stored one (or the first one) also marks metadata and
  // indexing as still to do.
  void setDateAdded(Date date);
  void setDateCreated(Date date);
  void setDateModified(Date date);
  void setDateLastViewed(std::optional<Date> date);

  // A new type (empty clears it) bumps fileProviderIdentifierVersion when
  // the item turns from a plain file into a package or back, and sets
  // highLevelFileType to the first of image, movie, video, audio and plain
  // text that the type conforms to.
  void setFileType(const std::string& type);

  // `url` is the URL's text, escapes included; `source` keeps it without
  // percent escapes (or unchanged when they do not decode to UTF-8).
  // nullopt or empty clears both.
  void setSourceURL(const std::optional<std::string>& url);
  // The URL parsed from `source`, percent-encoded first when it does not
  // parse as it is; nullopt when `source` is empty or cannot be made a URL.
  std::optional<std::string> sourceURL() const;

  // Viewing state, kept as a secure keyed archive in stateInfoData. nullopt
  // when none is stored or the archive cannot be read (which is logged).
  std::optional<PropertyListDictionary> stateInfo() const;
  // Nothing happens when `info` equals the current state; nullopt (or a
  // value that cannot be archived) stores nil, also over data that cannot
  // be read.
  void setStateInfo(const std::optional<PropertyListDictionary>& info);

 protected:
  void awakeFromInsert() override;
  void awakeFromFetch() override;

 private:
  std::optional<Date> dateForKey(const char* key) const;
  std::string stringForKey(const char* key) const;
  void updateMostRecentDate();

  // Each cache holds the stored value it was derived from and is used only
  // while that value is unchanged, so merges, rollbacks and refreshes
  // cannot make it stale.
  mutable std::optional<std::pair<std::string, std::optional<std::string>>> cachedSourceURL_;
  mutable std::optional<std::pair<Bytes, std::optional<PropertyListDictionary>>> cachedStateInfo_;
};

}  // namespace qlt
