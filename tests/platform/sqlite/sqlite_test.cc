#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/scratch_directory.h"
#include "platform/sqlite/database.h"
#include "platform/sqlite/sqlite_error.h"
#include "platform/sqlite/transaction.h"

namespace qlt {
namespace {

constexpr int kSQLiteBusy = 5;
constexpr int kSQLiteConstraintUnique = 2067;
constexpr int kSQLiteCantOpen = 14;

class SQLiteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.path().empty());
    path_ = scratch_.path("test.sqlite");
  }

  std::unique_ptr<Database> open(DatabaseOptions options = {}) {
    Error error;
    auto database = Database::open(path_, options, &error);
    EXPECT_NE(database, nullptr) << error.description();
    return database;
  }

  // The first column of every row of `sql`, as text.
  static std::vector<std::string> column(Database& database, const std::string& sql) {
    std::vector<std::string> values;
    Error error;
    auto statement = database.prepare(sql, &error);
    EXPECT_NE(statement, nullptr) << error.description();
    if (!statement) return values;
    while (statement->step(&error)) values.emplace_back(statement->columnText(0));
    EXPECT_FALSE(statement->failed()) << error.description();
    return values;
  }

  static std::optional<int64_t> integer(Database& database, const std::string& sql) {
    auto statement = database.prepare(sql);
    if (!statement || !statement->step()) return std::nullopt;
    return statement->columnInt64(0);
  }

  ScratchDirectory scratch_;
  std::string path_;
};

TEST_F(SQLiteTest, OpensInWALModeWithTheRequestedSettings) {
  auto database = open({.foreignKeys = false, .busyTimeout = std::chrono::milliseconds(1234)});
  ASSERT_NE(database, nullptr);
  EXPECT_EQ(column(*database, "PRAGMA journal_mode"), std::vector<std::string>{"wal"});
  EXPECT_EQ(integer(*database, "PRAGMA synchronous"), 1);  // NORMAL
  EXPECT_EQ(integer(*database, "PRAGMA foreign_keys"), 0);
  EXPECT_EQ(integer(*database, "PRAGMA busy_timeout"), 1234);

  Error error;
  EXPECT_EQ(Database::open(scratch_.path("missing.sqlite"), {.create = false}, &error), nullptr);
  EXPECT_EQ(error.domain(), kSQLiteErrorDomain);
  EXPECT_EQ(error.code(), kSQLiteCantOpen);
  EXPECT_EQ(error.userInfoString(kFilePathErrorKey), scratch_.path("missing.sqlite"));
}

TEST_F(SQLiteTest, StatementsBindAndReadEveryType) {
  auto database = open();
  ASSERT_TRUE(database->execute("CREATE TABLE t(i INTEGER, r REAL, s TEXT, b BLOB, n)"));
  auto insert = database->prepare("INSERT INTO t VALUES(?1, :r, @s, $b, ?5)");
  ASSERT_NE(insert, nullptr);
  EXPECT_EQ(insert->parameterCount(), 5);
  const std::vector<uint8_t> bytes = {0, 1, 255};
  ASSERT_TRUE(insert->bindInt64(1, int64_t{1} << 40));
  ASSERT_TRUE(insert->bindDouble(":r", 2.5));
  ASSERT_TRUE(insert->bindText("@s", std::string("nul\0inside", 10)));
  ASSERT_TRUE(insert->bindBlob("$b", bytes));
  ASSERT_TRUE(insert->bindNull(5));
  ASSERT_TRUE(insert->execute());
  EXPECT_EQ(database->changes(), 1);
  EXPECT_EQ(database->lastInsertRowID(), 1);
  // Empty values stay empty values, not NULL; bindings survive execute().
  ASSERT_TRUE(insert->bindText("@s", std::string_view()));
  ASSERT_TRUE(insert->bindBlob("$b", std::span<const uint8_t>()));
  ASSERT_TRUE(insert->execute());
  EXPECT_EQ(database->lastInsertRowID(), 2);

  Error error;
  EXPECT_FALSE(insert->bindInt64(":missing", 1, &error));
  EXPECT_NE(error.localizedDescription().find(":missing"), std::string::npos);

  auto select = database->prepare("SELECT i, r, s, b, n FROM t ORDER BY rowid");
  ASSERT_NE(select, nullptr);
  EXPECT_EQ(select->columnNames(), (std::vector<std::string>{"i", "r", "s", "b", "n"}));
  ASSERT_TRUE(select->step());
  EXPECT_EQ(select->columnType(0), Statement::ColumnType::Integer);
  EXPECT_EQ(select->columnInt64(0), int64_t{1} << 40);
  EXPECT_EQ(select->columnType(1), Statement::ColumnType::Float);
  EXPECT_EQ(select->columnDouble(1), 2.5);
  EXPECT_EQ(select->columnText(2), std::string_view("nul\0inside", 10));
  auto blob = select->columnBlob(3);
  EXPECT_EQ(std::vector<uint8_t>(blob.begin(), blob.end()), bytes);
  EXPECT_TRUE(select->isNull(4));
  ASSERT_TRUE(select->step());
  EXPECT_EQ(select->columnType(2), Statement::ColumnType::Text);
  EXPECT_EQ(select->columnType(3), Statement::ColumnType::Blob);
  EXPECT_TRUE(select->columnBlob(3).empty());
  EXPECT_FALSE(select->step());
  EXPECT_FALSE(select->failed());
}

