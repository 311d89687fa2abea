#include "platform/cloud/embedded_cloud_store.h"

#include <sys/stat.h>

#include <algorithm>
#include <map>

#include "platform/cloud/embedded_cloud_asset_lock.h"
#include "platform/cloud/embedded_cloud_record_coding.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/foundation/uuid.h"
#include "platform/sqlite/database.h"
#include "platform/sqlite/transaction.h"

namespace qlt {
namespace {

constexpr std::chrono::milliseconds kBusyTimeout{15000};

Error storeError(const Error& cause, const std::string& what) {
  Error error = cloudError(kCloudErrorServiceUnavailable,
                           "The cloud store cannot " + what + ": " + cause.localizedDescription());
  error.setUnderlyingError(cause);
  return error;
}

bool bindZone(Statement& statement, int index, CloudDatabaseScope scope, const RecordZoneID& zone, Error* error) {
  return statement.bindInt64(index, static_cast<int64_t>(scope), error) &&
         statement.bindText(index + 1, zone.zoneName, error) && statement.bindText(index + 2, zone.ownerName, error);
}

bool isDefaultZone(CloudDatabaseScope scope, const RecordZoneID& zone) {
  return scope == CloudDatabaseScope::Private && zone == RecordZoneID();
}

// Size and modification time, to notice a file changing while it is copied.
struct FileStamp {
  off_t size = -1;
  long seconds = 0;
  long nanoseconds = 0;
  bool operator==(const FileStamp&) const = default;
};

std::optional<FileStamp> fileStamp(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return FileStamp{info.st_size, static_cast<long>(info.st_mtim.tv_sec), static_cast<long>(info.st_mtim.tv_nsec)};
}

std::vector<std::string> assetNames(std::map<std::string, CloudValue> fields) {
  std::vector<std::string> names;
  for (auto& [key, value] : fields)
    forEachCloudAsset(value, [&](CloudAsset& asset) {
      names.push_back(asset.filePath);
      return true;
    });
  return names;
}


// The signed-in user's private zones come into being with the first record
// saved into them, as the default zone always exists.
bool isCreatedBySaving(CloudDatabaseScope scope, const RecordZoneID& zone) {
  return scope == CloudDatabaseScope::Private && zone.ownerName == kCurrentUserDefaultName;
}

CachedStatement prepared(Database& database, const std::string& sql, const std::string& what, Error* error) {
  Error failure;
  CachedStatement statement = database.cachedStatement(sql, &failure);
  if (!statement) setError(error, storeError(failure, what));
  return statement;
}

// Runs a statement for its effect with the zone of `scope` bound from
// parameter `index` on and, when given, a record name after it.
bool runForZone(Database& database, const std::string& sql, CloudDatabaseScope scope, const RecordZoneID& zone,
                const std::string& what, Error* error, const std::string* recordName = nullptr) {
  CachedStatement statement = prepared(database, sql, what, error);
  if (!statement) return false;
  Error failure;
  if (bindZone(*statement, 1, scope, zone, &failure) && (!recordName || statement->bindText(4, *recordName, &failure)) &&
      statement->execute(&failure))
    return true;
  setError(error, storeError(failure, what));
  return false;
}

Bytes blobColumn(const Statement& statement, int column) {
  std::span<const uint8_t> blob = statement.columnBlob(column);
  return Bytes(blob.begin(), blob.end());
}

}  // namespace

// What one modify request changed beside its rows: asset files copied in
// (removed again when the rows are rolled back) and asset files no longer
// used (removed once the rows are committed).
struct EmbeddedCloudStore::SaveEffects {
  std::vector<std::string> newAssets;
  std::vector<std::string> obsoleteAssets;

