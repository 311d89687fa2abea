#include "platform/cloud/embedded_cloud_store.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>

#include "platform/cloud/embedded_cloud_record_coding.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/foundation/uuid.h"

namespace qlt {
namespace {

constexpr int kBusyTimeoutMilliseconds = 15000;

struct DatabaseCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};

Error storeError(sqlite3* db, const std::string& what) {
  return cloudError(kCloudErrorServiceUnavailable,
                    "The cloud store cannot " + what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

// One prepared statement, finalized on destruction.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) : db_(db) {
    if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) statement_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& bind(int index, const std::string& text) {
    if (statement_) sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& bind(int index, int64_t value) {
    if (statement_) sqlite3_bind_int64(statement_, index, value);
    return *this;
  }
  Statement& bind(int index, double value) {
    if (statement_) sqlite3_bind_double(statement_, index, value);
    return *this;
  }
  Statement& bind(int index, const Bytes& data) {
    if (statement_)
      sqlite3_bind_blob(statement_, index, data.empty() ? "" : static_cast<const void*>(data.data()),
                        static_cast<int>(data.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Statement& bindScope(int index, CloudDatabaseScope scope) { return bind(index, static_cast<int64_t>(scope)); }
  Statement& bindZone(int index, const RecordZoneID& zone) { return bind(index, zone.zoneName).bind(index + 1, zone.ownerName); }

  // SQLITE_ROW, SQLITE_DONE or an error code.
  int step() { return statement_ ? sqlite3_step(statement_) : SQLITE_ERROR; }
  bool run(const std::string& what, Error* error) {
    if (step() == SQLITE_DONE) return true;
    setError(error, storeError(db_, what));
    return false;
  }

  std::string text(int column) const {
    auto bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    return bytes ? std::string(bytes, static_cast<size_t>(sqlite3_column_bytes(statement_, column))) : std::string();
  }
  int64_t integer(int column) const { return sqlite3_column_int64(statement_, column); }
  double real(int column) const { return sqlite3_column_double(statement_, column); }
  Bytes blob(int column) const {
    auto bytes = static_cast<const uint8_t*>(sqlite3_column_blob(statement_, column));
    return bytes ? Bytes(bytes, bytes + sqlite3_column_bytes(statement_, column)) : Bytes();
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* statement_ = nullptr;
};

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

}  // namespace

struct EmbeddedCloudStore::Connection {
  std::unique_ptr<sqlite3, DatabaseCloser> db;
};

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
                                       std::unique_ptr<Connection> connection)
    : directory_(std::move(directory)),
      assetsDirectory_(appendingPathComponent(directory_, "Assets")),
      downloadsDirectory_(appendingPathComponent(directory_, "Downloads")),
      faults_(std::move(faults)),
      connection_(std::move(connection)) {}

EmbeddedCloudStore::~EmbeddedCloudStore() = default;

std::shared_ptr<EmbeddedCloudStore> EmbeddedCloudStore::open(const std::string& directory,
                                                             std::shared_ptr<CloudFaultInjector> faults,
                                                             Error* error) {
  for (const char* folder : {"Assets", "Downloads"}) {
    if (!createDirectory(appendingPathComponent(directory, folder), true, error)) return nullptr;
  }
  std::string path = appendingPathComponent(directory, "CloudStore.sqlite");
  sqlite3* raw = nullptr;
  int status = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                               nullptr);
  auto connection = std::make_unique<Connection>();
  connection->db.reset(raw);
  if (status != SQLITE_OK) {
    setError(error, storeError(raw, "open " + path));
    return nullptr;
  }
  sqlite3_busy_timeout(raw, kBusyTimeoutMilliseconds);
  if (!faults) faults = std::make_shared<CloudFaultInjector>();
  std::shared_ptr<EmbeddedCloudStore> store(
      new EmbeddedCloudStore(directory, std::move(faults), std::move(connection)));
  static const char* const kSchema[] = {
      "PRAGMA journal_mode=WAL",
      "PRAGMA synchronous=NORMAL",
      "BEGIN IMMEDIATE",
      "CREATE TABLE IF NOT EXISTS zones (scope INTEGER NOT NULL, zone_name TEXT NOT NULL, owner_name TEXT NOT NULL, "
      "PRIMARY KEY (scope, zone_name, owner_name))",
      "CREATE TABLE IF NOT EXISTS records (scope INTEGER NOT NULL, zone_name TEXT NOT NULL, owner_name TEXT NOT NULL, "
      "record_name TEXT NOT NULL, record_type TEXT NOT NULL, change_tag TEXT NOT NULL, created REAL NOT NULL, "
      "modified REAL NOT NULL, body BLOB NOT NULL, PRIMARY KEY (scope, zone_name, owner_name, record_name))",
      "CREATE TABLE IF NOT EXISTS counter (id INTEGER PRIMARY KEY CHECK (id = 1), value INTEGER NOT NULL)",
      "INSERT OR IGNORE INTO counter VALUES (1, 0)",
      "COMMIT",
  };
  for (const char* sql : kSchema) {
    if (!store->execute(sql, error)) {
      store->execute("ROLLBACK", nullptr);
      return nullptr;
    }
  }
  return store;
}

bool EmbeddedCloudStore::execute(const char* sql, Error* error) {
  sqlite3* db = connection_->db.get();
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK) return true;
  setError(error, storeError(db, std::string("run ") + sql));
  return false;
}

std::optional<Error> EmbeddedCloudStore::applyFault(const CloudFaultInjector::Fault& fault,
                                                    const CloudCancellation& cancellation) {
  if (fault.withhold) {
    cancellation.wait();
    return cloudOperationCancelledError();
  }
  if (fault.delay.count() > 0 && cancellation.waitFor(fault.delay)) return cloudOperationCancelledError();
  if (cancellation.isCancelled()) return cloudOperationCancelledError();
  return fault.requestError;
}

bool EmbeddedCloudStore::zoneExists(CloudDatabaseScope scope, const RecordZoneID& zoneID, bool& exists,
                                    Error* error) {
  if (isDefaultZone(scope, zoneID)) {
    exists = true;
    return true;
  }
  Statement query(connection_->db.get(), "SELECT 1 FROM zones WHERE scope = ? AND zone_name = ? AND owner_name = ?");
  query.bindScope(1, scope).bindZone(2, zoneID);
  int status = query.step();
  if (status != SQLITE_ROW && status != SQLITE_DONE) {
    setError(error, storeError(connection_->db.get(), "read zones"));
    return false;
  }
  exists = status == SQLITE_ROW;
  return true;
}

bool EmbeddedCloudStore::loadRecord(CloudDatabaseScope scope, const RecordID& recordID,
                                    std::optional<CloudRecord>& record, Error* error) {
  record.reset();
  Statement query(connection_->db.get(),
                  "SELECT record_type, change_tag, created, modified, body FROM records "
                  "WHERE scope = ? AND zone_name = ? AND owner_name = ? AND record_name = ?");
  query.bindScope(1, scope).bindZone(2, recordID.zoneID).bind(4, recordID.recordName);
  int status = query.step();
  if (status == SQLITE_DONE) return true;
  if (status != SQLITE_ROW) {
    setError(error, storeError(connection_->db.get(), "read records"));
    return false;
  }
  RecordSystemFields system{query.text(0), recordID, query.text(1), Date(query.real(2)), Date(query.real(3))};
  std::map<std::string, CloudValue> fields;
  std::optional<CloudReference> parent;
  Error decodeError;
  if (!decodeCloudRecordBody(query.blob(4), fields, parent, &decodeError)) {
    setError(error, cloudError(kCloudErrorServiceUnavailable, decodeError.localizedDescription()));
    return false;
  }
  CloudRecord loaded(system);
  for (auto& [key, value] : fields) loaded.setObjectForKey(key, std::move(value));
  if (parent) loaded.setParent(std::move(parent));
  loaded.clearChangedKeys();
  record = std::move(loaded);
  return true;
}

std::optional<std::string> EmbeddedCloudStore::nextChangeTag(Error* error) {
  if (!Statement(connection_->db.get(), "UPDATE counter SET value = value + 1 WHERE id = 1").run("count", error))
    return std::nullopt;
  Statement query(connection_->db.get(), "SELECT value FROM counter WHERE id = 1");
  if (query.step() != SQLITE_ROW) {
    setError(error, storeError(connection_->db.get(), "count"));
    return std::nullopt;
  }
  char tag[32];
  snprintf(tag, sizeof tag, "%llx", static_cast<unsigned long long>(query.integer(0)));
  return std::string(tag);
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

void EmbeddedCloudStore::removeAssetFiles(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (isValidFilename(name)) removeItem(appendingPathComponent(assetsDirectory_, name));
  }
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
  if (policy == CloudSavePolicy::IfServerRecordUnchanged) {
    if (server && server->recordChangeTag() != client.recordChangeTag()) {
      CloudRecord serverCopy = *server;
      Error resolveError;
      if (!resolveAssets(serverCopy, false, &resolveError)) {
        setError(error, resolveError);
        return Outcome::StoreFailed;
      }
      setError(error, cloudServerRecordChangedError(client, serverCopy));
      return Outcome::RecordFailed;
    }
    if (!server && !client.recordChangeTag().empty()) {
      setError(error, cloudError(kCloudErrorUnknownItem, "Record not found: " + client.recordID().recordName));
      return Outcome::RecordFailed;
    }
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
      removeAssetFiles(recordEffects.newAssets);
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
    removeAssetFiles(recordEffects.newAssets);
    return Outcome::StoreFailed;
  };
  auto body = encodeCloudRecordBody(fields, parent, error);
  if (!body) return fail();
  auto tag = nextChangeTag(error);
  if (!tag) return fail();
  Date now = Date::now();
  Date created = server && server->creationDate() ? *server->creationDate() : now;
  Statement insert(connection_->db.get(),
                   "INSERT OR REPLACE INTO records (scope, zone_name, owner_name, record_name, record_type, "
                   "change_tag, created, modified, body) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
  insert.bindScope(1, scope)
      .bindZone(2, client.recordID().zoneID)
      .bind(4, client.recordID().recordName)
      .bind(5, client.recordType())
      .bind(6, *tag)
      .bind(7, created.timeIntervalSinceReferenceDate())
      .bind(8, now.timeIntervalSinceReferenceDate())
      .bind(9, *body);
  if (!insert.run("write a record", error)) return fail();

  saved = client;
  saved.setSystemFields({client.recordType(), client.recordID(), *tag, created, now});
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
  Statement remove(connection_->db.get(),
                   "DELETE FROM records WHERE scope = ? AND zone_name = ? AND owner_name = ? AND record_name = ?");
  remove.bindScope(1, scope).bindZone(2, recordID.zoneID).bind(4, recordID.recordName);
  if (!remove.run("delete a record", error)) return Outcome::StoreFailed;
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
  if (auto error = applyFault(fault, cancellation)) {
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
  if (!execute("BEGIN IMMEDIATE", &error)) {
    result.error = error;
    return result;
  }
  SaveEffects effects;
  std::map<RecordID, CloudRecord> savedByID;
  auto abort = [&](const Error& cause) {
    execute("ROLLBACK", nullptr);
    removeAssetFiles(effects.newAssets);
    CloudModifyRecordsResult failed;
    failed.error = cause;
    return failed;
  };
  for (const RecordZoneID& zoneID : zoneOrder) {
    if (!execute("SAVEPOINT zone", &error)) return abort(error);
    bool exists = false;
    if (!zoneExists(scope, zoneID, exists, &error)) return abort(error);
    SaveEffects zoneEffects;
    std::vector<CloudRecord> zoneSaved;
    std::vector<RecordID> zoneDeleted;
    bool zoneFailed = false;
    for (const Item& item : itemsByZone[zoneID]) {
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
        removeAssetFiles(zoneEffects.newAssets);
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
      if (!execute("ROLLBACK TO zone", &error) || !execute("RELEASE zone", &error)) {
        removeAssetFiles(zoneEffects.newAssets);
        return abort(error);
      }
      removeAssetFiles(zoneEffects.newAssets);
      for (const Item& item : itemsByZone[zoneID]) {
        if (!result.recordErrors.count(item.recordID))
          result.recordErrors.emplace(item.recordID, cloudError(kCloudErrorBatchRequestFailed));
      }
      continue;
    }
    if (!execute("RELEASE zone", &error)) {
      removeAssetFiles(zoneEffects.newAssets);
      return abort(error);
    }
    effects.append(std::move(zoneEffects));
    for (CloudRecord& record : zoneSaved) savedByID.insert_or_assign(record.recordID(), std::move(record));
    result.deletedRecordIDs.insert(result.deletedRecordIDs.end(), zoneDeleted.begin(), zoneDeleted.end());
  }
  if (!execute("COMMIT", &error)) return abort(error);
  removeAssetFiles(effects.obsoleteAssets);
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
  if (auto error = applyFault(fault, cancellation)) {
    result.error = std::move(error);
    return result;
  }
  if (request.recordIDs.size() > kMaximumRecordsPerRequest) {
    result.error = cloudError(kCloudErrorLimitExceeded);
    return result;
  }
  std::lock_guard lock(mutex_);
  Error error;
  if (!execute("BEGIN", &error)) {
    result.error = error;
    return result;
  }
  for (const RecordID& recordID : request.recordIDs) {
    if (auto injected = fault.recordErrors.find(recordID); injected != fault.recordErrors.end()) {
      result.recordErrors.insert_or_assign(recordID, injected->second);
      continue;
    }
    bool exists = false;
    std::optional<CloudRecord> record;
    if (!zoneExists(scope, recordID.zoneID, exists, &error) || (exists && !loadRecord(scope, recordID, record, &error))) {
      execute("ROLLBACK", nullptr);
      return {error, {}, {}};
    }
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
  execute("COMMIT", nullptr);
  return result;
}

CloudModifyRecordZonesResult EmbeddedCloudStore::modifyRecordZones(CloudDatabaseScope scope,
                                                                   const std::vector<RecordZoneID>& zonesToSave,
                                                                   const std::vector<RecordZoneID>& zoneIDsToDelete,
                                                                   const CloudCancellation& cancellation) {
  CloudModifyRecordZonesResult result;
  if (auto error = applyFault(faults_->takeFault({}), cancellation)) {
    result.error = std::move(error);
    return result;
  }
  std::lock_guard lock(mutex_);
  Error error;
  if (!execute("BEGIN IMMEDIATE", &error)) {
    result.error = error;
    return result;
  }
  SaveEffects effects;
  auto ok = [&] {
    for (const RecordZoneID& zoneID : zonesToSave) {
      if (!isDefaultZone(scope, zoneID) &&
          !Statement(connection_->db.get(), "INSERT OR IGNORE INTO zones VALUES (?, ?, ?)")
               .bindScope(1, scope)
               .bindZone(2, zoneID)
               .run("save a zone", &error))
        return false;
      result.savedZoneIDs.push_back(zoneID);
    }
    for (const RecordZoneID& zoneID : zoneIDsToDelete) {
      Statement bodies(connection_->db.get(), "SELECT body FROM records WHERE scope = ? AND zone_name = ? AND owner_name = ?");
      bodies.bindScope(1, scope).bindZone(2, zoneID);
      while (bodies.step() == SQLITE_ROW) {
        std::map<std::string, CloudValue> fields;
        std::optional<CloudReference> parent;
        if (decodeCloudRecordBody(bodies.blob(0), fields, parent))
          for (const std::string& name : assetNames(fields)) effects.obsoleteAssets.push_back(name);
      }
      if (!Statement(connection_->db.get(), "DELETE FROM records WHERE scope = ? AND zone_name = ? AND owner_name = ?")
               .bindScope(1, scope)
               .bindZone(2, zoneID)
               .run("delete a zone", &error) ||
          !Statement(connection_->db.get(), "DELETE FROM zones WHERE scope = ? AND zone_name = ? AND owner_name = ?")
               .bindScope(1, scope)
               .bindZone(2, zoneID)
               .run("delete a zone", &error))
        return false;
      result.deletedZoneIDs.push_back(zoneID);
    }
    return execute("COMMIT", &error);
  }();
  if (!ok) {
    execute("ROLLBACK", nullptr);
    return {error, {}, {}};
  }
  removeAssetFiles(effects.obsoleteAssets);
  return result;
}

bool EmbeddedCloudStore::saveZone(CloudDatabaseScope scope, const RecordZoneID& zoneID, Error* error) {
  if (isDefaultZone(scope, zoneID)) return true;
  std::lock_guard lock(mutex_);
  return Statement(connection_->db.get(), "INSERT OR IGNORE INTO zones VALUES (?, ?, ?)")
      .bindScope(1, scope)
      .bindZone(2, zoneID)
      .run("save a zone", error);
}

CloudFetchRecordZonesResult EmbeddedCloudStore::fetchAllRecordZones(CloudDatabaseScope scope,
                                                                    const CloudCancellation& cancellation) {
  CloudFetchRecordZonesResult result;
  if (auto error = applyFault(faults_->takeFault({}), cancellation)) {
    result.error = std::move(error);
    return result;
  }
  std::lock_guard lock(mutex_);
  if (scope == CloudDatabaseScope::Private) result.zoneIDs.push_back(RecordZoneID());
  Statement query(connection_->db.get(),
                  "SELECT zone_name, owner_name FROM zones WHERE scope = ? ORDER BY zone_name, owner_name");
  query.bindScope(1, scope);
  int status;
  while ((status = query.step()) == SQLITE_ROW) result.zoneIDs.emplace_back(query.text(0), query.text(1));
  if (status != SQLITE_DONE) return {storeError(connection_->db.get(), "read zones"), {}};
  return result;
}

}  // namespace qlt
