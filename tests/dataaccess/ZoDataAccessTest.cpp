// Tests of the data-access library on real databases (SQLite always,
// PostgreSQL when configured) and of its text helpers.
#include <gtest/gtest.h>

#include <sql.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ZoDataAccess.h"
#include "dataaccess/DbBackends.h"
#include "dataaccess/detail/ConnectString.h"
#include "dataaccess/detail/Failure.h"
#include "dataaccess/detail/SqlText.h"
#include "support/LogCapture.h"

namespace quor::test {
namespace {

using quor::dataaccess::detail::buildConnectString;
using quor::dataaccess::detail::isLinkFailure;
using quor::dataaccess::detail::splitStatements;

// Runs `sql` on `c` and gives column "v" of every row, each followed by '|'.
std::string rowsOf(ZoDbConnect& c, const std::string& sql) {
  c.executeSQL(sql.c_str(), ZoDbConnect::ZO_SQL_SPLIT);
  std::string out;
  while (c.fetchNextRow() == 0) {
    const char* value = c.getColVal("v");
    out += std::string(value == nullptr ? "<null>" : value) + "|";
  }
  return out;
}

class ZoDbConnectTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    _db = std::make_unique<TestDatabase>(GetParam(), std::string("da_") + info->name());
    QUOR_REQUIRE_DATABASE(*_db);
  }
  ZoDbConnect& connected() {
    _c.connect(_db->connectString().c_str(), nullptr, nullptr, nullptr);
    return _c;
  }
  std::unique_ptr<TestDatabase> _db;
  ZoDbConnect _c;
};

TEST_P(ZoDbConnectTest, Rows_GiveTextNullAndIntegersByColumnName) {
  _db->exec(
      "INSERT INTO entities (entity_name, entity_type) VALUES ('alpha', 1);"
      "INSERT INTO entities (entity_name, entity_type) VALUES ('beta', 6)");
  ZoDbConnect& c = connected();
  c.executeSQL("SELECT entity_name AS EntityName, entity_type AS EntityType, NULL AS Missing "
               "FROM entities ORDER BY entity_name", ZoDbConnect::ZO_SQL_SPLIT);
  for (const auto& [name, type] : {std::pair{"alpha", 1}, std::pair{"beta", 6}}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(0, c.fetchNextRow());
    EXPECT_STREQ(name, c.getColVal("EntityName"));
    EXPECT_STREQ(name, c.getColVal("entityname")) << "column names ignore case";
    EXPECT_EQ(type, c.getColValInt("EntityType"));
    EXPECT_EQ(nullptr, c.getColVal("Missing")) << "SQL NULL gives null";
    EXPECT_EQ(nullptr, c.getColVal("NoSuchColumn"));
  }
  EXPECT_EQ(1, c.fetchNextRow());
  EXPECT_EQ(nullptr, c.getColVal("EntityName")) << "no row is current after the end";
}

TEST_P(ZoDbConnectTest, ExecuteSQL_RunsStatementsInOrderKeepsLastRowsAndLongContent) {
  ZoDbConnect& c = connected();
  // A ';' inside a literal does not cut the text.
  EXPECT_EQ("a;b|it's|",
            rowsOf(c, "INSERT INTO global_settings (section, setting_key, setting_value) VALUES ('s', 'k1', 'a;b');\n"
                      "INSERT INTO global_settings (section, setting_key, setting_value) VALUES ('s', 'k2', 'it''s');\n"
                      "SELECT setting_value AS v FROM global_settings WHERE section = 's' ORDER BY setting_key;"));
  std::string content;  // beyond 8 KB
  for (int i = 0; content.size() < 20000; ++i) content += "line " + std::to_string(i) + " of the blob\n";
  c.executeSQL(("INSERT INTO named_objects (kind, name, content) VALUES (3, 'big', '" + content + "')").c_str(),
               ZoDbConnect::ZO_SQL_SPLIT);
  EXPECT_EQ(content + "|", rowsOf(c, "SELECT content AS v FROM named_objects WHERE name = 'big'"));
}