  void append(SaveEffects&& other) {
    newAssets.insert(newAssets.end(), other.newAssets.begin(), other.newAssets.end());
    obsoleteAssets.insert(obsoleteAssets.end(), other.obsoleteAssets.begin(), other.obsoleteAssets.end());
  }
};

EmbeddedCloudStore::EmbeddedCloudStore(std::string directory, std::shared_ptr<CloudFaultInjector> faults,
                                       std::unique_ptr<Database> database,
                                       std::unique_ptr<EmbeddedCloudAssetLock> assetLock)
    : directory_(std::move(directory)),
      assetsDirectory_(appendingPathComponent(directory_, "Assets")),
      downloadsDirectory_(appendingPathComponent(directory_, "Downloads")),
      faults_(std::move(faults)),
      database_(std::move(database)),
      assetLock_(std::move(assetLock)) {}

EmbeddedCloudStore::~EmbeddedCloudStore() = default;

std::shared_ptr<EmbeddedCloudStore> EmbeddedCloudStore::open(const std::string& directory,
                                                             std::shared_ptr<CloudFaultInjector> faults,
                                                             Error* error) {
  for (const char* folder : {"Assets", "Downloads"}) {
    if (!createDirectory(appendingPathComponent(directory, folder), true, error)) return nullptr;
  }
  std::string path = appendingPathComponent(directory, "CloudStore.sqlite");
  DatabaseOptions options;
  options.busyTimeout = kBusyTimeout;
  options.foreignKeys = false;
  Error failure;
  std::unique_ptr<Database> database = Database::open(path, options, &failure);
  if (!database) {
    setError(error, storeError(failure, "open " + path));
    return nullptr;
  }
  static const char* const kSchema =
      "CREATE TABLE IF NOT EXISTS zones (scope INTEGER NOT NULL, zone_name TEXT NOT NULL, owner_name TEXT NOT NULL, "
      "PRIMARY KEY (scope, zone_name, owner_name));"
      "CREATE TABLE IF NOT EXISTS records (scope INTEGER NOT NULL, zone_name TEXT NOT NULL, owner_name TEXT NOT NULL, "
      "record_name TEXT NOT NULL, record_type TEXT NOT NULL, change_tag TEXT NOT NULL, created REAL NOT NULL, "
      "modified REAL NOT NULL, body BLOB NOT NULL, PRIMARY KEY (scope, zone_name, owner_name, record_name));"
      "CREATE TABLE IF NOT EXISTS counter (id INTEGER PRIMARY KEY CHECK (id = 1), value INTEGER NOT NULL);"
      "INSERT OR IGNORE INTO counter VALUES (1, 0);"
      // The last change of every record, deletions included, for zone
      // changes. Records older than the table count as changed at 0.
      "CREATE TABLE IF NOT EXISTS record_changes (scope INTEGER NOT NULL, zone_name TEXT NOT NULL, "
      "owner_name TEXT NOT NULL, record_name TEXT NOT NULL, sequence INTEGER NOT NULL, deleted INTEGER NOT NULL, "
      "PRIMARY KEY (scope, zone_name, owner_name, record_name));"
      "CREATE INDEX IF NOT EXISTS record_changes_by_sequence ON record_changes (scope, zone_name, owner_name, sequence);"
      "INSERT OR IGNORE INTO record_changes SELECT scope, zone_name, owner_name, record_name, 0, 0 FROM records";
  auto transaction = Transaction::begin(*database, Transaction::Mode::Immediate, &failure);
  if (!transaction || !database->execute(kSchema, &failure) || !transaction->commit(&failure)) {
    setError(error, storeError(failure, "prepare " + path));
    return nullptr;
  }
  auto assetLock = EmbeddedCloudAssetLock::open(appendingPathComponent(directory, "Assets.lock"), error);
  if (!assetLock) return nullptr;
  if (!faults) faults = std::make_shared<CloudFaultInjector>();
  return std::shared_ptr<EmbeddedCloudStore>(
      new EmbeddedCloudStore(directory, std::move(faults), std::move(database), std::move(assetLock)));
}

bool EmbeddedCloudStore::execute(const std::string& sql, Error* error) {
  Error failure;
  if (database_->execute(sql, &failure)) return true;
  setError(error, storeError(failure, "run " + sql));
  return false;
}

bool EmbeddedCloudStore::zoneExists(CloudDatabaseScope scope, const RecordZoneID& zoneID, bool& exists,
                                    Error* error) {
  if (isDefaultZone(scope, zoneID)) {
    exists = true;
    return true;
  }
  CachedStatement query = prepared(
      *database_, "SELECT 1 FROM zones WHERE scope = ? AND zone_name = ? AND owner_name = ?", "read zones", error);
  if (!query) return false;
  Error failure;
  if (!bindZone(*query, 1, scope, zoneID, &failure)) {
    setError(error, storeError(failure, "read zones"));
    return false;
  }
  exists = query->step(&failure);
  if (!query->failed()) return true;
  setError(error, storeError(failure, "read zones"));
  return false;
}

bool EmbeddedCloudStore::loadRecord(CloudDatabaseScope scope, const RecordID& recordID,
                                    std::optional<CloudRecord>& record, Error* error) {
  record.reset();
  CachedStatement query = prepared(*database_,
                                   "SELECT record_type, change_tag, created, modified, body FROM records "
                                   "WHERE scope = ? AND zone_name = ? AND owner_name = ? AND record_name = ?",
                                   "read records", error);
  if (!query) return false;
  Error failure;
  if (!bindZone(*query, 1, scope, recordID.zoneID, &failure) || !query->bindText(4, recordID.recordName, &failure)) {
    setError(error, storeError(failure, "read records"));
    return false;
  }
  if (!query->step(&failure)) {
    if (!query->failed()) return true;
    setError(error, storeError(failure, "read records"));
    return false;
  }
  RecordSystemFields system{std::string(query->columnText(0)), recordID, std::string(query->columnText(1)),
                            Date(query->columnDouble(2)), Date(query->columnDouble(3))};
  Error decodeError;
  auto loaded = decodeStoredCloudRecord(system, blobColumn(*query, 4), &decodeError);
  if (!loaded) {
    setError(error, cloudError(kCloudErrorServiceUnavailable, decodeError.localizedDescription()));
    return false;
  }
  record = std::move(*loaded);
  return true;
}

std::optional<int64_t> EmbeddedCloudStore::nextChangeNumber(Error* error) {
  if (!execute("UPDATE counter SET value = value + 1 WHERE id = 1", error)) return std::nullopt;
  CachedStatement query = prepared(*database_, "SELECT value FROM counter WHERE id = 1", "count", error);
  if (!query) return std::nullopt;
  Error failure;
  if (!query->step(&failure)) {
    setError(error, query->failed() ? storeError(failure, "count")
                                    : cloudError(kCloudErrorServiceUnavailable, "The change counter is missing."));
    return std::nullopt;
  }
  return query->columnInt64(0);
}

bool EmbeddedCloudStore::noteChange(CloudDatabaseScope scope, const RecordID& recordID, int64_t number, bool deleted,
                                    Error* error) {
  CachedStatement note = prepared(*database_, "INSERT OR REPLACE INTO record_changes VALUES (?, ?, ?, ?, ?, ?)",
                                  "note a change", error);
  if (!note) return false;
  Error failure;
  if (bindZone(*note, 1, scope, recordID.zoneID, &failure) && note->bindText(4, recordID.recordName, &failure) &&
      note->bindInt64(5, number, &failure) && note->bindInt64(6, deleted ? 1 : 0, &failure) &&
      note->execute(&failure))
    return true;
  setError(error, storeError(failure, "note a change"));
  return false;
}

bool EmbeddedCloudStore::uploadAsset(CloudAsset& asset, SaveEffects& effects, Error* error) {
  auto before = fileStamp(asset.filePath);
  if (!before) {
    setError(error, cloudError(kCloudErrorAssetFileNotFound, "The asset file was not found: " + asset.filePath));
    return false;
  }
  std::string extension = pathExtension(asset.filePath);
  std::string name = extension.empty() ? newUUIDString() : appendingPathExtension(newUUIDString(), extension);
  std::string destination = appendingPathComponent(assetsDirectory_, name);
  Error copyError;
  if (!copyItem(asset.filePath, destination, &copyError)) {
    bool missing = !fileStamp(asset.filePath);
    setError(error, cloudError(missing ? kCloudErrorAssetFileNotFound : kCloudErrorServiceUnavailable,
                               "The asset file cannot be uploaded: " + copyError.localizedDescription()));
    return false;
  }
  effects.newAssets.push_back(name);
  if (fileStamp(asset.filePath) != before) {
    setError(error, cloudError(kCloudErrorAssetFileModified, "The asset file changed while being uploaded: " +
                                                                 asset.filePath));
    return false;
  }
  asset.filePath = name;
  return true;
}

bool EmbeddedCloudStore::resolveAssets(CloudRecord& record, bool makeCopies, Error* error) {
  std::map<std::string, CloudValue> fields = record.fields();
  for (auto& [key, value] : fields) {
    bool resolved = forEachCloudAsset(value, [&](CloudAsset& asset) {
      if (!isValidFilename(asset.filePath)) {
        setError(error, cloudError(kCloudErrorServiceUnavailable, "The stored record names a bad asset file."));
        return false;
      }
      std::string stored = appendingPathComponent(assetsDirectory_, asset.filePath);
      if (!makeCopies) {
        asset.filePath = stored;
        return true;
      }
      std::string extension = pathExtension(asset.filePath);
      std::string copy = appendingPathComponent(
          downloadsDirectory_, extension.empty() ? newUUIDString() : appendingPathExtension(newUUIDString(), extension));
      Error copyError;
      if (!copyItem(stored, copy, &copyError)) {
        setError(error, cloudError(kCloudErrorAssetFileNotFound,
                                   "The stored asset file cannot be read: " + copyError.localizedDescription()));
        return false;
      }
      asset.filePath = copy;
      return true;
    });
    if (!resolved) return false;
    record.setObjectForKey(key, std::move(value));
  }
  record.clearChangedKeys();
  return true;
}

void EmbeddedCloudStore::discardUploadedAssets(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    // Best effort: no record names these files, so a leftover is only clutter.
    if (isValidFilename(name)) (void)removeItem(appendingPathComponent(assetsDirectory_, name));
  }
}

