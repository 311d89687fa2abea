#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/cloud/cloud_record.h"
#include "platform/foundation/date.h"
#include "platform/fileprovider/file_provider_item.h"
#include "platform/foundation/property_list.h"
#include "model/item_error.h"
#include "store/library_object.h"
#include "util/file_snapshot.h"

namespace qlt {

// A note, web link or imported document of the library (entity "Item").
// Dates, type and source go through the typed setters below so that the
// values derived from them stay right; other attributes are set by key.
class Folder;
class Group;
class CloudRecord;
class Library;
class Stationery;
class URLComponents;
class AttributedString;
class UniformType;

// Creation from nothing without a filename, and file import without a file.
inline constexpr const char* kItemCreationErrorDomain = "QLTItemCreationErrorDomain";
inline constexpr long kItemCreationNoFileErrorCode = 10001;
inline constexpr long kItemCreationNoFilenameErrorCode = 10002;
// Standard defaults read when items are made from stationery.
inline constexpr const char* kAutoRenameStationeryKey = "QLTAutoRenameStationery";

inline constexpr const char* kItemCloudFileAssetKey = "itemAssetFile";
inline constexpr const char* kItemCloudFileIsArchiveKey = "itemFileIsArchive";
inline constexpr const char* kItemCloudErrorDomain = "QLTItemCloudErrorDomain";
inline constexpr long kItemCloudNoDestinationErrorCode = 10001;
inline constexpr long kItemCloudNoFileErrorCode = 10002;

inline constexpr const char* kItemNameDidChangeNotification = "QLTItemNameDidChangeNotification";
inline constexpr const char* kItemFilenameDidChangeNotification = "QLTItemFilenameDidChangeNotification";
inline constexpr const char* kItemFavoriteDidChangeNotification = "QLTItemFavoriteDidChangeNotification";
inline constexpr const char* kItemWillBeDeletedNotification = "QLTItemWillBeDeletedNotification";
inline constexpr const char* kItemFolderDidChangeNotification = "QLTItemFolderDidChangeNotification";

class Item : public LibraryObject {
 public:
  using Ptr = std::shared_ptr<Item>;

  // Factories. Each inserts a new item into the context of `library`, picks
  // its filename and folder (the items folder of `group`), puts its file in
  // place, fills its attributes from the file and places it in the library
  // group and in `group` when that takes new items. Nothing is saved. On
  // failure the item is deleted from the context again, no file of it is
  // left in the library, and the error says why. REQUIRES: on the
  // context's queue.
  [[nodiscard]] static Ptr newNoteItemInLibrary(const std::shared_ptr<Library>& library, const ManagedObjectPtr& group,
                                                Error* error = nullptr);
  [[nodiscard]] static Ptr newWebLinkItemWithURL(const URLComponents& url, const std::string& name,
                                                 const std::shared_ptr<Library>& library, const ManagedObjectPtr& group,
                                                 Error* error = nullptr);
  // Imports a copy of the file (a package is copied whole). Symbolic
  // links, aliases and hidden files are refused, as is anything that is
  // neither a file nor a directory. With `type`, a file whose extension
  // does not fit the type gets the type's extension appended (hidden).
  [[nodiscard]] static Ptr newItemWithFileURL(const std::string& path, const std::shared_ptr<Library>& library,
                                              const ManagedObjectPtr& group, Error* error = nullptr);
  [[nodiscard]] static Ptr newItemWithFileURLOfType(const std::string& path, const UniformType* type,
                                                    const std::shared_ptr<Library>& library,
                                                    const ManagedObjectPtr& group, Error* error = nullptr);
  // An item of exactly `itemFilename` in the items folder of `group`, from
  // a copy of the file at `path` or, without one, with no file at all. A
  // name an item or subfolder of that folder already uses is refused.
  [[nodiscard]] static Ptr newItemWithFileURLItemFilename(const std::optional<std::string>& path,
                                                          const std::string& itemFilename,
                                                          const std::shared_ptr<Library>& library,
                                                          const ManagedObjectPtr& group, Error* error = nullptr);
  // Plain-text and HTML files may first become notes (see
  // NoteFile::shouldConvertFileURL).
  [[nodiscard]] static Ptr newItemWithFileURLConvertToNoteIfNecessary(const std::string& path, bool convert,
                                                                      const std::shared_ptr<Library>& library,
                                                                      const ManagedObjectPtr& group,
                                                                      Error* error = nullptr);
  [[nodiscard]] static Ptr newNoteItemFromString(const std::string& text, const std::shared_ptr<Library>& library,
                                                 const ManagedObjectPtr& group, Error* error = nullptr);
  [[nodiscard]] static Ptr newNoteItemFromAttributedString(const AttributedString& text,
                                                           const std::shared_ptr<Library>& library,
                                                           const ManagedObjectPtr& group, Error* error = nullptr);
  // A note, rich-text or plain-text file holding `text`; nullptr without an
  // error for any other type.
  [[nodiscard]] static Ptr newItemWithType(const std::string& type, const std::string& text,
                                           const std::shared_ptr<Library>& library, const ManagedObjectPtr& group,
                                           Error* error = nullptr);
  // A copy of the stationery's file, dated now; with text, the text appended
  // (the item then named after the text unless kAutoRenameStationeryKey is
  // 2 or more).
  [[nodiscard]] static Ptr newItemWithStationery(const std::shared_ptr<Stationery>& stationery,
                                                 const std::shared_ptr<Library>& library, const ManagedObjectPtr& group,
                                                 Error* error = nullptr);
  [[nodiscard]] static Ptr newItemWithStationery(const std::shared_ptr<Stationery>& stationery, const std::string& text,
                                                 const std::shared_ptr<Library>& library, const ManagedObjectPtr& group,
                                                 Error* error = nullptr);
  [[nodiscard]] static Ptr newItemWithStationery(const std::shared_ptr<Stationery>& stationery,
                                                 const AttributedString& text, const std::shared_ptr<Library>& library,
                                                 const ManagedObjectPtr& group, Error* error = nullptr);
  // The URL a web-link file points to; nullopt for other files and on any
  // read error.
  [[nodiscard]] static std::optional<std::string> sourceURLFromFileAtURL(const std::string& path);
  // "Note", "Web Link", "Encrypted File", else the type's description;
  // empty for no type.
  static std::string kindStringForFileType(const std::string& type);