TEST_P(ZoDbConnectTest, Failure_ThrowsSqlStateAndDriverMessage) {
  ZoDbConnect& c = connected();
  const std::string text = thrownText([&] { c.executeSQL("SELECT * FROM no_such_table", ZoDbConnect::ZO_SQL_SPLIT); });
  EXPECT_NE(std::string::npos, text.find("no_such_table")) << text;
  ASSERT_GE(text.size(), 7u) << text;
  EXPECT_EQ(": ", text.substr(5, 2)) << "<5-character SQLSTATE>: <message>: " << text;
  char error[512] = "untouched";
  c.getError(SQL_HANDLE_STMT, nullptr, error, sizeof error);
  EXPECT_EQ(text, error) << "the statement's diagnostic, asked for again";
  EXPECT_EQ(1, c.fetchNextRow()) << "no rows after a failed statement";
  EXPECT_EQ("7|", rowsOf(c, "SELECT 7 AS v")) << "the connection is still usable";
  // A text that opens a savepoint is undone to its first one when a later
  // statement fails; the caller's transaction keeps what it held, and the
  // caller's own savepoint, which the text did not open, is released by name.
  const std::string insert = "INSERT INTO global_settings (section, setting_key, setting_value) VALUES ('s', ";
  rowsOf(c, "BEGIN; " + insert + "'kept', '1'); SAVEPOINT mine");
  EXPECT_NE("<nothing thrown>", thrownText([&] {
    rowsOf(c, "SAVEPOINT f; SAVEPOINT f; RELEASE f; " + insert + "'undone', '2'); SELECT * FROM no_such_table");
  }));
  rowsOf(c, "RELEASE mine");
  EXPECT_EQ("kept|", rowsOf(c, "SELECT setting_key AS v FROM global_settings WHERE section = 's'"));
  rowsOf(c, "COMMIT");
}

TEST_P(ZoDbConnectTest, Connect_ResolvesDataSourceFromInstallationOdbcIni) {
  TempDir home;
  _db->writeOdbcIni(home.path() + "/config/odbc.ini", "QuorTestDsn");
  ScopedEnv quorHome("QUOR_HOME", home.path().c_str()), odbcIni("ODBCINI", nullptr);
  _c.connect(("ODBC;DRIVER=;DSN=QuorTestDsn;UID=;PWD=;DATABASE=" + _db->databaseValue()).c_str(), "QuorTestDsn", "",
             "");
  EXPECT_EQ("through the file|", rowsOf(_c, "SELECT 'through the file' AS v"));
}

TEST(ZoDbConnect, Connect_UnknownDataSourceThrowsAndNamesIt) {
  TempDir home;
  ScopedEnv quorHome("QUOR_HOME", home.path().c_str());
  ZoDbConnect c;
  const std::string text = thrownText([&] {
    c.connect("ODBC;DRIVER=;DSN=QuorNoSuchDsn;UID=u;PWD=secret;DATABASE=x", "QuorNoSuchDsn", "u", "secret");
  });
  EXPECT_EQ("IM002", text.substr(0, 5)) << text;
  EXPECT_NE(std::string::npos, text.find("QuorNoSuchDsn")) << text;
  EXPECT_EQ(std::string::npos, text.find("secret")) << "the password never shows: " << text;
  EXPECT_EQ("08003: connection not open", thrownText([&] { c.executeSQL("SELECT 1", ZoDbConnect::ZO_SQL_SPLIT); }));
}

using ZoDataAccessTest = ZoDbConnectTest;

TEST_P(ZoDataAccessTest, Loans_ReuseThePoolsConnectionsAndReinitRebuilds) {
  ZoDataAccess pool;
  pool.init(_db->connectString().c_str(), 2, nullptr, nullptr, nullptr);
  const std::set<ZoDbConnect*> first = lendAll(pool, 2);
  ASSERT_EQ(2u, first.size());
  for (int i = 0; i < 1000; ++i) {
    ZoDbConnect* c = pool.getConnect();
    if (i == 0) thrownText([&] { rowsOf(*c, "SELECT * FROM no_such_table"); });  // no link failure: kept
    ASSERT_EQ("1|", rowsOf(*c, "SELECT 1 AS v"));
    pool.returnConnect(c);
  }
  pool.returnConnect(nullptr);
  EXPECT_EQ(first, lendAll(pool, 2)) << "a thousand loans leave the same two connections";
  ZoDbConnect* held = pool.getConnect();
  ASSERT_TRUE(pool.reinit());
  pool.returnConnect(held);  // an old-generation connection: closed, not kept
  ZoDbConnect* c = pool.getConnect();
  EXPECT_EQ("3|", rowsOf(*c, "SELECT 3 AS v"));
  pool.returnConnect(c);
}

TEST_P(ZoDataAccessTest, Loans_BeyondCountOpenExtraConnectionsThatAreNotKept) {
  ZoDataAccess pool;
  pool.init(_db->connectString().c_str(), 1, nullptr, nullptr, nullptr);
  ZoDbConnect* a = pool.getConnect();
  ZoDbConnect* b = pool.getConnect();  // this thread holds `a`: an extra, without waiting
  ASSERT_NE(a, b);
  EXPECT_EQ("2|", rowsOf(*b, "SELECT 2 AS v"));
  pool.returnConnect(a);
  pool.returnConnect(b);
  EXPECT_EQ(std::set<ZoDbConnect*>{a}, lendAll(pool, 1)) << "only `count` connections are kept";
}