TEST_F(SQLiteTest, ErrorsCarryTheExtendedCodeMessageAndStatement) {
  auto database = open();
  Error error;
  EXPECT_EQ(database->prepare("SELEC 1", &error), nullptr);
  EXPECT_EQ(error.domain(), kSQLiteErrorDomain);
  EXPECT_EQ(error.code(), 1);
  EXPECT_NE(error.localizedDescription().find("syntax error"), std::string::npos);
  EXPECT_EQ(error.userInfoString(kSQLiteSQLErrorKey), "SELEC 1");
  EXPECT_EQ(database->prepare("SELECT 1; SELECT 2", &error), nullptr);
  EXPECT_EQ(database->prepare("  ", &error), nullptr);

  ASSERT_TRUE(database->execute("CREATE TABLE t(x UNIQUE); INSERT INTO t VALUES(1)"));
  auto insert = database->prepare("INSERT INTO t VALUES(1)");
  ASSERT_NE(insert, nullptr);
  EXPECT_FALSE(insert->execute(&error));
  EXPECT_TRUE(insert->failed());
  EXPECT_EQ(error.code(), kSQLiteConstraintUnique);
  EXPECT_NE(error.localizedDescription().find("UNIQUE constraint failed: t.x"), std::string::npos);
  EXPECT_EQ(sqlitePrimaryResultCode(error), 19);
  EXPECT_FALSE(database->execute("INSERT INTO nowhere VALUES(1)", &error));
  EXPECT_NE(error.localizedDescription().find("no such table: nowhere"), std::string::npos);

  database->close();
  EXPECT_FALSE(database->execute("SELECT 1", &error));
  EXPECT_EQ(database->prepare("SELECT 1"), nullptr);
}

TEST_F(SQLiteTest, CachedStatementsAreResetAndReused) {
  auto database = open();
  const std::string sql = "SELECT ?1";
  Statement* first;
  {
    CachedStatement statement = database->cachedStatement(sql);
    ASSERT_NE(statement, nullptr);
    first = statement.get();
    EXPECT_TRUE(statement->bindInt64(1, 42));
    ASSERT_TRUE(statement->step());
    // Still in use, so a second request gets its own statement.
    CachedStatement other = database->cachedStatement(sql);
    ASSERT_NE(other, nullptr);
    EXPECT_NE(other.get(), first);
  }
  CachedStatement again = database->cachedStatement(sql);
  ASSERT_TRUE(again->step());
  EXPECT_TRUE(again->isNull(0));  // bindings were cleared
  CachedStatement outliving = database->cachedStatement(sql);
  database.reset();  // the lease finalizes its statement instead of returning it
}

