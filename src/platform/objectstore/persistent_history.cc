#include "platform/objectstore/persistent_history.h"

#include <mutex>

#include "platform/sqlite/database.h"
#include "platform/objectstore/store_coordinator.h"

namespace qlt {
namespace {

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ",") + name;
  return text;
}

std::vector<std::string> splitNames(std::string_view text) {
  std::vector<std::string> names;
  while (!text.empty()) {
    size_t comma = text.find(',');
    names.emplace_back(text.substr(0, comma));
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return names;
}

}  // namespace

ContextChanges HistoryTransaction::objectIDNotification() const {
  ContextChanges changes;
  for (const HistoryChange& change : this->changes) {
    switch (change.type) {
      case HistoryChangeType::Insert:
        changes.inserted.push_back(change.objectID);
        break;
      case HistoryChangeType::Update:
        changes.updated.push_back(change.objectID);
        break;
      case HistoryChangeType::Delete:
        changes.deleted.push_back(change.objectID);
        break;
    }
  }
  return changes;
}

bool writeHistoryTransaction(Database& database, const HistoryTransaction& transaction, Error* error) {
  auto insert = database.cachedStatement(
      "INSERT INTO \"_qlt_history_transactions\" (\"timestamp\", \"author\", \"context\") VALUES (?, ?, ?)", error);
  if (!insert || !insert->bindDouble(1, transaction.timestamp.timeIntervalSinceReferenceDate(), error) ||
      !insert->bindText(2, transaction.author, error) || !insert->bindText(3, transaction.contextName, error) ||
      !insert->execute(error))
    return false;
  int64_t id = database.lastInsertRowID();
  auto change = database.cachedStatement(
      "INSERT INTO \"_qlt_history_changes\" (\"transaction_id\", \"entity\", \"pk\", \"type\", \"updated\") "
      "VALUES (?, ?, ?, ?, ?)",
      error);
  if (!change) return false;
  for (const HistoryChange& entry : transaction.changes) {
    bool bound = change->bindInt64(1, id, error) && change->bindText(2, entry.objectID.entityName, error) &&
                 change->bindInt64(3, entry.objectID.primaryKey, error) &&
                 change->bindInt64(4, static_cast<int64_t>(entry.type), error) &&
                 (entry.updatedProperties.empty() ? change->bindNull(5, error)
                                                  : change->bindText(5, joined(entry.updatedProperties), error));
    if (!bound || !change->execute(error)) return false;
  }
  return true;
}

std::optional<std::vector<HistoryTransaction>> fetchHistoryAfterDate(StoreCoordinator& coordinator, Date date,
                                                                     Error* error) {
  std::lock_guard lock(coordinator.mutex());
  Database& database = coordinator.store().database();
  auto statement = database.cachedStatement(
      "SELECT t.\"id\", t.\"timestamp\", t.\"author\", t.\"context\", c.\"entity\", c.\"pk\", c.\"type\", "
      "c.\"updated\" FROM \"_qlt_history_transactions\" t LEFT JOIN \"_qlt_history_changes\" c "
      "ON c.\"transaction_id\" = t.\"id\" WHERE t.\"timestamp\" > ? ORDER BY t.\"id\", c.\"id\"",
      error);
  if (!statement || !statement->bindDouble(1, date.timeIntervalSinceReferenceDate(), error)) return std::nullopt;
  std::vector<HistoryTransaction> transactions;
  const std::string& store = coordinator.store().identifier();
  while (statement->step(error)) {
    int64_t id = statement->columnInt64(0);
    if (transactions.empty() || transactions.back().token != id) {
      HistoryTransaction transaction;
      transaction.token = id;
      transaction.timestamp = Date(statement->columnDouble(1));
      transaction.author = std::string(statement->columnText(2));
      transaction.contextName = std::string(statement->columnText(3));
      transactions.push_back(std::move(transaction));
    }
    if (statement->isNull(4)) continue;
    HistoryChange change;
    change.objectID = ObjectID{store, std::string(statement->columnText(4)), statement->columnInt64(5)};
    int64_t type = statement->columnInt64(6);
    if (type < 0 || type > 2) continue;
    change.type = static_cast<HistoryChangeType>(type);
    if (!statement->isNull(7)) change.updatedProperties = splitNames(statement->columnText(7));
    transactions.back().changes.push_back(std::move(change));
  }
  if (statement->failed()) return std::nullopt;
  return transactions;
}

}  // namespace qlt