void EmbeddedCloudStore::removeReplacedAssets(const std::vector<std::string>& names) {
  if (names.empty()) return;
  EmbeddedCloudAssetLock::Holder exclusive(*assetLock_, EmbeddedCloudAssetLock::Mode::Exclusive);
  discardUploadedAssets(names);
}

EmbeddedCloudStore::Outcome EmbeddedCloudStore::saveRecord(CloudDatabaseScope scope, const CloudRecord& client,
                                                            CloudSavePolicy policy, SaveEffects& effects,
                                                            CloudRecord& saved, Error* error) {
  std::optional<CloudRecord> server;
  if (!loadRecord(scope, client.recordID(), server, error)) return Outcome::StoreFailed;
  if (server && server->recordType() != client.recordType()) {
    setError(error, cloudError(kCloudErrorInvalidArguments, "The record exists with another record type."));
    return Outcome::RecordFailed;
  }
  if (!server && !client.recordChangeTag().empty() && policy != CloudSavePolicy::AllKeys) {
    setError(error, cloudError(kCloudErrorUnknownItem, "Record not found: " + client.recordID().recordName));
    return Outcome::RecordFailed;
  }
  if (policy == CloudSavePolicy::IfServerRecordUnchanged && server &&
      server->recordChangeTag() != client.recordChangeTag()) {
    CloudRecord serverCopy = *server;
    Error resolveError;
    if (!resolveAssets(serverCopy, false, &resolveError)) {
      setError(error, resolveError);
      return Outcome::StoreFailed;
    }
    setError(error, cloudServerRecordChangedError(client, serverCopy));
    return Outcome::RecordFailed;
  }

  std::map<std::string, CloudValue> fields;
  std::optional<CloudReference> parent;
  std::vector<std::string> written;
  if (!server || policy == CloudSavePolicy::AllKeys) {
    fields = client.fields();
    parent = client.parent();
    written = client.allKeys();
  } else {
    fields = server->fields();
    parent = server->parent();
    for (const std::string& key : client.changedKeys()) {
      if (const CloudValue* value = client.objectForKey(key)) {
        fields.insert_or_assign(key, *value);
        written.push_back(key);
      } else {
        fields.erase(key);
      }
    }
    if (client.parentChanged()) parent = client.parent();
  }

  SaveEffects recordEffects;
  for (const std::string& key : written) {
    Error uploadError;
    bool uploaded = forEachCloudAsset(fields[key], [&](CloudAsset& asset) {
      return uploadAsset(asset, recordEffects, &uploadError);
    });
    if (!uploaded) {
      discardUploadedAssets(recordEffects.newAssets);
      setError(error, uploadError);
      return uploadError.code() == kCloudErrorServiceUnavailable ? Outcome::StoreFailed : Outcome::RecordFailed;
    }
  }
  if (server) {
    std::vector<std::string> kept = assetNames(fields);
    for (const std::string& name : assetNames(server->fields()))
      if (std::find(kept.begin(), kept.end(), name) == kept.end()) recordEffects.obsoleteAssets.push_back(name);
  }

  auto fail = [&] {
    discardUploadedAssets(recordEffects.newAssets);
    return Outcome::StoreFailed;
  };
  auto body = encodeCloudRecordBody(fields, parent, error);
  if (!body) return fail();
  auto number = nextChangeNumber(error);
  if (!number || !noteChange(scope, client.recordID(), *number, false, error)) return fail();
  char tag[32];
  snprintf(tag, sizeof tag, "%llx", static_cast<unsigned long long>(*number));
  Date now = Date::now();
  Date created = server && server->creationDate() ? *server->creationDate() : now;
  CachedStatement insert = prepared(*database_,
                                    "INSERT OR REPLACE INTO records (scope, zone_name, owner_name, record_name, "
                                    "record_type, change_tag, created, modified, body) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)",
                                    "write a record", error);
  if (!insert) return fail();
  Error failure;
  bool stored = bindZone(*insert, 1, scope, client.recordID().zoneID, &failure) &&
                  insert->bindText(4, client.recordID().recordName, &failure) &&
                  insert->bindText(5, client.recordType(), &failure) && insert->bindText(6, tag, &failure) &&
                  insert->bindDouble(7, created.timeIntervalSinceReferenceDate(), &failure) &&
                  insert->bindDouble(8, now.timeIntervalSinceReferenceDate(), &failure) &&
                  insert->bindBlob(9, *body, &failure) && insert->execute(&failure);
  if (!stored) {
    setError(error, storeError(failure, "write a record"));
    return fail();
  }

  saved = client;
  saved.setSystemFields({client.recordType(), client.recordID(), tag, created, now});
  saved.clearChangedKeys();
  effects.append(std::move(recordEffects));
  return Outcome::Done;
}