TEST_F(SQLiteTest, TransactionsRollBackUnlessCommitted) {
  auto database = open();
  ASSERT_TRUE(database->execute("CREATE TABLE t(x)"));
  {
    auto transaction = Transaction::begin(*database, Transaction::Mode::Immediate);
    ASSERT_TRUE(transaction);
    ASSERT_TRUE(database->execute("INSERT INTO t VALUES(1)"));
    EXPECT_TRUE(transaction->isActive());
  }
  EXPECT_FALSE(database->inTransaction());
  EXPECT_EQ(integer(*database, "SELECT count(*) FROM t"), 0);

  auto transaction = Transaction::begin(*database);
  ASSERT_TRUE(transaction);
  ASSERT_TRUE(database->execute("INSERT INTO t VALUES(2)"));
  Transaction moved = std::move(*transaction);
  transaction.reset();  // the moved-from shell must not roll back
  ASSERT_TRUE(moved.commit());
  Error error;
  EXPECT_FALSE(moved.commit(&error));
  EXPECT_EQ(error.domain(), kSQLiteErrorDomain);
  EXPECT_EQ(integer(*database, "SELECT count(*) FROM t"), 1);

  auto nested = Transaction::begin(*database);
  EXPECT_FALSE(Transaction::begin(*database, Transaction::Mode::Deferred, &error));
  EXPECT_NE(error.localizedDescription().find("within a transaction"), std::string::npos);
}

TEST_F(SQLiteTest, ConnectionsSeeEachOthersCommitsInWAL) {
  auto writer = open();
  auto reader = open({.readOnly = true});
  ASSERT_TRUE(writer->execute("CREATE TABLE t(x)"));
  std::optional<int64_t> before = reader->dataVersion();
  ASSERT_TRUE(before);

  auto transaction = Transaction::begin(*writer, Transaction::Mode::Immediate);
  ASSERT_TRUE(writer->execute("INSERT INTO t VALUES('committed')"));
  // A reader is not blocked by the writer and does not see its changes yet.
  EXPECT_EQ(integer(*reader, "SELECT count(*) FROM t"), 0);
  EXPECT_EQ(reader->dataVersion(), before);
  ASSERT_TRUE(transaction->commit());

  EXPECT_EQ(column(*reader, "SELECT x FROM t"), std::vector<std::string>{"committed"});
  std::optional<int64_t> after = reader->dataVersion();
  EXPECT_NE(after, before);
  // A connection's own commits do not change what it reports.
  std::optional<int64_t> writerVersion = writer->dataVersion();
  ASSERT_TRUE(writer->execute("INSERT INTO t VALUES(2)"));
  EXPECT_EQ(writer->dataVersion(), writerVersion);
}

TEST_F(SQLiteTest, ImmediateTransactionsWaitForTheOtherWriter) {
  auto first = open();
  auto second = open({.busyTimeout = std::chrono::milliseconds(2000)});
  auto holding = Transaction::begin(*first, Transaction::Mode::Immediate);
  ASSERT_TRUE(holding);

  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(holding->commit());
  });
  Error error;
  auto waiting = Transaction::begin(*second, Transaction::Mode::Immediate, &error);
  const auto waited = Clock::now() - start;
  releaser.join();
  ASSERT_TRUE(waiting) << error.description();
  EXPECT_GE(waited, std::chrono::milliseconds(250));
  ASSERT_TRUE(waiting->commit());

  // Past the timeout the second writer gives up with SQLITE_BUSY.
  second->setBusyTimeout(std::chrono::milliseconds(100));
  auto again = Transaction::begin(*first, Transaction::Mode::Immediate);
  ASSERT_TRUE(again);
  const auto retried = Clock::now();
  EXPECT_FALSE(Transaction::begin(*second, Transaction::Mode::Immediate, &error));
  EXPECT_GE(Clock::now() - retried, std::chrono::milliseconds(90));
  EXPECT_EQ(sqlitePrimaryResultCode(error), kSQLiteBusy);
  EXPECT_NE(error.localizedDescription().find("locked"), std::string::npos);
}

TEST_F(SQLiteTest, CollationsOrderAndCompareNames) {
  auto database = open();
  ASSERT_TRUE(database->execute(
      "CREATE TABLE names(name TEXT);"
      "INSERT INTO names VALUES('File 10.txt'),('résumé'),('Zebra'),('file 1.txt'),('RESUME'),('File 2.txt'),"
      "('resume'),('zebra'),('Ｒésumé')"));
  EXPECT_EQ(column(*database, "SELECT name FROM names ORDER BY name COLLATE QLT_LOCALIZED_STANDARD"),
            (std::vector<std::string>{"file 1.txt", "File 2.txt", "File 10.txt", "resume", "RESUME", "résumé",
                                      "Ｒésumé", "zebra", "Zebra"}));
  EXPECT_EQ(integer(*database, "SELECT count(*) FROM names WHERE name = 'Resume' COLLATE QLT_NOCASE"), 2);
  EXPECT_EQ(integer(*database, "SELECT count(*) FROM names WHERE name = 'Resume' COLLATE QLT_NOCASE_DIACRITIC"), 4);
  EXPECT_FALSE(database->execute("CREATE UNIQUE INDEX unique_name ON names(name COLLATE QLT_NOCASE_DIACRITIC)"));
}