TEST(ZoDataAccess, Uninitialised_LoanThrowsAndReinitFails) {
  ZoDataAccess pool;
  EXPECT_EQ("ZoDataAccess::getConnect: the pool was never initialised", thrownText([&] { pool.getConnect(); }));
  LogCapture log;
  EXPECT_FALSE(pool.reinit());
  EXPECT_EQ((std::vector<LogEntry>{{1, "ZoDataAccess::reinit: the pool was never initialised"}}), log.entries());
}

TEST(ZoDataAccess, Init_FailureThrowsDriverTextAndDropsTheEarlierConnections) {
  TestDatabase db(Backend::Sqlite, "da_reinit");
  ZoDataAccess pool;
  pool.init(db.connectString().c_str(), 1, nullptr, nullptr, nullptr);
  const std::string text =
      thrownText([&] { pool.init("DRIVER=QuorNoSuchDriver;Database=x;", 2, nullptr, nullptr, nullptr); });
  EXPECT_NE(std::string::npos, text.find("QuorNoSuchDriver")) << text;
  EXPECT_EQ(": ", text.substr(5, 2)) << text;
  EXPECT_EQ(text, thrownText([&] { pool.getConnect(); })) << "a connection of the first init was lent";
}

INSTANTIATE_TEST_SUITE_P(Backends, ZoDbConnectTest, ::testing::ValuesIn(allBackends()),
                         [](const auto& p) { return std::string(backendName(p.param)); });
INSTANTIATE_TEST_SUITE_P(Backends, ZoDataAccessTest, ::testing::ValuesIn(allBackends()),
                         [](const auto& p) { return std::string(backendName(p.param)); });

// ---------------------------------------------------------------------------
// Statement files.

class ZoSqlLoaderTest : public ::testing::Test {
 protected:
  void put(const std::string& name, const std::string& text) { writeFile(_dir.path() + "/" + name, text); }
  TempDir _dir;
};

// A dialect folder holds only its overrides; the rest is read from the folder
// "common" beside it. A failure names the file as the dialect folder has it.
TEST_F(ZoSqlLoaderTest, LoadSQL_DialectOverCommonBufferBoundaryAndFailures) {
  put("pgsql/ui_Exact.sql", "SELECT %d");  // with 12345: 12 characters
  put("pgsql/ui_Bad.sql", "SELECT %x");
  put("pgsql/ui_Bom.sql", "\xEF\xBB\xBFSELECT %d");
  put("common/ui_Exact.sql", "SELECT 'common'");
  put("common/ui_Shared.sql", "SELECT %d FROM shared");
  put("common/ui_Dir.sql/x", "");  // a folder, not a statement file
  const std::string l = "ZoSqlLoader::loadSQL: ", missing = l + "cannot open statement file ";
  const std::string pg = "/pgsql", sql = _dir.path(), none = "<nothing thrown>";
  // clang-format off
  struct Case { std::string dir; const char* file; int size; std::string thrown; const char* buffer; };  // buffer null: not checked
  const Case cases[] = {
      {pg, "ui_Exact.sql", 13, none, "SELECT 12345"},
      {pg, "ui_Bom.sql", 13, none, "SELECT 12345"},
      {pg, "ui_Shared.sql", 64, none, "SELECT 12345 FROM shared"},
      {"\\sqlite\\", "ui_Exact.sql", 64, none, "SELECT 'common'"},  // no sqlite folder at all
      {pg, "ui_Exact.sql", 12, l + "statement of file ui_Exact.sql needs 13 bytes, buffer has 12", ""},
      {pg, "ui_Exact.sql", 0, l + "no buffer for statement file ui_Exact.sql", nullptr},
      {pg, "ui_Missing.sql", 64, missing + "ui_Missing.sql (" + sql + "/pgsql/ui_Missing.sql)", ""},
      {pg, "ui_Dir.sql", 64, missing + "ui_Dir.sql (" + sql + "/pgsql/ui_Dir.sql)", ""},
      {"/common", "ui_Bom.sql", 64, missing + "ui_Bom.sql (" + sql + "/common/ui_Bom.sql)", ""},
      {pg, "ui_Bad.sql", 64, l + "statement file ui_Bad.sql: unsupported conversion '%x' at offset 7", nullptr},
  };
  // clang-format on
  const auto load = [&](const std::string& dir, char* buffer, int size, const char* file) {
    return thrownText([&] { ZoSqlLoader((sql + dir).c_str()).loadSQL(buffer, size, file, 12345); });
  };
  EXPECT_EQ(l + "no buffer for statement file ui_Exact.sql", load(pg, nullptr, 64, "ui_Exact.sql"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dir + " " + c.file + " in " + std::to_string(c.size));
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(c.thrown, load(c.dir, buffer, c.size, c.file));
    if (c.buffer != nullptr) {
      EXPECT_STREQ(c.buffer, buffer) << "a cut statement is never left in the buffer";
    }
  }
}