EmbeddedCloudStore::Outcome EmbeddedCloudStore::deleteRecord(CloudDatabaseScope scope, const RecordID& recordID,
                                                              SaveEffects& effects, Error* error) {
  std::optional<CloudRecord> server;
  if (!loadRecord(scope, recordID, server, error)) return Outcome::StoreFailed;
  if (!server) {
    setError(error, cloudError(kCloudErrorUnknownItem, "Record not found: " + recordID.recordName));
    return Outcome::RecordFailed;
  }
  if (!runForZone(*database_,
                  "DELETE FROM records WHERE scope = ? AND zone_name = ? AND owner_name = ? AND record_name = ?",
                  scope, recordID.zoneID, "delete a record", error, &recordID.recordName))
    return Outcome::StoreFailed;
  auto number = nextChangeNumber(error);
  if (!number || !noteChange(scope, recordID, *number, true, error)) return Outcome::StoreFailed;
  for (const std::string& name : assetNames(server->fields())) effects.obsoleteAssets.push_back(name);
  return Outcome::Done;
}

CloudModifyRecordsResult EmbeddedCloudStore::modifyRecords(CloudDatabaseScope scope,
                                                           const CloudModifyRecordsRequest& request,
                                                           const CloudCancellation& cancellation) {
  std::vector<RecordID> recordIDs;
  for (const CloudRecord& record : request.recordsToSave) recordIDs.push_back(record.recordID());
  recordIDs.insert(recordIDs.end(), request.recordIDsToDelete.begin(), request.recordIDsToDelete.end());
  CloudFaultInjector::Fault fault = faults_->takeFault(recordIDs);
  CloudModifyRecordsResult result;
  if (auto error = CloudFaultInjector::apply(fault, cancellation)) {
    result.error = std::move(error);
    return result;
  }
  if (recordIDs.size() > kMaximumRecordsPerRequest) {
    result.error = cloudError(kCloudErrorLimitExceeded);
    return result;
  }

  // Items grouped by zone, zones in the order they first appear.
  struct Item {
    const CloudRecord* record;  // null for a deletion
    RecordID recordID;
  };
  std::vector<RecordZoneID> zoneOrder;
  std::map<RecordZoneID, std::vector<Item>> itemsByZone;
  auto addItem = [&](Item item) {
    auto& items = itemsByZone[item.recordID.zoneID];
    if (items.empty()) zoneOrder.push_back(item.recordID.zoneID);
    items.push_back(std::move(item));
  };
  for (const CloudRecord& record : request.recordsToSave) addItem({&record, record.recordID()});
  for (const RecordID& recordID : request.recordIDsToDelete) addItem({nullptr, recordID});

  std::lock_guard lock(mutex_);
  Error error;
  Error failure;
  auto transaction = Transaction::begin(*database_, Transaction::Mode::Immediate, &failure);
  if (!transaction) {
    result.error = storeError(failure, "begin a transaction");
    return result;
  }
  SaveEffects effects;
  std::map<RecordID, CloudRecord> savedByID;
  auto abort = [&](const Error& cause) {
    (void)transaction->rollback();  // a failed rollback still ends the transaction
    discardUploadedAssets(effects.newAssets);
    CloudModifyRecordsResult failed;
    failed.error = cause;
    return failed;
  };
  for (const RecordZoneID& zoneID : zoneOrder) {
    const std::vector<Item>& items = itemsByZone[zoneID];
    if (!execute("SAVEPOINT zone", &error)) return abort(error);
    bool exists = false;
    if (!zoneExists(scope, zoneID, exists, &error)) return abort(error);
    bool savesRecords = std::any_of(items.begin(), items.end(), [](const Item& item) { return item.record; });
    if (!exists && savesRecords && isCreatedBySaving(scope, zoneID)) {
      if (!runForZone(*database_, "INSERT OR IGNORE INTO zones VALUES (?, ?, ?)", scope, zoneID, "save a zone",
                      &error))
        return abort(error);
      exists = true;
    }
    SaveEffects zoneEffects;
    std::vector<CloudRecord> zoneSaved;
    std::vector<RecordID> zoneDeleted;
    bool zoneFailed = false;
    for (const Item& item : items) {
      Outcome outcome;
      Error itemError;
      CloudRecord saved("", item.recordID);
      if (auto injected = fault.recordErrors.find(item.recordID); injected != fault.recordErrors.end()) {
        itemError = injected->second;
        outcome = Outcome::RecordFailed;
      } else if (!exists) {
        itemError = cloudError(kCloudErrorZoneNotFound, "Zone not found: " + zoneID.zoneName);
        outcome = Outcome::RecordFailed;
      } else if (item.record) {
        outcome = saveRecord(scope, *item.record, request.savePolicy, zoneEffects, saved, &itemError);
      } else {
        outcome = deleteRecord(scope, item.recordID, zoneEffects, &itemError);
      }
      if (outcome == Outcome::StoreFailed) {
        discardUploadedAssets(zoneEffects.newAssets);
        return abort(itemError);
      }
      if (outcome == Outcome::RecordFailed) {
        result.recordErrors.insert_or_assign(item.recordID, itemError);
        zoneFailed = true;
      } else if (item.record) {
        zoneSaved.push_back(std::move(saved));
      } else {
        zoneDeleted.push_back(item.recordID);
      }
    }
    if (zoneFailed && request.atomic) {
      discardUploadedAssets(zoneEffects.newAssets);
      if (!execute("ROLLBACK TO zone", &error) || !execute("RELEASE zone", &error)) return abort(error);
      for (const Item& item : items) {
        if (!result.recordErrors.count(item.recordID))
          result.recordErrors.emplace(item.recordID, cloudError(kCloudErrorBatchRequestFailed));
      }
      continue;
    }
    if (!execute("RELEASE zone", &error)) {
      discardUploadedAssets(zoneEffects.newAssets);
      return abort(error);
    }
    effects.append(std::move(zoneEffects));
    for (CloudRecord& record : zoneSaved) savedByID.insert_or_assign(record.recordID(), std::move(record));
    result.deletedRecordIDs.insert(result.deletedRecordIDs.end(), zoneDeleted.begin(), zoneDeleted.end());
  }
  if (!transaction->commit(&failure)) return abort(storeError(failure, "commit"));
  removeReplacedAssets(effects.obsoleteAssets);
  for (const CloudRecord& record : request.recordsToSave) {
    auto saved = savedByID.find(record.recordID());
    if (saved != savedByID.end()) result.savedRecords.push_back(saved->second);
  }
  return result;
}

