#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/error.h"
#include "platform/sqlite/statement.h"

struct sqlite3;

namespace qlt {

struct DatabaseOptions {
  bool readOnly = false;
  // Creates the file when missing; ignored for read-only connections.
  bool create = true;
  bool foreignKeys = true;
  // How long a statement waits for another connection's lock before failing
  // with SQLITE_BUSY.
  std::chrono::milliseconds busyTimeout{5000};
};

class StatementCache;

// Gives a cached statement back to its database, reset and unbound. A
// statement that outlives its database is finalized instead.
struct CachedStatementReturn {
  std::weak_ptr<StatementCache> cache;
  void operator()(Statement* statement) const;
};
using CachedStatement = std::unique_ptr<Statement, CachedStatementReturn>;

// One SQLite connection in WAL mode with synchronous=NORMAL, with the
// collations and functions of sqlite/string_functions.h registered. Use it
// from one thread at a time.
class Database {
 public:
  static std::unique_ptr<Database> open(const std::string& path, const DatabaseOptions& options = {},
                                        Error* error = nullptr);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  const std::string& path() const { return path_; }
  sqlite3* handle() const { return db_; }

  // Runs one or more statements separated by semicolons.
  [[nodiscard]] bool execute(const std::string& sql, Error* error = nullptr);
  // Prepares exactly one statement.
  std::unique_ptr<Statement> prepare(std::string_view sql, Error* error = nullptr);
  // A statement prepared once per connection and reused; while one is out, a
  // request for the same text prepares another.
  CachedStatement cachedStatement(const std::string& sql, Error* error = nullptr);

  int64_t lastInsertRowID() const;
  // Rows changed by the latest INSERT, UPDATE or DELETE.
  int changes() const;
  // Changes whenever another connection commits to the database file.
  [[nodiscard]] std::optional<int64_t> dataVersion(Error* error = nullptr);
  bool inTransaction() const;

  void setBusyTimeout(std::chrono::milliseconds timeout);
  std::chrono::milliseconds busyTimeout() const { return busyTimeout_; }

  // Statements still alive keep the connection open until they are gone.
  void close();

 private:
  Database(sqlite3* db, std::string path);
  [[nodiscard]] bool isClosed(Error* error) const;

  sqlite3* db_;
  std::string path_;
  std::chrono::milliseconds busyTimeout_{0};
  std::shared_ptr<StatementCache> cache_;
};

}  // namespace qlt