TEST_F(ZoSqlLoaderTest, LoadSQL_SetsArgumentsFromBackslashFolderAndSeesChangedFile) {
  put("sub/ui_Test.sql", "SELECT * FROM t WHERE a = %d AND b = %u AND c = '%s' AND d LIKE 'x%%'\n\n");
  ZoSqlLoader loader((_dir.path() + "\\sub").c_str());
  char buffer[256];
  loader.loadSQL(buffer, sizeof buffer, "ui_Test.sql", -5, 4294967295u, "O''Brien");
  EXPECT_STREQ("SELECT * FROM t WHERE a = -5 AND b = 4294967295 AND c = 'O''Brien' AND d LIKE 'x%'", buffer);
  put("sub/ui_Test.sql", "SELECT 22");  // a different size: the cache must notice
  const std::string file = _dir.path() + "/sub/ui_Test.sql";
  const auto second =
      std::chrono::floor<std::chrono::seconds>(std::filesystem::last_write_time(file));
  std::filesystem::last_write_time(file, second + std::chrono::nanoseconds(1));
  loader.loadSQL(buffer, sizeof buffer, "ui_Test.sql");
  EXPECT_STREQ("SELECT 22", buffer);
  put("sub/ui_Test.sql", "SELECT 33");  // the same size and second: the nanoseconds tell
  std::filesystem::last_write_time(file, second + std::chrono::nanoseconds(2));
  loader.loadSQL(buffer, sizeof buffer, "ui_Test.sql");
  EXPECT_STREQ("SELECT 33", buffer);
}

// ---------------------------------------------------------------------------
// Text helpers.