CloudFetchRecordsResult EmbeddedCloudStore::fetchRecords(CloudDatabaseScope scope,
                                                         const CloudFetchRecordsRequest& request,
                                                         const CloudCancellation& cancellation) {
  CloudFaultInjector::Fault fault = faults_->takeFault(request.recordIDs);
  CloudFetchRecordsResult result;
  if (auto error = CloudFaultInjector::apply(fault, cancellation)) {
    result.error = std::move(error);
    return result;
  }
  if (request.recordIDs.size() > kMaximumRecordsPerRequest) {
    result.error = cloudError(kCloudErrorLimitExceeded);
    return result;
  }
  std::lock_guard lock(mutex_);
  // Taken before the rows are read, so that the assets they name stay
  // until the copies are made.
  EmbeddedCloudAssetLock::Holder shared(*assetLock_, EmbeddedCloudAssetLock::Mode::Shared);
  Error error;
  auto transaction = Transaction::begin(*database_, Transaction::Mode::Deferred, &error);
  if (!transaction) return {storeError(error, "begin a transaction"), {}, {}};
  for (const RecordID& recordID : request.recordIDs) {
    if (auto injected = fault.recordErrors.find(recordID); injected != fault.recordErrors.end()) {
      result.recordErrors.insert_or_assign(recordID, injected->second);
      continue;
    }
    bool exists = false;
    std::optional<CloudRecord> record;
    if (!zoneExists(scope, recordID.zoneID, exists, &error) || (exists && !loadRecord(scope, recordID, record, &error)))
      return {error, {}, {}};
    if (!exists) {
      result.recordErrors.insert_or_assign(recordID,
                                           cloudError(kCloudErrorZoneNotFound, "Zone not found: " + recordID.zoneID.zoneName));
      continue;
    }
    if (!record) {
      result.recordErrors.insert_or_assign(recordID,
                                           cloudError(kCloudErrorUnknownItem, "Record not found: " + recordID.recordName));
      continue;
    }
    CloudRecord answer(record->systemFields());
    if (request.desiredKeys) {
      for (const std::string& key : *request.desiredKeys)
        if (const CloudValue* value = record->objectForKey(key)) answer.setObjectForKey(key, *value);
    } else {
      for (const auto& [key, value] : record->fields()) answer.setObjectForKey(key, value);
    }
    if (record->parent()) answer.setParent(record->parent());
    // Half way: the record is here, its files are still to be copied.
    if (request.progress) request.progress(recordID, 0.5);
    Error assetError;
    if (!resolveAssets(answer, true, &assetError)) {
      result.recordErrors.insert_or_assign(recordID, assetError);
      continue;
    }
    result.records.insert_or_assign(recordID, std::move(answer));
  }
  (void)transaction->commit();  // it only read: the answer stands however it ends
  return result;
}

