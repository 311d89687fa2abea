#include "platform/cloud/postgres_cloud_store.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <pqxx/pqxx>
#include <set>

#include "platform/cloud/embedded_cloud_record_coding.h"
#include "platform/cloud/postgres_cloud_errors.h"
#include "platform/files/file_path.h"
#include "platform/files/file_system.h"
#include "platform/foundation/uuid.h"

namespace qlt {
namespace {

constexpr size_t kAssetChunkSize = 1 << 20;

// Seconds since the reference date on the server's clock.
#define QLT_SERVER_NOW "(extract(epoch from clock_timestamp())::float8 - 978307200)"
#define QLT_ZONE_COLUMNS "owner = current_user AND scope = $1 AND zone_name = $2 AND zone_owner = $3"

const char* const kSchema =
    "SELECT pg_advisory_xact_lock(7105610);"
    "CREATE SEQUENCE IF NOT EXISTS quillet_changes;"
    "CREATE SEQUENCE IF NOT EXISTS quillet_assets;"
    "CREATE TABLE IF NOT EXISTS quillet_zones (owner TEXT NOT NULL, scope SMALLINT NOT NULL, "
    "zone_name TEXT NOT NULL, zone_owner TEXT NOT NULL, PRIMARY KEY (owner, scope, zone_name, zone_owner));"
    // body NULL: deleted, kept for the zone's changes.
    "CREATE TABLE IF NOT EXISTS quillet_records (owner TEXT NOT NULL, scope SMALLINT NOT NULL, "
    "zone_name TEXT NOT NULL, zone_owner TEXT NOT NULL, record_name TEXT NOT NULL, record_type TEXT NOT NULL, "
    "change BIGINT NOT NULL, created FLOAT8 NOT NULL, modified FLOAT8 NOT NULL, body BYTEA, "
    "PRIMARY KEY (owner, scope, zone_name, zone_owner, record_name));"
    "CREATE INDEX IF NOT EXISTS quillet_records_by_change ON quillet_records "
    "(owner, scope, zone_name, zone_owner, change);"
    "CREATE TABLE IF NOT EXISTS quillet_asset_chunks (owner TEXT NOT NULL, asset BIGINT NOT NULL, "
    "chunk INTEGER NOT NULL, data BYTEA NOT NULL, PRIMARY KEY (owner, asset, chunk));";

const std::pair<const char*, const char*> kStatements[] = {
    {"zone_exists", "SELECT 1 FROM quillet_zones WHERE " QLT_ZONE_COLUMNS},
    {"zone_save",
     "INSERT INTO quillet_zones (owner, scope, zone_name, zone_owner) VALUES (current_user, $1, $2, $3) "
     "ON CONFLICT DO NOTHING"},
    // Writers of one zone take turns, so that its change numbers grow in
    // the order their transactions commit and readers miss none.
    {"zone_lock",
     "SELECT pg_advisory_xact_lock(hashtextextended(current_user || '/' || $1::text || '/' || $2 || '/' || $3, 0))"},
    {"zone_list",
     "SELECT zone_name, zone_owner FROM quillet_zones WHERE owner = current_user AND scope = $1 "
     "ORDER BY zone_name COLLATE \"C\", zone_owner COLLATE \"C\""},
    {"zone_bodies", "SELECT body FROM quillet_records WHERE " QLT_ZONE_COLUMNS " AND body IS NOT NULL"},
    {"zone_drop_records", "DELETE FROM quillet_records WHERE " QLT_ZONE_COLUMNS},
    {"zone_drop", "DELETE FROM quillet_zones WHERE " QLT_ZONE_COLUMNS},
    {"records_for_update",
     "SELECT record_name, record_type, change, created, modified, body FROM quillet_records WHERE " QLT_ZONE_COLUMNS
     " AND record_name = ANY($4::text[]) FOR UPDATE"},
    {"records_read",
     "SELECT record_name, record_type, change, created, modified, body FROM quillet_records WHERE " QLT_ZONE_COLUMNS
     " AND record_name = ANY($4::text[]) AND body IS NOT NULL"},
    {"record_write",
     "INSERT INTO quillet_records VALUES (current_user, $1, $2, $3, $4, $5, nextval('quillet_changes'), "
     "COALESCE($6, " QLT_SERVER_NOW "), " QLT_SERVER_NOW ", $7) "
     "ON CONFLICT (owner, scope, zone_name, zone_owner, record_name) DO UPDATE SET record_type = EXCLUDED.record_type, "
     "change = EXCLUDED.change, created = EXCLUDED.created, modified = EXCLUDED.modified, body = EXCLUDED.body "
     "RETURNING change, created, modified"},
    {"record_delete",
     "UPDATE quillet_records SET body = NULL, change = nextval('quillet_changes'), modified = " QLT_SERVER_NOW
     " WHERE " QLT_ZONE_COLUMNS " AND record_name = $4"},
    {"zone_changes",
     "SELECT record_name, record_type, change, created, modified, body FROM quillet_records WHERE " QLT_ZONE_COLUMNS
     " AND change > $4 ORDER BY change LIMIT $5"},
    {"asset_new", "SELECT nextval('quillet_assets')"},
    {"asset_chunk", "INSERT INTO quillet_asset_chunks VALUES (current_user, $1, $2, $3)"},
    {"asset_read", "SELECT data FROM quillet_asset_chunks WHERE owner = current_user AND asset = $1 ORDER BY chunk"},
    {"assets_drop", "DELETE FROM quillet_asset_chunks WHERE owner = current_user AND asset = ANY($1::bigint[])"},
};

// Ends a request with a cloud error of the store's own making.
struct StoreFailure {
  Error error;
};

bool isDefaultZone(CloudDatabaseScope scope, const RecordZoneID& zone) {
  return scope == CloudDatabaseScope::Private && zone == RecordZoneID();
}

bool isCreatedBySaving(CloudDatabaseScope scope, const RecordZoneID& zone) {
  return scope == CloudDatabaseScope::Private && zone.ownerName == kCurrentUserDefaultName;
}

int scopeNumber(CloudDatabaseScope scope) { return static_cast<int>(scope); }

std::string changeTag(int64_t change) {
  char tag[32];
  snprintf(tag, sizeof tag, "%llx", static_cast<unsigned long long>(change));
  return tag;
}

// A PostgreSQL array literal of `values`.
std::string textArray(const std::vector<std::string>& values) {
  std::string literal = "{";
  for (const std::string& value : values) {
    if (literal.size() > 1) literal += ',';
    literal += '"';
    for (char c : value) {
      if (c == '"' || c == '\\') literal += '\\';
      literal += c;
    }
    literal += '"';
  }
  return literal + "}";
}

std::string integerArray(const std::vector<int64_t>& values) {
  std::string literal = "{";
  for (int64_t value : values) {
    if (literal.size() > 1) literal += ',';
    literal += std::to_string(value);
  }
  return literal + "}";
}

// The stored asset's number: the digits its name starts with.
std::optional<int64_t> assetNumber(const std::string& name) {
  size_t digits = 0;
  while (digits < name.size() && digits < 18 && name[digits] >= '0' && name[digits] <= '9') ++digits;
  if (digits == 0 || (digits < name.size() && name[digits] != '.')) return std::nullopt;
  return std::stoll(name.substr(0, digits));
}

std::vector<int64_t> assetNumbers(std::map<std::string, CloudValue> fields) {
  std::vector<int64_t> numbers;
  for (auto& [key, value] : fields)
    forEachCloudAsset(value, [&](CloudAsset& asset) {
      if (auto number = assetNumber(asset.filePath)) numbers.push_back(*number);
      return true;
    });
  return numbers;
}

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

// A record as the server holds it (`deleted` rows keep only their change).
struct StoredRecord {
  std::optional<CloudRecord> record;
  int64_t change = 0;
};

StoredRecord storedRecord(const pqxx::row& row, const RecordZoneID& zoneID) {
  StoredRecord stored;
  stored.change = row[2].as<int64_t>();
  if (row[5].is_null()) return stored;
  RecordSystemFields system{row[1].as<std::string>(), RecordID(row[0].as<std::string>(), zoneID),
                            changeTag(stored.change), Date(row[3].as<double>()), Date(row[4].as<double>())};
  pqxx::binarystring body(row[5]);
  Error error;
  stored.record = decodeStoredCloudRecord(system, Bytes(body.begin(), body.end()), &error);
  if (!stored.record) throw StoreFailure{cloudError(kCloudErrorServiceUnavailable, error.localizedDescription())};
  return stored;
}

}  // namespace

class PostgresCloudStore::Session {
 public:
  explicit Session(const std::string& url) : connection(url) {
    {
      pqxx::work work(connection);
      work.exec(kSchema);
      work.commit();
    }
    for (const auto& [name, sql] : kStatements) connection.prepare(name, sql);
  }