  // A filename for this item in `folder` that no other item there and no
  // plain subfolder uses (equal as file names), numbered "B n" when needed,
  // and always sanitized; empty when the filename sanitizes to nothing.
  std::string uniqueFilename(const std::string& filename, const Folder& folder) const;

  std::shared_ptr<Folder> folder() const;

  // Whether the item may go to `folder` under `filename` (empty: its
  // current one). Refusals are kItemErrorDomain errors; a clash with another
  // item names that item's identifier under
  // kItemExistingItemErrorUserInfoKey, one with a subfolder holds the folder
  // (a ManagedObjectPtr) under kItemExistingFolderErrorUserInfoKey.
  [[nodiscard]] bool canMoveToFolder(const Folder& folder, const std::string& filename,
                                     Error* error = nullptr) const;
  [[nodiscard]] bool canMoveToFolder(const Folder& folder, Error* error = nullptr) const {
    return canMoveToFolder(folder, filename(), error);
  }
  // Whether the item may join `group`: it must be able to move to the
  // folder that holds the group's items. A group other than a folder or the
  // library group leaves an item outside the trash in its current folder.
  [[nodiscard]] bool canAddToGroup(const Group& group, Error* error = nullptr) const;

  // Moves the item (and, for a library item whose file exists, its file)
  // to `folder` under `filename` (empty: its current one), after
  // canMoveToFolder. Into the trash the name is made unique there, the
  // item leaves its groups and gets its deletion date; out of it, it
  // rejoins the library group. A file already at the destination that no
  // item owns goes to the user's trash first. Nothing in the database
  // changes when the file cannot be moved.
  [[nodiscard]] bool moveToFolder(const std::shared_ptr<Folder>& folder, const std::string& filename,
                                  Error* error = nullptr);
  [[nodiscard]] bool moveToFolder(const std::shared_ptr<Folder>& folder, Error* error = nullptr) {
    return moveToFolder(folder, filename(), error);
  }
  // Moves the item to the folder canAddToGroup chose (keeping its
  // filename) and adds it to `group`.
  [[nodiscard]] bool addToGroup(const std::shared_ptr<Group>& group, Error* error = nullptr);
  void removeFromAllGroups();