CloudModifyRecordZonesResult EmbeddedCloudStore::modifyRecordZones(CloudDatabaseScope scope,
                                                                   const std::vector<RecordZoneID>& zonesToSave,
                                                                   const std::vector<RecordZoneID>& zoneIDsToDelete,
                                                                   const CloudCancellation& cancellation) {
  CloudModifyRecordZonesResult result;
  if (auto error = CloudFaultInjector::apply(faults_->takeFault({}), cancellation)) {
    result.error = std::move(error);
    return result;
  }
  std::lock_guard lock(mutex_);
  Error error;
  auto transaction = Transaction::begin(*database_, Transaction::Mode::Immediate, &error);
  if (!transaction) return {storeError(error, "begin a transaction"), {}, {}};
  SaveEffects effects;
  auto ok = [&] {
    for (const RecordZoneID& zoneID : zonesToSave) {
      if (!isDefaultZone(scope, zoneID) &&
          !runForZone(*database_, "INSERT OR IGNORE INTO zones VALUES (?, ?, ?)", scope, zoneID, "save a zone",
                      &error))
        return false;
      result.savedZoneIDs.push_back(zoneID);
    }
    for (const RecordZoneID& zoneID : zoneIDsToDelete) {
      CachedStatement bodies = prepared(
          *database_, "SELECT body FROM records WHERE scope = ? AND zone_name = ? AND owner_name = ?", "read a zone",
          &error);
      if (!bodies) return false;
      Error failure;
      if (!bindZone(*bodies, 1, scope, zoneID, &failure)) {
        error = storeError(failure, "read a zone");
        return false;
      }
      while (bodies->step(&failure)) {
        std::map<std::string, CloudValue> fields;
        std::optional<CloudReference> parent;
        if (decodeCloudRecordBody(blobColumn(*bodies, 0), fields, parent))
          for (const std::string& name : assetNames(fields)) effects.obsoleteAssets.push_back(name);
      }
      if (bodies->failed()) {
        error = storeError(failure, "read a zone");
        return false;
      }
      if (!runForZone(*database_, "DELETE FROM records WHERE scope = ? AND zone_name = ? AND owner_name = ?", scope,
                      zoneID, "delete a zone", &error) ||
          !runForZone(*database_, "DELETE FROM zones WHERE scope = ? AND zone_name = ? AND owner_name = ?", scope,
                      zoneID, "delete a zone", &error) ||
          !runForZone(*database_, "DELETE FROM record_changes WHERE scope = ? AND zone_name = ? AND owner_name = ?",
                      scope, zoneID, "delete a zone", &error))
        return false;
      result.deletedZoneIDs.push_back(zoneID);
    }
    Error failure;
    if (transaction->commit(&failure)) return true;
    error = storeError(failure, "commit");
    return false;
  }();
  if (!ok) {
    (void)transaction->rollback();  // a failed rollback still ends the transaction
    return {error, {}, {}};
  }
  removeReplacedAssets(effects.obsoleteAssets);
  return result;
}