TEST_F(SQLiteTest, PredicateFunctions) {
  auto database = open();
  struct Case {
    const char* sql;
    const char* result;
  };
  const Case cases[] = {
      {"SELECT qlt_fold('Ｒésumé', 7)", "resume"},
      {"SELECT qlt_fold('Résumé')", "Résumé"},
      {"SELECT qlt_fold(NULL, 1) IS NULL", "1"},
      {"SELECT qlt_like('*.txt', 'Notes.TXT', 1)", "1"},
      {"SELECT qlt_like('*.txt', 'Notes.TXT')", "0"},
      {"SELECT qlt_like('a?c', 'abc', 0)", "1"},
      {"SELECT qlt_like('a%', 'abc', 0)", "0"},
      {"SELECT qlt_like('a_c', 'abc', 0)", "0"},
      {"SELECT qlt_like(NULL, 'abc', 0)", "0"},
      {"SELECT qlt_like('*', NULL, 0)", "0"},
      {"SELECT qlt_matches('[a-c]+\\d', 'abc1', 0)", "1"},
      {"SELECT qlt_matches('[a-c]+\\d', 'abc1 ', 0)", "0"},
      {"SELECT qlt_matches('r.sume', 'RÉSUMÉ', 3)", "1"},
      {"SELECT qlt_beginswith('Résumé.pdf', 'resu', 3)", "1"},
      {"SELECT qlt_endswith('Résumé.pdf', '.PDF', 1)", "1"},
      {"SELECT qlt_contains('Le Résumé.pdf', 'RESU', 1)", "0"},
      {"SELECT qlt_contains('Le Résumé.pdf', 'RESU', 3)", "1"},
      {"SELECT qlt_contains(NULL, 'a', 1)", "0"},
      {"SELECT qlt_contains(CAST(x'61ff' AS TEXT), 'a', 1)", "1"},
      {"SELECT qlt_matches('.', CAST(x'ff' AS TEXT), 0)", "1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(column(*database, c.sql), std::vector<std::string>{c.result}) << c.sql;
  }

  // A pattern compiled for one row is reused only while pattern and options
  // stay the same, here with options varying per row and patterns per query.
  ASSERT_TRUE(database->execute(
      "CREATE TABLE names(name TEXT, options INTEGER);"
      "INSERT INTO names VALUES('a.txt', 0),('B.TXT', 1),('C.TXT', 0),('c.pdf', 1),(NULL, 1),('d.txt', 1)"));
  auto select = database->prepare(
      "SELECT group_concat(name) FROM names WHERE qlt_like(?1, name, options) AND qlt_matches(?2, name, options)");
  ASSERT_NE(select, nullptr);
  const struct {
    const char* like;
    const char* regex;
    const char* names;
  } queries[] = {{"*.txt", ".*", "a.txt,B.TXT,d.txt"}, {"?.PDF", "C.*", "c.pdf"}, {"*", "[a-b].*", "a.txt,B.TXT"}};
  for (const auto& query : queries) {
    EXPECT_TRUE(select->bindText(1, query.like));
    EXPECT_TRUE(select->bindText(2, query.regex));
    ASSERT_TRUE(select->step());
    EXPECT_EQ(select->columnText(0), query.names) << query.like << " " << query.regex;
    select->reset();
  }

  Error error;
  auto invalid = database->prepare("SELECT qlt_matches('(unclosed', name) FROM names");
  ASSERT_NE(invalid, nullptr);
  EXPECT_FALSE(invalid->step(&error));
  EXPECT_TRUE(invalid->failed());
  EXPECT_NE(error.localizedDescription().find("(unclosed"), std::string::npos);
}

}  // namespace
}  // namespace qlt
