#include "platform/sqlite/transaction.h"

#include <sqlite3.h>

#include "platform/sqlite/database.h"
#include "platform/sqlite/sqlite_error.h"

namespace qlt {
namespace {

Error endedError() { return sqliteError(SQLITE_MISUSE, "the transaction has already ended"); }

}  // namespace

std::optional<Transaction> Transaction::begin(Database& database, Mode mode, Error* error) {
  const char* sql = mode == Mode::Immediate   ? "BEGIN IMMEDIATE"
                    : mode == Mode::Exclusive ? "BEGIN EXCLUSIVE"
                                              : "BEGIN DEFERRED";
  if (!database.execute(sql, error)) return std::nullopt;
  return Transaction(database);
}

Transaction::Transaction(Transaction&& other) noexcept : database_(other.database_), finished_(other.finished_) {
  other.finished_ = true;
}

Transaction::~Transaction() {
  if (isActive()) (void)rollback();  // nothing to report to from a destructor
}

bool Transaction::isActive() const { return !finished_ && database_->inTransaction(); }

bool Transaction::commit(Error* error) {
  if (finished_) {
    setError(error, endedError());
    return false;
  }
  bool committed = database_->execute("COMMIT", error);
  finished_ = committed || !database_->inTransaction();
  return committed;
}

bool Transaction::rollback(Error* error) {
  if (finished_) {
    setError(error, endedError());
    return false;
  }
  finished_ = true;
  return !database_->inTransaction() || database_->execute("ROLLBACK", error);
}

}  // namespace qlt
