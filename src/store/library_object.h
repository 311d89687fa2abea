#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/cloud/cloud_record.h"
#include "platform/foundation/property_list.h"
#include "platform/objectstore/managed_object.h"

namespace qlt {

class ManagedObjectContext;
class PropertyDescription;

// Extended attributes every file-provider descriptor carries.
inline constexpr const char* kLibraryObjectIdentifierXAttrName = "com.quillet.identifier";
inline constexpr const char* kLibraryObjectIsRemoteShareXAttrName = "com.quillet.isRemoteShare";

// What every persistent object of the library shares: an identifier that
// never changes, a name in the cloud database ("<Entity>|<identifier>"),
// the model-driven property-list form, metadata and deep copy, and lookups
// by entity and identifier. Everything here follows the model and its
// annotations; no attribute is named but identifier, dateRecordChanged,
// cloudRecordData, cloudShareData and the cloud record.
class LibraryObject : public ManagedObject {
 public:
  using Ptr = std::shared_ptr<LibraryObject>;

  // A new random identifier: an upper-case UUID.
  static std::string newIdentifier();
  // The identifier given on insertion: fixed for system objects, else new.
  virtual std::string defaultIdentifier() const;
  std::string identifier() const;
  [[nodiscard]] std::optional<Date> dateRecordChanged() const;
  void setDateRecordChanged(Date date);
  // Depth in the folder tree; 0 but for folders and items.
  virtual unsigned depth() const { return 0; }
  // What a fetch for enumeration loads up front.
  static std::vector<std::string> propertiesToFetch() { return {"identifier"}; }

  // Cloud identity.
  std::string cloudRecordName() const;
  // The zone of the stored record, else the library's.
  RecordZoneID recordZoneID() const;
  virtual RecordID cloudRecordID() const;
  // The cached record, else the one whose system fields are stored, else a
  // new record of this entity; its fields always refreshed from the current
  // values first.
  CloudRecord cloudRecord() const;
  // Caches the record and keeps its system fields in cloudRecordData;
  // nullopt clears both.
  void setCloudRecord(const std::optional<CloudRecord>& record);
  void setCloudRecord(const RecordSystemFields& systemFields) { setCloudRecord(CloudRecord(systemFields)); }
  // Writes every attribute and relationship that takes part in the cloud
  // into `record`: attributes by value, to-one relationships as references,
  // many-to-many ones as reference lists sorted by identifier.
  virtual void updateRecordWithCurrentValues(CloudRecord& record) const;

  // The field names that changed. With `changedValues`, attributes count
  // when their value really differs from the committed one and
  // relationships when a new value is present and differs; without, every
  // property taking part in the cloud counts.
  virtual std::set<std::string> changedCloudRecordKeysForUpdatedProperties(
      const std::vector<const PropertyDescription*>& properties,
      const std::optional<std::map<std::string, Value>>& changedValues) const;
  std::set<std::string> changedCloudRecordKeysForUpdatedProperties(
      const std::vector<const PropertyDescription*>& properties) const {
    return changedCloudRecordKeysForUpdatedProperties(properties, std::nullopt);
  }
  std::set<std::string> changedCloudRecordKeysForChangedValues(const std::map<std::string, Value>& changedValues) const;

  // The record to send after a server-record-changed error (whose user info
  // holds both sides): the server record with the client's values of the
  // locally changed names, except those the server changed more recently.
  // nullopt when the error carries no server record.
  [[nodiscard]] virtual std::optional<CloudRecord> mergeChangesForServerRecordChange(const Error& error,
                                                                       const std::set<std::string>& changedKeys) const;
  // Every record that deleting this object cascades to, recursively.
  std::set<RecordID> childRecordIDs() const;

  // The ordering rank of the entity in the shared manager's model; 0 for
  // an unknown entity or one without a rank.
  static int64_t cloudOrderingForEntityWithName(const std::string& entityName);
  // Containers before contents: by rank, then by depth of the objects in
  // `context` (items, attachments, tags and labels of one type stay equal).
  static std::vector<CloudRecord> sortedCloudRecords(const std::vector<CloudRecord>& records,
                                                     ManagedObjectContext& context);
  static std::vector<RecordID> sortedCloudRecordIDs(const std::vector<RecordID>& recordIDs, bool ascending,
                                                    ManagedObjectContext& context);

