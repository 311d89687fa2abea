#include "platform/sqlite/database.h"

#include <sqlite3.h>

#include <list>
#include <unordered_map>

#include "platform/sqlite/sqlite_error.h"
#include "platform/sqlite/string_functions.h"

namespace qlt {

// Idle statements by SQL text, the least recently returned dropped first
// once there are more than kCapacity.
class StatementCache {
 public:
  static constexpr size_t kCapacity = 128;

  std::unique_ptr<Statement> take(const std::string& sql) {
    auto found = index_.find(sql);
    if (found == index_.end()) return nullptr;
    auto position = found->second;
    index_.erase(found);
    std::unique_ptr<Statement> statement = std::move(*position);
    idle_.erase(position);
    return statement;
  }

  void put(std::unique_ptr<Statement> statement) {
    std::string sql = statement->sql();
    idle_.push_front(std::move(statement));
    index_.emplace(std::move(sql), idle_.begin());
    if (idle_.size() <= kCapacity) return;
    auto oldest = std::prev(idle_.end());
    auto range = index_.equal_range((*oldest)->sql());
    for (auto it = range.first; it != range.second; ++it) {
      if (it->second == oldest) {
        index_.erase(it);
        break;
      }
    }
    idle_.erase(oldest);
  }

 private:
  std::list<std::unique_ptr<Statement>> idle_;
  std::unordered_multimap<std::string, std::list<std::unique_ptr<Statement>>::iterator> index_;
};

void CachedStatementReturn::operator()(Statement* statement) const {
  std::unique_ptr<Statement> owned(statement);
  std::shared_ptr<StatementCache> owner = cache.lock();
  if (!owner || !owned) return;
  owned->reset();
  owned->clearBindings();
  owner->put(std::move(owned));
}

Database::Database(sqlite3* db, std::string path)
    : db_(db), path_(std::move(path)), cache_(std::make_shared<StatementCache>()) {}

Database::~Database() { close(); }

std::unique_ptr<Database> Database::open(const std::string& path, const DatabaseOptions& options, Error* error) {
  int flags =
      (options.readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | (options.create ? SQLITE_OPEN_CREATE : 0)) |
      SQLITE_OPEN_NOMUTEX;  // a connection is used by one thread at a time
  sqlite3* db = nullptr;
  int resultCode = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  if (resultCode != SQLITE_OK) {
    Error failure = sqliteError(db, db ? sqlite3_extended_errcode(db) : resultCode);
    failure.setUserInfoValue(kFilePathErrorKey, path);
    setError(error, failure);
    sqlite3_close_v2(db);
    return nullptr;
  }
  sqlite3_extended_result_codes(db, 1);
  std::unique_ptr<Database> database(new Database(db, path));
  database->setBusyTimeout(options.busyTimeout);
  Error failure;
  bool configured =
      registerStringFunctions(db, &failure) &&
      (options.readOnly || database->execute("PRAGMA journal_mode=WAL", &failure)) &&
      database->execute("PRAGMA synchronous=NORMAL", &failure) &&
      database->execute(options.foreignKeys ? "PRAGMA foreign_keys=ON" : "PRAGMA foreign_keys=OFF", &failure);
  if (!configured) {
    failure.setUserInfoValue(kFilePathErrorKey, path);
    setError(error, failure);
    return nullptr;
  }
  return database;
}

bool Database::isClosed(Error* error) const {
  if (db_) return false;
  setError(error, sqliteError(SQLITE_MISUSE, "the database connection is closed"));
  return true;
}

bool Database::execute(const std::string& sql, Error* error) {
  if (isClosed(error)) return false;
  char* message = nullptr;
  int resultCode = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
  if (resultCode != SQLITE_OK) {
    int code = sqlite3_extended_errcode(db_);
    setError(error,
             sqliteError(code != SQLITE_OK ? code : resultCode, message ? message : sqlite3_errstr(resultCode), sql));
  }
  sqlite3_free(message);
  return resultCode == SQLITE_OK;
}

std::unique_ptr<Statement> Database::prepare(std::string_view sql, Error* error) {
  if (isClosed(error)) return nullptr;
  sqlite3_stmt* statement = nullptr;
  const char* tail = nullptr;
  int resultCode =
      sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &statement, &tail);
  if (resultCode != SQLITE_OK) {
    setError(error, sqliteError(db_, resultCode, sql));
    return nullptr;
  }
  if (!statement) {
    setError(error, sqliteError(SQLITE_MISUSE, "no statement in the text", sql));
    return nullptr;
  }
  auto prepared = std::make_unique<Statement>(statement, std::string(sql));
  std::string_view rest = sql.substr(static_cast<size_t>(tail - sql.data()));
  if (rest.find_first_not_of(" \t\r\n;") != std::string_view::npos) {
    setError(error, sqliteError(SQLITE_MISUSE, "more than one statement in the text", sql));
    return nullptr;
  }
  return prepared;
}

CachedStatement Database::cachedStatement(const std::string& sql, Error* error) {
  std::unique_ptr<Statement> statement = cache_->take(sql);
  if (!statement) statement = prepare(sql, error);
  return CachedStatement(statement.release(), CachedStatementReturn{cache_});
}

int64_t Database::lastInsertRowID() const { return db_ ? sqlite3_last_insert_rowid(db_) : 0; }

int Database::changes() const { return db_ ? sqlite3_changes(db_) : 0; }

std::optional<int64_t> Database::dataVersion(Error* error) {
  CachedStatement statement = cachedStatement("PRAGMA data_version", error);
  if (!statement || !statement->step(error)) return std::nullopt;
  return statement->columnInt64(0);
}

bool Database::inTransaction() const { return db_ && !sqlite3_get_autocommit(db_); }

void Database::setBusyTimeout(std::chrono::milliseconds timeout) {
  busyTimeout_ = timeout;
  if (db_) sqlite3_busy_timeout(db_, static_cast<int>(timeout.count()));
}

void Database::close() {
  if (!db_) return;
  cache_ = std::make_shared<StatementCache>();
  sqlite3_close_v2(db_);
  db_ = nullptr;
}

}  // namespace qlt
