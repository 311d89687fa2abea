#include "platform/sqlite/statement.h"

#include <sqlite3.h>

#include "platform/sqlite/sqlite_error.h"

namespace qlt {

Statement::Statement(sqlite3_stmt* statement, std::string sql) : statement_(statement), sql_(std::move(sql)) {}

Statement::~Statement() { sqlite3_finalize(statement_); }

bool Statement::check(int resultCode, Error* error) {
  if (resultCode == SQLITE_OK) return true;
  setError(error, sqliteError(sqlite3_db_handle(statement_), resultCode, sql_));
  return false;
}

int Statement::parameterCount() const { return sqlite3_bind_parameter_count(statement_); }

int Statement::parameterIndex(const std::string& name) const {
  return sqlite3_bind_parameter_index(statement_, name.c_str());
}

int Statement::requiredIndex(const std::string& name, Error* error) const {
  int index = parameterIndex(name);
  if (index == 0) setError(error, sqliteError(SQLITE_RANGE, "no parameter named " + name, sql_));
  return index;
}

bool Statement::bindNull(int index, Error* error) { return check(sqlite3_bind_null(statement_, index), error); }

bool Statement::bindInt64(int index, int64_t value, Error* error) {
  return check(sqlite3_bind_int64(statement_, index, value), error);
}

bool Statement::bindDouble(int index, double value, Error* error) {
  return check(sqlite3_bind_double(statement_, index, value), error);
}

bool Statement::bindText(int index, std::string_view value, Error* error) {
  // A null pointer would bind NULL instead of the empty string.
  const char* text = value.data() ? value.data() : "";
  return check(sqlite3_bind_text64(statement_, index, text, value.size(), SQLITE_TRANSIENT, SQLITE_UTF8), error);
}

bool Statement::bindBlob(int index, std::span<const uint8_t> value, Error* error) {
  if (value.empty()) return check(sqlite3_bind_zeroblob(statement_, index, 0), error);
  return check(sqlite3_bind_blob64(statement_, index, value.data(), value.size(), SQLITE_TRANSIENT), error);
}

bool Statement::bindNull(const std::string& name, Error* error) {
  int index = requiredIndex(name, error);
  return index != 0 && bindNull(index, error);
}

bool Statement::bindInt64(const std::string& name, int64_t value, Error* error) {
  int index = requiredIndex(name, error);
  return index != 0 && bindInt64(index, value, error);
}

bool Statement::bindDouble(const std::string& name, double value, Error* error) {
  int index = requiredIndex(name, error);
  return index != 0 && bindDouble(index, value, error);
}

bool Statement::bindText(const std::string& name, std::string_view value, Error* error) {
  int index = requiredIndex(name, error);
  return index != 0 && bindText(index, value, error);
}

bool Statement::bindBlob(const std::string& name, std::span<const uint8_t> value, Error* error) {
  int index = requiredIndex(name, error);
  return index != 0 && bindBlob(index, value, error);
}

bool Statement::step(Error* error) {
  int resultCode = sqlite3_step(statement_);
  failed_ = resultCode != SQLITE_ROW && resultCode != SQLITE_DONE;
  if (failed_) {
    setError(error, sqliteError(sqlite3_db_handle(statement_), resultCode, sql_));
    sqlite3_reset(statement_);
  }
  return resultCode == SQLITE_ROW;
}

bool Statement::execute(Error* error) {
  while (step(error)) {
  }
  reset();
  return !failed_;
}

void Statement::reset() { sqlite3_reset(statement_); }

void Statement::clearBindings() { sqlite3_clear_bindings(statement_); }

int Statement::columnCount() const { return sqlite3_column_count(statement_); }

std::string Statement::columnName(int column) const {
  const char* name = sqlite3_column_name(statement_, column);
  return name ? name : "";
}

std::vector<std::string> Statement::columnNames() const {
  std::vector<std::string> names;
  for (int column = 0; column < columnCount(); ++column) names.push_back(columnName(column));
  return names;
}

Statement::ColumnType Statement::columnType(int column) const {
  switch (sqlite3_column_type(statement_, column)) {
    case SQLITE_INTEGER:
      return ColumnType::Integer;
    case SQLITE_FLOAT:
      return ColumnType::Float;
    case SQLITE_TEXT:
      return ColumnType::Text;
    case SQLITE_BLOB:
      return ColumnType::Blob;
    default:
      return ColumnType::Null;
  }
}

int64_t Statement::columnInt64(int column) const { return sqlite3_column_int64(statement_, column); }

double Statement::columnDouble(int column) const { return sqlite3_column_double(statement_, column); }

std::string_view Statement::columnText(int column) const {
  const unsigned char* text = sqlite3_column_text(statement_, column);
  if (!text) return {};
  return {reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_column_bytes(statement_, column))};
}

std::span<const uint8_t> Statement::columnBlob(int column) const {
  const void* blob = sqlite3_column_blob(statement_, column);
  if (!blob) return {};
  return {static_cast<const uint8_t*>(blob), static_cast<size_t>(sqlite3_column_bytes(statement_, column))};
}

}  // namespace qlt
