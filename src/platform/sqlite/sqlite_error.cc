#include "platform/sqlite/sqlite_error.h"

#include <sqlite3.h>

namespace qlt {

Error sqliteError(sqlite3* db, int resultCode, std::string_view sql) {
  // The connection's message belongs to its latest failure, which need not be
  // this one when the code came from elsewhere.
  bool messageMatches = db && sqlite3_extended_errcode(db) == resultCode;
  return sqliteError(resultCode, messageMatches ? sqlite3_errmsg(db) : sqlite3_errstr(resultCode), sql);
}

Error sqliteError(int resultCode, const std::string& message, std::string_view sql) {
  Error error(kSQLiteErrorDomain, resultCode, message);
  if (!sql.empty()) error.setUserInfoValue(kSQLiteSQLErrorKey, std::string(sql));
  return error;
}

int sqlitePrimaryResultCode(const Error& error) {
  return error.domain() == kSQLiteErrorDomain ? static_cast<int>(error.code() & 0xFF) : 0;
}

}  // namespace qlt