  // Whether the item may be called `newName`: its filename then (the
  // current extension kept unless the name brings its own) must not clash
  // with another item or a plain subfolder of its folder.
  [[nodiscard]] bool canChangeName(const std::string& newName, Error* error = nullptr) const;
  // Renames the item and its file (sanitized; the extension shown or hidden
  // as the new name says). Callers run canChangeName first. A file of the
  // new name that is not the item's own goes to the user's trash first;
  // nothing in the database changes when the file cannot be renamed.
  [[nodiscard]] bool changeName(const std::string& newName, Error* error = nullptr);
  // Renames the item to its filename made unique in `folder`.
  [[nodiscard]] bool makeFilenameUniqueInFolder(const Folder& folder, Error* error = nullptr);
  // Stores a different filename and takes the file's type from it.
  void setFilename(const std::string& filename);
  // Stores a change, marks the file to match and derives the name again.
  void setExtensionHidden(bool hidden);

  // Gives the item's shared-item record, when it has one, the identifier of
  // the item's current folder (none without a folder).
  void updateCloudSharedItemForFolder();
  // Each changes the item, then hands the new value to its shared item
  // when it has one (the whole group list for any change of groups); a
  // change of favourite is also announced.
  void setLabel(const ManagedObjectPtr& label);
  void setFavorite(bool favorite);
  void setGroups(const std::vector<ManagedObjectPtr>& groups);
  void addGroupsObject(const ManagedObjectPtr& group);
  void removeGroupsObject(const ManagedObjectPtr& group);
  // After the item's tags changed: the shared item takes the new tags.
  void tagsDidChange();

  // Refreshes dates, name, hidden extension, tags and size from the item's
  // file, and clears the file's immutable flag. Fails only when the file's
  // attributes cannot be read.
  [[nodiscard]] bool updateMetadataFromFile(Error* error = nullptr);
  // The path of the item's file: `filename` in its folder's directory, or,
  // for an item shared to this user by someone else, in a directory named by
  // its identifier inside the shared folder's (created when missing).
  // nullopt without a filename or a place; a filename or identifier that is
  // not one plain path component is refused with the error.
  [[nodiscard]] std::optional<std::string> fileURL(Error* error = nullptr) const;
  bool fileExists() const;
  // The item's file as the answers below see it, read from the disk once
  // (they read it themselves when not given it).
  struct FileState {
    std::optional<std::string> path;
    FileSnapshot snapshot;
  };
  FileState fileState() const;

  // Sharing. The share is the system fields archived in cloudShareData.
  [[nodiscard]] std::optional<RecordSystemFields> cloudShare() const;
  // Its own share lives in the library's zone, or, without a share of its
  // own, its folder is a local record; an item without a folder is not.
  bool isLocalRecord() const;
  bool isShared() const;
  bool isFavorite() const { return valueForKey("favorite").boolValue(); }
  bool extensionHidden() const { return valueForKey("extensionHidden").boolValue(); }
  // Whether the library this item belongs to keeps its records in the
  // cloud database.
  bool libraryStoresInCloudDatabase() const;

  // Answers to the file-provider service (see FileProviderItem).
  std::string fileProviderItemIdentifier() const override;
  std::string parentItemIdentifier() const;
  uint64_t capabilities() const;
  // The type of fileType, else of the filename's extension, else generic
  // data.
  std::string contentType() const;
  [[nodiscard]] std::optional<uint64_t> documentSize() const;
  // The file's Finder tags when it has them, else the stored tag data.
  [[nodiscard]] std::optional<Bytes> tagData() const { return tagData(fileState()); }
  [[nodiscard]] std::optional<Bytes> tagData(const FileState& file) const;
  FileProviderItemVersion itemVersion() const;
  std::map<std::string, Bytes> extendedAttributes() const { return extendedAttributes(fileState()); }
  std::map<std::string, Bytes> extendedAttributes(const FileState& file) const;
  bool isUploaded() const;
  bool isUploading() const;
  bool isDownloaded() const { return isDownloaded(fileState()); }
  bool isDownloaded(const FileState& file) const;
  bool isDownloading() const;
  bool isMostRecentVersionDownloaded() const { return isMostRecentVersionDownloaded(fileState()); }
  bool isMostRecentVersionDownloaded(const FileState& file) const;

  // Downloads: the record keys a download needs, and writing a downloaded
  // record's file into the item's place (restoring archives of packages),
  // unless the file on disk is newer. Sets the transfer state either way.
  static std::vector<std::string> desiredKeysForAssetDownloads();
  [[nodiscard]] bool updateFileFromRecord(const CloudRecord& record, Error* error = nullptr);