  // Applying records. The object a record stands for: the system object of
  // its entity, or a new object; null for a system object the library does
  // not hold or an unknown entity. Nothing is saved.
  static Ptr libraryObjectFromCloudRecord(const CloudRecord& record, ManagedObjectContext& context);
  static Ptr systemLibraryObjectForCloudRecord(const CloudRecord& record, ManagedObjectContext& context);
  // Copies the record's fields into the attributes and relationships taking
  // part in the cloud, then keeps the record (setCloudRecord).
  virtual void updateFromCloudRecord(const CloudRecord& record);
  static std::string entityNameFromCloudRecordName(const std::string& recordName);
  static std::string identifierFromCloudRecordName(const std::string& recordName);

  // The check every attribute value passes when it arrives from outside
  // the model's own setters (a property list, a cloud record, a copy): it
  // may clean `value` in place; a refused value leaves the attribute as it
  // was. Accepts everything unchanged here.
  [[nodiscard]] virtual bool validateValue(Value& value, const std::string& key, Error* error = nullptr) const;

  // Property lists.
  PropertyListDictionary propertyListRepresentation() const;
  void setValuesFromPropertyListRepresentation(const PropertyListDictionary& propertyList);
  std::string remappedRelationshipIdentifier(const std::string& identifier) const;
  // 0: dates as ISO 8601 and data as base 64; 2: dates, Booleans and data
  // as text for people; 1 (or anything else): values unchanged.
  PropertyListDictionary metadataInFormat(int format) const;

  // A new object of the same entity in the same context with copies of the
  // attributes and of the objects it owns (cascade relationships).
  Ptr copy();
  static const std::set<std::string>& propertyNamesToExcludeFromCopy();

  // Lookups; null when the entity is unknown, nothing matches or the fetch
  // fails.
  static Ptr libraryObject(ManagedObjectContext& context, const std::string& entityName,
                           const std::string& identifier);
  static bool isSystemObjectEntityName(ManagedObjectContext& context, const std::string& entityName);
  static Ptr fromPropertyListRepresentation(ManagedObjectContext& context, const PropertyListDictionary& propertyList);
  static bool cloudRecordHasCorrespondingEntity(ManagedObjectContext& context, const RecordID& recordID);
  static Ptr libraryObjectForCloudRecordID(ManagedObjectContext& context, const RecordID& recordID);

  // File-provider identifiers: "<Entity>|<identifier>", with "|<version>"
  // for a version above 0; the root and trash folders go by the service's
  // container identifiers.
  static std::string fileProviderIdentifierForEntity(const std::string& entityName,
                                                     const std::string& libraryObjectIdentifier,
                                                     int64_t fileProviderIdentifierVersion);
  // nullopt when the identifier holds no separator.
  [[nodiscard]] static std::optional<std::string> libraryObjectIdentifierFromFileProviderIdentifier(const std::string& identifier);
  static std::string entityNameFromFileProviderIdentifier(const std::string& identifier);
  static int64_t versionFromFileProviderIdentifier(const std::string& identifier);
  // Null when nothing matches, and for an item whose version moved on since
  // the identifier was made. REQUIRES: called inside the context's queue.
  static Ptr libraryObjectFromFileProviderIdentifier(const std::string& identifier, ManagedObjectContext& context);
  virtual std::string fileProviderItemIdentifier() const;

  // Why the object's file or directory stayed in place when the object was
  // last deleted; a deletion with one must be rolled back, not saved, or the
  // file would outlive its row.
  const std::optional<Error>& fileDeletionError() const { return fileDeletionError_; }

 protected:
  void awakeFromInsert() override;
  void awakeFromFetch() override {}
  void setFileDeletionError(std::optional<Error> error) { fileDeletionError_ = std::move(error); }

 private:
  mutable std::optional<CloudRecord> cachedRecord_;
  std::optional<Error> fileDeletionError_;
};

// Gives every entity of the library model its class: LibraryObject unless a
// subclass registered itself for the entity or an ancestor.
void registerLibraryObjectClasses();

}  // namespace qlt