bool EmbeddedCloudStore::saveZone(CloudDatabaseScope scope, const RecordZoneID& zoneID, Error* error) {
  if (isDefaultZone(scope, zoneID)) return true;
  std::lock_guard lock(mutex_);
  return runForZone(*database_, "INSERT OR IGNORE INTO zones VALUES (?, ?, ?)", scope, zoneID, "save a zone", error);
}

CloudFetchRecordZonesResult EmbeddedCloudStore::fetchAllRecordZones(CloudDatabaseScope scope,
                                                                    const CloudCancellation& cancellation) {
  CloudFetchRecordZonesResult result;
  if (auto error = CloudFaultInjector::apply(faults_->takeFault({}), cancellation)) {
    result.error = std::move(error);
    return result;
  }
  std::lock_guard lock(mutex_);
  if (scope == CloudDatabaseScope::Private) result.zoneIDs.push_back(RecordZoneID());
  Error error;
  CachedStatement query = prepared(
      *database_, "SELECT zone_name, owner_name FROM zones WHERE scope = ? ORDER BY zone_name, owner_name",
      "read zones", &error);
  if (!query) return {error, {}};
  Error failure;
  if (!query->bindInt64(1, static_cast<int64_t>(scope), &failure)) return {storeError(failure, "read zones"), {}};
  while (query->step(&failure))
    result.zoneIDs.emplace_back(std::string(query->columnText(0)), std::string(query->columnText(1)));
  if (query->failed()) return {storeError(failure, "read zones"), {}};
  return result;
}