  pqxx::connection connection;
};

namespace {

class ModifyRequest {
 public:
  ModifyRequest(pqxx::work& work, CloudDatabaseScope scope) : work_(work), scope_(scopeNumber(scope)), scopeValue_(scope) {}

  bool zoneExists(const RecordZoneID& zone) {
    if (isDefaultZone(scopeValue_, zone)) return true;
    return !work_.exec_prepared("zone_exists", scope_, zone.zoneName, zone.ownerName).empty();
  }
  void saveZone(const RecordZoneID& zone) {
    if (!isDefaultZone(scopeValue_, zone)) work_.exec_prepared("zone_save", scope_, zone.zoneName, zone.ownerName);
  }
  void lockZone(const RecordZoneID& zone) {
    work_.exec_prepared("zone_lock", scope_, zone.zoneName, zone.ownerName);
  }

  std::map<std::string, StoredRecord> loadForUpdate(const RecordZoneID& zone, const std::vector<std::string>& names) {
    std::map<std::string, StoredRecord> stored;
    for (const pqxx::row& row :
         work_.exec_prepared("records_for_update", scope_, zone.zoneName, zone.ownerName, textArray(names)))
      stored.emplace(row[0].as<std::string>(), storedRecord(row, zone));
    return stored;
  }

  // Uploads the file of `asset` and points it at the stored copy; a record
  // error when the file is missing or changes meanwhile.
  std::optional<Error> uploadAsset(CloudAsset& asset) {
    auto before = fileStamp(asset.filePath);
    Error readError;
    std::optional<std::string> contents = before ? readFile(asset.filePath, &readError) : std::nullopt;
    if (!contents) {
      bool missing = !before || !fileStamp(asset.filePath);
      return cloudError(missing ? kCloudErrorAssetFileNotFound : kCloudErrorServiceUnavailable,
                        missing ? "The asset file was not found: " + asset.filePath
                                : "The asset file cannot be uploaded: " + readError.localizedDescription());
    }
    if (fileStamp(asset.filePath) != before)
      return cloudError(kCloudErrorAssetFileModified, "The asset file changed while being uploaded: " + asset.filePath);
    int64_t number = work_.exec_prepared1("asset_new")[0].as<int64_t>();
    size_t offset = 0;
    int chunk = 0;
    do {
      size_t length = std::min(kAssetChunkSize, contents->size() - offset);
      work_.exec_prepared("asset_chunk", number, chunk++, pqxx::binarystring(contents->data() + offset, length));
      offset += length;
    } while (offset < contents->size());
    std::string extension = pathExtension(asset.filePath);
    asset.filePath = extension.empty() ? std::to_string(number) : std::to_string(number) + "." + extension;
    return std::nullopt;
  }

