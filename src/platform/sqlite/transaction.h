#pragma once

#include <optional>

#include "platform/foundation/error.h"

namespace qlt {

class Database;

// A transaction on a database that rolls back when it goes away without a
// successful commit. Transactions do not nest.
class Transaction {
 public:
  // Deferred takes locks on first use; Immediate takes the write lock at once
  // (waiting up to the busy timeout for other writers); Exclusive also keeps
  // readers of other connections out where the journal mode allows.
  enum class Mode { Deferred, Immediate, Exclusive };

  [[nodiscard]] static std::optional<Transaction> begin(Database& database, Mode mode = Mode::Deferred, Error* error = nullptr);

  Transaction(Transaction&& other) noexcept;
  Transaction& operator=(Transaction&&) = delete;
  ~Transaction();

  // A commit that fails leaves the transaction active (for a retry or
  // rollback) unless SQLite itself already rolled it back.
  [[nodiscard]] bool commit(Error* error = nullptr);
  [[nodiscard]] bool rollback(Error* error = nullptr);
  bool isActive() const;

 private:
  explicit Transaction(Database& database) : database_(&database) {}

  Database* database_;
  bool finished_ = false;
};

}  // namespace qlt