  // The filename (without its extension when hidden) when no name is
  // stored; the others are empty when unset.
  std::string name() const;
  std::string filename() const;
  std::string fileType() const;
  std::string highLevelFileType() const;
  int64_t fileProviderIdentifierVersion() const;

  [[nodiscard]] std::optional<Date> dateAdded() const;
  [[nodiscard]] std::optional<Date> dateCreated() const;
  [[nodiscard]] std::optional<Date> dateModified() const;
  [[nodiscard]] std::optional<Date> dateLastViewed() const;
  [[nodiscard]] std::optional<Date> mostRecentDate() const;

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
  // The first of image, movie, video, audio and plain text that `type`
  // conforms to; empty for none.
  static std::string highLevelFileTypeForType(const std::string& type);

  // `url` is the URL's text, escapes included; `source` keeps it without
  // percent escapes (or unchanged when they do not decode to UTF-8).
  // nullopt or empty clears both.
  void setSourceURL(const std::optional<std::string>& url);
  // The URL parsed from `source`, percent-encoded first when it does not
  // parse as it is; nullopt when `source` is empty or cannot be made a URL.
  [[nodiscard]] std::optional<std::string> sourceURL() const;

  // Viewing state, kept as a secure keyed archive in stateInfoData. nullopt
  // when none is stored or the archive cannot be read (which is logged).
  [[nodiscard]] std::optional<PropertyListDictionary> stateInfo() const;
  // Nothing happens when `info` equals the current state; nullopt (or a
  // value that cannot be archived) stores nil, also over data that cannot
  // be read.
  void setStateInfo(const std::optional<PropertyListDictionary>& info);

  // Cloud record: the folder's record as parent when it is a plain folder,
  // no thumbnail over kItemCloudMaxThumbnailLength bytes, and the
  // text-recognition data as an asset while it waits for upload.
  void didSave() override;
  void updateRecordWithCurrentValues(CloudRecord& record) const override;
  // Adds kItemCloudTextRecognitionDataNeedsUploadKey when the
  // text-recognition data changed and waits for upload.
  std::set<std::string> changedCloudRecordKeysForUpdatedProperties(
      const std::vector<const PropertyDescription*>& properties,
      const std::optional<std::map<std::string, Value>>& changedValues) const override;
  using LibraryObject::changedCloudRecordKeysForUpdatedProperties;

  // Links of the application's scheme naming this item; the second records
  // the item the link is placed in.
  std::string itemLinkURL() const;
  std::string itemLinkFromItemWithIdentifier(const std::string& identifier) const;
  // The item named by the URL's first "item" query item, in `context`.
  static std::shared_ptr<Item> itemFromLinkURL(const std::string& url, ManagedObjectContext& context);
  // What the item hands to sharing services: its name and link when the
  // user default kItemSharingIncludeItemLinkKey is on; else a web link's
  // name and source, a note's text ready for export, or the file.
  struct SharingItem {
    enum class Kind { Text, URL, File };
    Kind kind;
    std::string value;
    bool operator==(const SharingItem&) const = default;
  };
  std::vector<SharingItem> sharingItems() const;
  [[nodiscard]] std::optional<std::string> fileURLForSharingPicker() const { return fileURL(); }
  // After a save that should have deleted this item failed and the context
  // was rolled back: its file, set aside for the deletion, goes back where
  // its row says it is.
  void deletionWasNotSaved();

 protected:
  void awakeFromInsert() override;
  void awakeFromFetch() override;
  // Removes the item's file (not to the user's trash).
  void prepareForDeletion() override;


 private:
  // Where canAddToGroup and addToGroup put the item.
  std::shared_ptr<Folder> destinationForGroup(const Group& group) const;
  // Posted only from a main-queue context.
  void postIfInMainQueueContext(const char* notification);
  // Puts a file that stands where the item's file is to go into the user's
  // trash; false with the error when it cannot be moved.
  [[nodiscard]] static bool trashFileInTheWay(const std::string& path, const char* logFormat, Error* error);

  [[nodiscard]] std::optional<Date> dateForKey(const char* key) const;
  std::string stringForKey(const char* key) const;
  void updateMostRecentDate();

  // Each cache holds the stored value it was derived from and is used only
  // while that value is unchanged, so merges, rollbacks and refreshes
  // cannot make it stale.
  mutable std::optional<std::pair<std::string, std::optional<std::string>>> cachedSourceURL_;
  mutable std::optional<std::pair<Bytes, std::optional<PropertyListDictionary>>> cachedStateInfo_;
};

}  // namespace qlt