TEST(ZoDbConnectText, SplitStatements_CutsOnlyOutsideQuotesAndComments) {
  struct Case { const char* name; const char* text; std::vector<std::string> want; };
  const Case cases[] = {
      {"one", "SELECT 1", {"SELECT 1"}},
      {"two with blanks", " A ;\n B ; ", {"A", "B"}},
      {"semicolon in literal", "SELECT 'a;b'; SELECT 2", {"SELECT 'a;b'", "SELECT 2"}},
      {"doubled quote", "SELECT 'it''s;'; X", {"SELECT 'it''s;'", "X"}},
      {"identifier", "SELECT \"a;b\" FROM t", {"SELECT \"a;b\" FROM t"}},
      {"line comment", "-- a;b\nA -- x;y\n; B", {"A", "B"}},
      {"block comment", "A /* ; */x; B", {"A  x", "B"}},
      {"block comment first", "/* ; */A; B", {"A", "B"}},
      {"comment marks inside literal", "SELECT '--;/*'; B", {"SELECT '--;/*'", "B"}},
      {"dollar body", "DO $f$ BEGIN; END $f$; B", {"DO $f$ BEGIN; END $f$", "B"}},
      {"parameter is no tag", "SELECT $1$; B", {"SELECT $1$", "B"}},
      {"dollar inside a name", "SELECT a$b; B", {"SELECT a$b", "B"}},
      {"empty", " ; ;", {}},
      {"trigger body", "create temp trigger t after insert on a begin update v set n = n + 1; delete from b; end; B",
       {"create temp trigger t after insert on a begin update v set n = n + 1; delete from b; end", "B"}},
      {"trigger without body", "CREATE TRIGGER t AFTER INSERT ON a EXECUTE FUNCTION f(); BEGIN; X",
       {"CREATE TRIGGER t AFTER INSERT ON a EXECUTE FUNCTION f()", "BEGIN", "X"}},
      {"begin is no trigger", "BEGIN; CREATE TABLE trigger_log (x); END", {"BEGIN", "CREATE TABLE trigger_log (x)", "END"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.want, splitStatements(c.text));
  }
}

// Only a lost link or a server shutting down makes a connection unfit to lend
// again; any other failure leaves it in the pool.
TEST(ZoDbConnectText, IsLinkFailure_ConnectionExceptionsAndShutdowns) {
  for (const char* state : {"08001", "08S01", "57P01", "57P02", "57P03"}) EXPECT_TRUE(isLinkFailure(state)) << state;
  for (const char* state : {"", "0", "80001", "57P04", "57014", "40001", "HY000"}) EXPECT_FALSE(isLinkFailure(state)) << state;
}

TEST(ZoDbConnectText, BuildConnectString_FromBootstrapForm) {
  TempDir dir;
  const std::string ini = dir.path() + "/odbc.ini";
  writeFile(ini, "Driver = Stray\n; comment\n[Other]\nDriver = X\n[PolicyDB]\n; Driver = Old\nDescription = d\nDatabase = /data/p.db\nDriver = SQLite3\n");
  const char* const sys = "ODBC;DRIVER=;DSN=Sys;UID=u;PWD=p;DATABASE=db";
  struct Case { const char* name; const char* in; const char* dsn; const char* user; const char* pwd; bool local; const char* want; };
  // clang-format off
  const Case cases[] = {
      {"system dsn", sys, nullptr, nullptr, nullptr, false, "DSN=Sys;UID=u;PWD=p;DATABASE=db;"},
      {"arguments win", sys, "D2", "u2", "p;2", false, "DSN=D2;UID=u2;PWD={p;2};DATABASE=db;"},
      {"empty values dropped", "ODBC;DRIVER=;DSN=Sys;UID=;PWD=;DATABASE=", nullptr, nullptr, nullptr, false, "DSN=Sys;"},
      {"driver given", "ODBC;DRIVER=SQLite3;DSN=;UID=;PWD=;DATABASE=/x.db", nullptr, nullptr, nullptr, false, "DRIVER=SQLite3;DATABASE=/x.db;"},
      {"local entry, driver first", "ODBC;DRIVER=;DSN=policydb;UID=;PWD=;DATABASE=", nullptr, nullptr, nullptr, true, "DRIVER=SQLite3;Database=/data/p.db;"},
      {"local file without the entry", "ODBC;DRIVER=;DSN=Elsewhere;UID=;PWD=;DATABASE=", nullptr, nullptr, nullptr, true, "DSN=Elsewhere;"},
      {"database keeps semicolons", "ODBC;DRIVER=;DSN=S;UID=;PWD=;DATABASE=a;b", nullptr, nullptr, nullptr, false, "DSN=S;DATABASE={a;b};"},
      {"database holds the key again", "ODBC;DRIVER=;DSN=S;UID=;PWD=;DATABASE=a;DATABASE=b", nullptr, nullptr, nullptr, false, "DSN=S;DATABASE={a;DATABASE=b};"},
      {"bootstrap form without fields", "ODBC;", nullptr, nullptr, nullptr, false, "DSN=;"},
      {"no database field", "ODBC;DRIVER=;DSN=S;UID=u", nullptr, nullptr, nullptr, false, "DSN=S;UID=u;"},
      {"plain string unchanged", "DRIVER=SQLite3;Database=/y.db", "ignored", nullptr, nullptr, false, "DRIVER=SQLite3;Database=/y.db"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.want, buildConnectString(c.in, c.dsn, c.user, c.pwd, c.local ? std::optional(ini) : std::nullopt));
  }
}

// A loan sends nothing to the server; a connection killed while idle is
// made again by the next unit, which still succeeds.
TEST(ZoDataAccess, Postgres_LoanSendsNothingAndKilledConnectionIsReplaced) {
  TestDatabase db(Backend::Postgres, "da_killed");
  QUOR_REQUIRE_DATABASE(db);
  ZoDataAccess pool;
  pool.init(db.connectString().c_str(), 1, nullptr, nullptr, nullptr);
  const char* const pidQuery = "SELECT pg_backend_pid() AS v";
  const auto unit = [&] {
    ZoDbConnect* c = pool.getConnect();
    std::string rows;
    EXPECT_EQ("<nothing thrown>", thrownText([&] { rows = rowsOf(*c, pidQuery); }));
    pool.returnConnect(c);
    return rows.substr(0, rows.find('|'));
  };
  const std::string pid = unit();
  pool.returnConnect(pool.getConnect());
  EXPECT_EQ(pidQuery, db.scalar("SELECT query AS v FROM pg_stat_activity WHERE pid = " + pid));
  ASSERT_EQ("1", db.scalar("SELECT pg_terminate_backend(" + pid + ", 10000) AS v"));
  LogCapture log;
  const std::string next = unit();
  EXPECT_NE(pid, next) << "a new backend answered";
  EXPECT_NE("", next);
  EXPECT_TRUE(log.contains(2, "ZoDataAccess::getConnect: replacing a connection that no longer answers"))
      << describe(log.entries());
}

}  // namespace
}  // namespace quor::test