CloudFetchZoneChangesResult EmbeddedCloudStore::fetchZoneChanges(CloudDatabaseScope scope,
                                                                 const CloudFetchZoneChangesRequest& request,
                                                                 const CloudCancellation& cancellation) {
  CloudFetchZoneChangesResult result;
  if (auto error = CloudFaultInjector::apply(faults_->takeFault({}), cancellation)) {
    result.error = std::move(error);
    return result;
  }
  int64_t after = -1;
  if (request.previousToken) {
    auto position = positionOfChangeToken(*request.previousToken);
    if (!position) {
      result.error = cloudError(kCloudErrorInvalidArguments, "The change token is not this server's.");
      return result;
    }
    after = *position;
  }
  size_t limit = request.resultsLimit == 0 ? kMaximumRecordsPerRequest
                                           : std::min(request.resultsLimit, kMaximumRecordsPerRequest);
  std::lock_guard lock(mutex_);
  Error error;
  auto transaction = Transaction::begin(*database_, Transaction::Mode::Deferred, &error);
  if (!transaction) return {storeError(error, "begin a transaction"), {}, {}, {}, false};
  bool exists = false;
  if (!zoneExists(scope, request.zoneID, exists, &error)) return {error, {}, {}, {}, false};
  if (!exists) {
    result.error = cloudError(kCloudErrorZoneNotFound, "Zone not found: " + request.zoneID.zoneName);
    return result;
  }
  CachedStatement query = prepared(
      *database_,
      "SELECT c.record_name, c.sequence, c.deleted, r.record_type, r.change_tag, r.created, r.modified, r.body "
      "FROM record_changes c LEFT JOIN records r ON r.scope = c.scope AND r.zone_name = c.zone_name AND "
      "r.owner_name = c.owner_name AND r.record_name = c.record_name "
      "WHERE c.scope = ? AND c.zone_name = ? AND c.owner_name = ? AND c.sequence > ? ORDER BY c.sequence LIMIT ?",
      "read changes", &error);
  if (!query) return {error, {}, {}, {}, false};
  Error failure;
  if (!bindZone(*query, 1, scope, request.zoneID, &failure) || !query->bindInt64(4, after, &failure) ||
      !query->bindInt64(5, static_cast<int64_t>(limit) + 1, &failure))
    return {storeError(failure, "read changes"), {}, {}, {}, false};
  size_t count = 0;
  int64_t position = after;
  while (query->step(&failure)) {
    if (count == limit) {
      result.moreComing = true;
      break;
    }
    ++count;
    RecordID recordID(std::string(query->columnText(0)), request.zoneID);
    position = query->columnInt64(1);
    if (query->columnInt64(2) != 0 || query->isNull(3)) {
      result.deletedRecordIDs.push_back(std::move(recordID));
      continue;
    }
    RecordSystemFields system{std::string(query->columnText(3)), recordID, std::string(query->columnText(4)),
                              Date(query->columnDouble(5)), Date(query->columnDouble(6))};
    Error decodeError;
    auto record = decodeStoredCloudRecord(system, blobColumn(*query, 7), &decodeError);
    if (!record) return {cloudError(kCloudErrorServiceUnavailable, decodeError.localizedDescription()), {}, {}, {}, false};
    clearCloudAssetPaths(*record);
    result.changedRecords.push_back(std::move(*record));
  }
  if (query->failed()) return {storeError(failure, "read changes"), {}, {}, {}, false};
  (void)transaction->commit();  // it only read
  result.token = changeTokenForPosition(std::max<int64_t>(position, 0));
  return result;
}

}  // namespace qlt
