#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/error.h"

struct sqlite3_stmt;

namespace qlt {

// A prepared SQLite statement. Parameters are numbered from 1, columns from
// 0; named parameters are written with their prefix (":name", "@name",
// "$name"). Texts and blobs are copied when bound.
class Statement {
 public:
  enum class ColumnType { Integer, Float, Text, Blob, Null };

  // Takes ownership of `statement`; `sql` is the text it was prepared from.
  Statement(sqlite3_stmt* statement, std::string sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  const std::string& sql() const { return sql_; }
  sqlite3_stmt* handle() const { return statement_; }

  int parameterCount() const;
  // 0 when the statement has no parameter of that name.
  int parameterIndex(const std::string& name) const;

  [[nodiscard]] bool bindNull(int index, Error* error = nullptr);
  [[nodiscard]] bool bindInt64(int index, int64_t value, Error* error = nullptr);
  [[nodiscard]] bool bindDouble(int index, double value, Error* error = nullptr);
  [[nodiscard]] bool bindText(int index, std::string_view value, Error* error = nullptr);
  [[nodiscard]] bool bindBlob(int index, std::span<const uint8_t> value, Error* error = nullptr);

  [[nodiscard]] bool bindNull(const std::string& name, Error* error = nullptr);
  [[nodiscard]] bool bindInt64(const std::string& name, int64_t value, Error* error = nullptr);
  [[nodiscard]] bool bindDouble(const std::string& name, double value, Error* error = nullptr);
  [[nodiscard]] bool bindText(const std::string& name, std::string_view value, Error* error = nullptr);
  [[nodiscard]] bool bindBlob(const std::string& name, std::span<const uint8_t> value, Error* error = nullptr);

  // Advances to the next row: true when there is one, false when the
  // statement is done or failed (failed() tells which). Stepping again after
  // the end starts over.
  [[nodiscard]] bool step(Error* error = nullptr);
  bool failed() const { return failed_; }
  // Steps through every row and resets, for statements run for their effect.
  [[nodiscard]] bool execute(Error* error = nullptr);

  // Ready to run again; bindings are kept.
  void reset();
  void clearBindings();

  int columnCount() const;
  std::string columnName(int column) const;
  std::vector<std::string> columnNames() const;
  ColumnType columnType(int column) const;
  bool isNull(int column) const { return columnType(column) == ColumnType::Null; }
  int64_t columnInt64(int column) const;
  double columnDouble(int column) const;
  // Valid until the next step, reset or column conversion of this column.
  std::string_view columnText(int column) const;
  std::span<const uint8_t> columnBlob(int column) const;

 private:
  [[nodiscard]] bool check(int resultCode, Error* error);
  int requiredIndex(const std::string& name, Error* error) const;

  sqlite3_stmt* statement_;
  std::string sql_;
  bool failed_ = false;
};

}  // namespace qlt