  void dropAssets(const std::vector<int64_t>& numbers) {
    if (!numbers.empty()) work_.exec_prepared("assets_drop", integerArray(numbers));
  }

  // nullopt when saved into `saved`; the record's error otherwise.
  std::optional<Error> save(const CloudRecord& client, CloudSavePolicy policy, const std::optional<CloudRecord>& server,
                            std::vector<int64_t>& obsoleteAssets, CloudRecord& saved) {
    if (server && server->recordType() != client.recordType())
      return cloudError(kCloudErrorInvalidArguments, "The record exists with another record type.");
    if (!server && !client.recordChangeTag().empty() && policy != CloudSavePolicy::AllKeys)
      return cloudError(kCloudErrorUnknownItem, "Record not found: " + client.recordID().recordName);
    if (policy == CloudSavePolicy::IfServerRecordUnchanged && server &&
        server->recordChangeTag() != client.recordChangeTag()) {
      CloudRecord serverCopy = *server;
      clearCloudAssetPaths(serverCopy);
      return cloudServerRecordChangedError(client, serverCopy);
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
    for (const std::string& key : written) {
      std::optional<Error> failed;
      forEachCloudAsset(fields[key], [&](CloudAsset& asset) {
        failed = uploadAsset(asset);
        return !failed;
      });
      if (failed) {
        if (failed->code() == kCloudErrorServiceUnavailable) throw StoreFailure{*failed};
        return failed;
      }
    }
    if (server) {
      std::vector<int64_t> kept = assetNumbers(fields);
      for (int64_t number : assetNumbers(server->fields()))
        if (std::find(kept.begin(), kept.end(), number) == kept.end()) obsoleteAssets.push_back(number);
    }
    Error encodeError;
    auto body = encodeCloudRecordBody(fields, parent, &encodeError);
    if (!body) throw StoreFailure{cloudError(kCloudErrorInvalidArguments, encodeError.localizedDescription())};
    const RecordID& id = client.recordID();
    pqxx::binarystring bytes(body->data(), body->size());
    pqxx::row row =
        server && server->creationDate()
            ? work_.exec_prepared1("record_write", scope_, id.zoneID.zoneName, id.zoneID.ownerName, id.recordName,
                                   client.recordType(), server->creationDate()->timeIntervalSinceReferenceDate(), bytes)
            : work_.exec_prepared1("record_write", scope_, id.zoneID.zoneName, id.zoneID.ownerName, id.recordName,
                                   client.recordType(), nullptr, bytes);
    saved = client;
    saved.setSystemFields({client.recordType(), id, changeTag(row[0].as<int64_t>()), Date(row[1].as<double>()),
                           Date(row[2].as<double>())});
    saved.clearChangedKeys();
    return std::nullopt;
  }

  std::optional<Error> remove(const RecordID& id, const std::optional<CloudRecord>& server,
                              std::vector<int64_t>& obsoleteAssets) {
    if (!server) return cloudError(kCloudErrorUnknownItem, "Record not found: " + id.recordName);
    work_.exec_prepared("record_delete", scope_, id.zoneID.zoneName, id.zoneID.ownerName, id.recordName);
    for (int64_t number : assetNumbers(server->fields())) obsoleteAssets.push_back(number);
    return std::nullopt;
  }

 private:
  pqxx::work& work_;
  int scope_;
  CloudDatabaseScope scopeValue_;
};

}  // namespace

PostgresCloudStore::PostgresCloudStore(std::string url, std::string downloadsDirectory,
                                       std::shared_ptr<CloudFaultInjector> faults)
    : url_(std::move(url)), downloadsDirectory_(std::move(downloadsDirectory)), faults_(std::move(faults)) {}

PostgresCloudStore::~PostgresCloudStore() = default;

std::shared_ptr<PostgresCloudStore> PostgresCloudStore::open(const std::string& url,
                                                             const std::string& downloadsDirectory,
                                                             std::shared_ptr<CloudFaultInjector> faults, Error* error) {
  if (!createDirectory(downloadsDirectory, true, error)) return nullptr;
  if (!faults) faults = std::make_shared<CloudFaultInjector>();
  auto store = std::shared_ptr<PostgresCloudStore>(new PostgresCloudStore(url, downloadsDirectory, std::move(faults)));
  CloudCancellation never;
  if (auto failed = store->withSession(never, [](Session&) {})) {
    setError(error, *failed);
    return nullptr;
  }
  return store;
}

std::optional<Error> PostgresCloudStore::withSession(const CloudCancellation& cancellation,
                                                     const std::function<void(Session&)>& body) {
  std::lock_guard lock(mutex_);
  bool connecting = !session_;
  try {
    if (!session_) session_ = std::make_unique<Session>(url_);
    connecting = false;
    pqxx::connection& connection = session_->connection;
    std::shared_ptr<void> observation = cancellation.observe([&connection] {
      try {
        connection.cancel_query();
      } catch (const std::exception&) {
        // Nothing to cancel, or the server is gone: the request ends anyway.
      }
    });
    body(*session_);
    return std::nullopt;
  } catch (const StoreFailure& failure) {
    return failure.error;
  } catch (const std::exception& failure) {
    if (cancellation.isCancelled()) return cloudOperationCancelledError();
    Error error = cloudErrorForPostgresFailure(failure, connecting, url_);
    if (connecting || dynamic_cast<const pqxx::broken_connection*>(&failure) ||
        dynamic_cast<const pqxx::in_doubt_error*>(&failure) || !session_->connection.is_open())
      session_.reset();
    return error;
  }
}

bool PostgresCloudStore::saveZone(CloudDatabaseScope scope, const RecordZoneID& zoneID, Error* error) {
  CloudCancellation never;
  auto failed = withSession(never, [&](Session& session) {
    pqxx::work work(session.connection);
    ModifyRequest(work, scope).saveZone(zoneID);
    work.commit();
  });
  if (!failed) return true;
  setError(error, *failed);
  return false;
}

CloudModifyRecordsResult PostgresCloudStore::modifyRecords(CloudDatabaseScope scope,
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

  auto failed = withSession(cancellation, [&](Session& session) {
    result = {};
    pqxx::work work(session.connection);
    ModifyRequest modify(work, scope);
    for (const auto& [zoneID, items] : itemsByZone) modify.lockZone(zoneID);
    std::map<RecordID, CloudRecord> savedByID;
    for (const RecordZoneID& zoneID : zoneOrder) {
      const std::vector<Item>& items = itemsByZone[zoneID];
      work.exec("SAVEPOINT zone");
      bool exists = modify.zoneExists(zoneID);
      bool savesRecords = std::any_of(items.begin(), items.end(), [](const Item& item) { return item.record; });
      if (!exists && savesRecords && isCreatedBySaving(scope, zoneID)) {
        modify.saveZone(zoneID);
        exists = true;
      }
      std::map<std::string, StoredRecord> stored;
      if (exists) {
        std::vector<std::string> names;
        for (const Item& item : items) names.push_back(item.recordID.recordName);
        stored = modify.loadForUpdate(zoneID, names);
      }
      std::vector<int64_t> obsoleteAssets;
      std::vector<CloudRecord> zoneSaved;
      std::vector<RecordID> zoneDeleted;
      bool zoneFailed = false;
      for (const Item& item : items) {
        std::optional<Error> itemError;
        auto found = stored.find(item.recordID.recordName);
        std::optional<CloudRecord> server = found != stored.end() ? found->second.record : std::nullopt;
        CloudRecord saved("", item.recordID);
        if (auto injected = fault.recordErrors.find(item.recordID); injected != fault.recordErrors.end()) {
          itemError = injected->second;
        } else if (!exists) {
          itemError = cloudError(kCloudErrorZoneNotFound, "Zone not found: " + zoneID.zoneName);
        } else if (item.record) {
          itemError = modify.save(*item.record, request.savePolicy, server, obsoleteAssets, saved);
        } else {
          itemError = modify.remove(item.recordID, server, obsoleteAssets);
        }
        if (itemError) {
          result.recordErrors.insert_or_assign(item.recordID, *itemError);
          zoneFailed = true;
        } else if (item.record) {
          // Later saves of the same record in this request see this one.
          if (found != stored.end()) found->second.record = saved;
          else stored.emplace(item.recordID.recordName, StoredRecord{saved, 0});
          zoneSaved.push_back(std::move(saved));
        } else {
          if (found != stored.end()) found->second.record.reset();
          zoneDeleted.push_back(item.recordID);
        }
      }
      if (zoneFailed && request.atomic) {
        work.exec("ROLLBACK TO SAVEPOINT zone");
        work.exec("RELEASE SAVEPOINT zone");
        for (const Item& item : items) {
          if (!result.recordErrors.count(item.recordID))
            result.recordErrors.emplace(item.recordID, cloudError(kCloudErrorBatchRequestFailed));
        }
        continue;
      }
      modify.dropAssets(obsoleteAssets);
      work.exec("RELEASE SAVEPOINT zone");
      for (CloudRecord& record : zoneSaved) savedByID.insert_or_assign(record.recordID(), std::move(record));
      result.deletedRecordIDs.insert(result.deletedRecordIDs.end(), zoneDeleted.begin(), zoneDeleted.end());
    }
    work.commit();
    for (const CloudRecord& record : request.recordsToSave) {
      auto saved = savedByID.find(record.recordID());
      if (saved != savedByID.end()) result.savedRecords.push_back(saved->second);
    }
  });
  if (failed) return {std::move(failed), {}, {}, {}};
  return result;
}

CloudFetchRecordsResult PostgresCloudStore::fetchRecords(CloudDatabaseScope scope,
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
  std::vector<std::string> copies;
  auto failed = withSession(cancellation, [&](Session& session) {
    result = {};
    // One snapshot: assets that a concurrent save replaces stay readable.
    pqxx::transaction<pqxx::repeatable_read, pqxx::read_only> work(session.connection);
    std::map<RecordZoneID, std::vector<std::string>> namesByZone;
    for (const RecordID& recordID : request.recordIDs) namesByZone[recordID.zoneID].push_back(recordID.recordName);
    std::map<RecordID, CloudRecord> found;
    std::set<RecordZoneID> missingZones;
    for (const auto& [zoneID, names] : namesByZone) {
      if (!isDefaultZone(scope, zoneID) &&
          work.exec_prepared("zone_exists", scopeNumber(scope), zoneID.zoneName, zoneID.ownerName).empty()) {
        missingZones.insert(zoneID);
        continue;
      }
      for (const pqxx::row& row :
           work.exec_prepared("records_read", scopeNumber(scope), zoneID.zoneName, zoneID.ownerName, textArray(names))) {
        StoredRecord stored = storedRecord(row, zoneID);
        found.insert_or_assign(stored.record->recordID(), std::move(*stored.record));
      }
    }
    auto download = [&](CloudAsset& asset) -> std::optional<Error> {
      auto number = assetNumber(asset.filePath);
      if (!number) return cloudError(kCloudErrorServiceUnavailable, "The stored record names a bad asset file.");
      pqxx::result chunks = work.exec_prepared("asset_read", *number);
      if (chunks.empty()) return cloudError(kCloudErrorAssetFileNotFound, "The stored asset file is missing.");
      std::string extension = pathExtension(asset.filePath);
      std::string copy = appendingPathComponent(
          downloadsDirectory_, extension.empty() ? newUUIDString() : appendingPathExtension(newUUIDString(), extension));
      FILE* file = fopen(copy.c_str(), "wbx");
      if (!file) return cloudError(kCloudErrorServiceUnavailable, "The downloaded asset file cannot be written.");
      copies.push_back(copy);
      bool written = true;
      for (const pqxx::row& chunk : chunks) {
        pqxx::binarystring data(chunk[0]);
        if (data.size() > 0 && fwrite(data.data(), 1, data.size(), file) != data.size()) written = false;
      }
      if (fclose(file) != 0 || !written)
        return cloudError(kCloudErrorServiceUnavailable, "The downloaded asset file cannot be written.");
      asset.filePath = copy;
      return std::nullopt;
    };
    for (const RecordID& recordID : request.recordIDs) {
      if (auto injected = fault.recordErrors.find(recordID); injected != fault.recordErrors.end()) {
        result.recordErrors.insert_or_assign(recordID, injected->second);
        continue;
      }
      if (missingZones.count(recordID.zoneID)) {
        result.recordErrors.insert_or_assign(recordID,
                                             cloudError(kCloudErrorZoneNotFound, "Zone not found: " + recordID.zoneID.zoneName));
        continue;
      }
      auto record = found.find(recordID);
      if (record == found.end()) {
        result.recordErrors.insert_or_assign(recordID,
                                             cloudError(kCloudErrorUnknownItem, "Record not found: " + recordID.recordName));
        continue;
      }
      CloudRecord answer(record->second.systemFields());
      if (request.desiredKeys) {
        for (const std::string& key : *request.desiredKeys)
          if (const CloudValue* value = record->second.objectForKey(key)) answer.setObjectForKey(key, *value);
      } else {
        for (const auto& [key, value] : record->second.fields()) answer.setObjectForKey(key, value);
      }
      if (record->second.parent()) answer.setParent(record->second.parent());
      if (request.progress) request.progress(recordID, 0.5);
      std::optional<Error> assetError;
      std::map<std::string, CloudValue> fields = answer.fields();
      for (auto& [key, value] : fields) {
        forEachCloudAsset(value, [&](CloudAsset& asset) {
          assetError = download(asset);
          return !assetError;
        });
        if (assetError) break;
        answer.setObjectForKey(key, std::move(value));
      }
      if (assetError) {
        result.recordErrors.insert_or_assign(recordID, *assetError);
        continue;
      }
      answer.clearChangedKeys();
      result.records.insert_or_assign(recordID, std::move(answer));
    }
    work.commit();
  });
  if (failed) {
    for (const std::string& copy : copies) (void)removeItem(copy);  // no record names them
    return {std::move(failed), {}, {}};
  }
  return result;
}

CloudModifyRecordZonesResult PostgresCloudStore::modifyRecordZones(CloudDatabaseScope scope,
                                                                   const std::vector<RecordZoneID>& zonesToSave,
                                                                   const std::vector<RecordZoneID>& zoneIDsToDelete,
                                                                   const CloudCancellation& cancellation) {
  CloudModifyRecordZonesResult result;
  if (auto error = CloudFaultInjector::apply(faults_->takeFault({}), cancellation)) {
    result.error = std::move(error);
    return result;
  }
  auto failed = withSession(cancellation, [&](Session& session) {
    result = {};
    pqxx::work work(session.connection);
    ModifyRequest modify(work, scope);
    for (const RecordZoneID& zoneID : zonesToSave) {
      modify.saveZone(zoneID);
      result.savedZoneIDs.push_back(zoneID);
    }
    for (const RecordZoneID& zoneID : zoneIDsToDelete) {
      modify.lockZone(zoneID);
      std::vector<int64_t> assets;
      for (const pqxx::row& row :
           work.exec_prepared("zone_bodies", scopeNumber(scope), zoneID.zoneName, zoneID.ownerName)) {
        pqxx::binarystring body(row[0]);
        std::map<std::string, CloudValue> fields;
        std::optional<CloudReference> parent;
        if (decodeCloudRecordBody(Bytes(body.begin(), body.end()), fields, parent)) {
          std::vector<int64_t> numbers = assetNumbers(fields);
          assets.insert(assets.end(), numbers.begin(), numbers.end());
        }
      }
      modify.dropAssets(assets);
      work.exec_prepared("zone_drop_records", scopeNumber(scope), zoneID.zoneName, zoneID.ownerName);
      work.exec_prepared("zone_drop", scopeNumber(scope), zoneID.zoneName, zoneID.ownerName);
      result.deletedZoneIDs.push_back(zoneID);
    }
    work.commit();
  });
  if (failed) return {std::move(failed), {}, {}};
  return result;
}

CloudFetchRecordZonesResult PostgresCloudStore::fetchAllRecordZones(CloudDatabaseScope scope,
                                                                    const CloudCancellation& cancellation) {
  CloudFetchRecordZonesResult result;
  if (auto error = CloudFaultInjector::apply(faults_->takeFault({}), cancellation)) {
    result.error = std::move(error);
    return result;
  }
  auto failed = withSession(cancellation, [&](Session& session) {
    result = {};
    if (scope == CloudDatabaseScope::Private) result.zoneIDs.push_back(RecordZoneID());
    pqxx::read_transaction work(session.connection);
    for (const pqxx::row& row : work.exec_prepared("zone_list", scopeNumber(scope)))
      result.zoneIDs.emplace_back(row[0].as<std::string>(), row[1].as<std::string>());
    work.commit();
  });
  if (failed) return {std::move(failed), {}};
  return result;
}

CloudFetchZoneChangesResult PostgresCloudStore::fetchZoneChanges(CloudDatabaseScope scope,
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
  auto failed = withSession(cancellation, [&](Session& session) {
    result = {};
    pqxx::read_transaction work(session.connection);
    const RecordZoneID& zoneID = request.zoneID;
    if (!isDefaultZone(scope, zoneID) &&
        work.exec_prepared("zone_exists", scopeNumber(scope), zoneID.zoneName, zoneID.ownerName).empty()) {
      result.error = cloudError(kCloudErrorZoneNotFound, "Zone not found: " + zoneID.zoneName);
      return;
    }
    pqxx::result rows = work.exec_prepared("zone_changes", scopeNumber(scope), zoneID.zoneName, zoneID.ownerName,
                                           after, static_cast<int64_t>(limit) + 1);
    int64_t position = after;
    size_t count = 0;
    for (const pqxx::row& row : rows) {
      if (count == limit) {
        result.moreComing = true;
        break;
      }
      ++count;
      StoredRecord stored = storedRecord(row, zoneID);
      position = stored.change;
      if (!stored.record) {
        result.deletedRecordIDs.emplace_back(row[0].as<std::string>(), zoneID);
        continue;
      }
      clearCloudAssetPaths(*stored.record);
      result.changedRecords.push_back(std::move(*stored.record));
    }
    work.commit();
    result.token = changeTokenForPosition(std::max<int64_t>(position, 0));
  });
  if (failed) return {std::move(failed), {}, {}, {}, false};
  return result;
}

}  // namespace qlt
