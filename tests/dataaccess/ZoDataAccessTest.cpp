// Tests of the data-access library on real databases (SQLite always,
// PostgreSQL when configured) and of its text helpers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "ZoDataAccess.h"
#include "dataaccess/DbBackends.h"
#include "dataaccess/detail/ConnectString.h"
#include "dataaccess/detail/SqlText.h"
#include "support/LogCapture.h"

namespace quor::test {
namespace {

using quor::dataaccess::detail::buildConnectString;
using quor::dataaccess::detail::splitStatements;

class ZoDbConnectTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    _db = std::make_unique<TestDatabase>(GetParam(), std::string("da_") + info->name());
  }
  std::unique_ptr<TestDatabase> _db;
};

TEST_P(ZoDbConnectTest, Rows_GiveTextNullAndIntegersByColumnName) {
  QUOR_REQUIRE_DATABASE(*_db);
  _db->exec(
      "INSERT INTO entities (entity_name, entity_type) VALUES ('alpha', 1);"
      "INSERT INTO entities (entity_name, entity_type) VALUES ('beta', 6)");
  ZoDbConnect c;
  c.connect(_db->connectString().c_str(), nullptr, nullptr, nullptr);
  c.executeSQL(
      "SELECT entity_name AS EntityName, entity_type AS EntityType, NULL AS Missing "
      "FROM entities ORDER BY entity_name",
      ZoDbConnect::ZO_SQL_SPLIT);
  struct Want { const char* name; int type; };
  const Want want[] = {{"alpha", 1}, {"beta", 6}};
  for (const Want& w : want) {
    SCOPED_TRACE(w.name);
    ASSERT_EQ(0, c.fetchNextRow());
    ASSERT_NE(nullptr, c.getColVal("EntityName"));
    EXPECT_STREQ(w.name, c.getColVal("EntityName"));
    EXPECT_STREQ(w.name, c.getColVal("entityname")) << "column names ignore case";
    EXPECT_EQ(w.type, c.getColValInt("EntityType"));
    EXPECT_EQ(nullptr, c.getColVal("Missing")) << "SQL NULL gives null";
    EXPECT_EQ(nullptr, c.getColVal("NoSuchColumn"));
  }
  EXPECT_EQ(1, c.fetchNextRow());
  EXPECT_EQ(nullptr, c.getColVal("EntityName")) << "no row is current after the end";
}

TEST_P(ZoDbConnectTest, ExecuteSQL_RunsSeveralStatementsInOrderAndKeepsLastRows) {
  QUOR_REQUIRE_DATABASE(*_db);
  ZoDbConnect c;
  c.connect(_db->connectString().c_str(), nullptr, nullptr, nullptr);
  c.executeSQL(
      "INSERT INTO global_settings (section, setting_key, setting_value) VALUES ('s', 'k1', 'a;b');\n"
      "INSERT INTO global_settings (section, setting_key, setting_value) VALUES ('s', 'k2', 'it''s');\n"
      "SELECT setting_value AS v FROM global_settings WHERE section = 's' ORDER BY setting_key;",
      ZoDbConnect::ZO_SQL_SPLIT);
  ASSERT_EQ(0, c.fetchNextRow());
  EXPECT_STREQ("a;b", c.getColVal("v")) << "a ';' inside a literal does not cut the text";
  ASSERT_EQ(0, c.fetchNextRow());
  EXPECT_STREQ("it's", c.getColVal("v"));
  EXPECT_EQ(1, c.fetchNextRow());
}

TEST_P(ZoDbConnectTest, Content_LongerThan8KBRoundTrips) {
  QUOR_REQUIRE_DATABASE(*_db);
  std::string content;
  for (int i = 0; content.size() < 20000; ++i) content += "line " + std::to_string(i) + " of the blob\n";
  ZoDbConnect c;
  c.connect(_db->connectString().c_str(), nullptr, nullptr, nullptr);
  c.executeSQL(("INSERT INTO named_objects (kind, name, content) VALUES (3, 'big', '" + content + "')").c_str(),
               ZoDbConnect::ZO_SQL_SPLIT);
  c.executeSQL("SELECT content AS Content FROM named_objects WHERE name = 'big'", ZoDbConnect::ZO_SQL_SPLIT);
  ASSERT_EQ(0, c.fetchNextRow());
  ASSERT_NE(nullptr, c.getColVal("Content"));
  EXPECT_EQ(content.size(), std::strlen(c.getColVal("Content")));
  EXPECT_EQ(content, c.getColVal("Content"));
}

TEST_P(ZoDbConnectTest, Failure_ThrowsSqlStateAndDriverMessage) {
  QUOR_REQUIRE_DATABASE(*_db);
  ZoDbConnect c;
  c.connect(_db->connectString().c_str(), nullptr, nullptr, nullptr);
  const std::string text = thrownText([&] {
    c.executeSQL("SELECT * FROM no_such_table", ZoDbConnect::ZO_SQL_SPLIT);
  });
  EXPECT_NE(std::string::npos, text.find("no_such_table")) << text;
  // "<5-character SQLSTATE>: <message>"
  ASSERT_GE(text.size(), 7u) << text;
  EXPECT_EQ(": ", text.substr(5, 2)) << text;
  EXPECT_EQ(1, c.fetchNextRow()) << "no rows after a failed statement";
  // The connection is still usable.
  c.executeSQL("SELECT 7 AS v", ZoDbConnect::ZO_SQL_SPLIT);
  ASSERT_EQ(0, c.fetchNextRow());
  EXPECT_EQ(7, c.getColValInt("v"));
}

TEST_P(ZoDbConnectTest, Connect_ResolvesDataSourceFromInstallationOdbcIni) {
  QUOR_REQUIRE_DATABASE(*_db);
  TempDir home;
  _db->writeOdbcIni(home.path() + "/config/odbc.ini", "QuorTestDsn");
  ScopedEnv quorHome("QUOR_HOME", home.path().c_str());
  ScopedEnv odbcIni("ODBCINI", nullptr);
  ZoDbConnect c;
  const std::string bootstrap = "ODBC;DRIVER=;DSN=QuorTestDsn;UID=;PWD=;DATABASE=" + _db->databaseValue();
  c.connect(bootstrap.c_str(), "QuorTestDsn", "", "");
  c.executeSQL("SELECT 'through the file' AS v", ZoDbConnect::ZO_SQL_SPLIT);
  ASSERT_EQ(0, c.fetchNextRow());
  EXPECT_STREQ("through the file", c.getColVal("v"));
}

TEST(ZoDbConnect, Sqlite_LastInsertRowIdFollowsInsertOnSameConnection) {
  TestDatabase db(Backend::Sqlite, "rowid");
  ZoDbConnect c;
  c.connect(db.connectString().c_str(), nullptr, nullptr, nullptr);
  const char* rounds[] = {"first", "second", "third"};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(rounds[i]);
    c.executeSQL(("INSERT INTO named_objects (kind, name) VALUES (5, '" + std::string(rounds[i]) +
                  "'); SELECT last_insert_rowid() AS objectId")
                     .c_str(),
                 ZoDbConnect::ZO_SQL_SPLIT);
    ASSERT_EQ(0, c.fetchNextRow());
    EXPECT_EQ(i + 1, c.getColValInt("objectId"));
  }
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
  const std::string notOpen = thrownText([&] { c.executeSQL("SELECT 1", ZoDbConnect::ZO_SQL_SPLIT); });
  EXPECT_EQ("08003: connection not open", notOpen);
}

class ZoDataAccessTest : public ZoDbConnectTest {};

// Lends `n` connections at once and gives them back.
std::set<ZoDbConnect*> lendAll(ZoDataAccess& pool, int n) {
  std::vector<ZoDbConnect*> lent;
  for (int i = 0; i < n; ++i) lent.push_back(pool.getConnect());
  for (ZoDbConnect* c : lent) pool.returnConnect(c);
  return {lent.begin(), lent.end()};
}

TEST_P(ZoDataAccessTest, Loans_ReuseThePoolsConnections) {
  QUOR_REQUIRE_DATABASE(*_db);
  ZoDataAccess pool;
  pool.init(_db->connectString().c_str(), 2, nullptr, nullptr, nullptr);
  const std::set<ZoDbConnect*> first = lendAll(pool, 2);
  ASSERT_EQ(2u, first.size());
  for (int i = 0; i < 1000; ++i) {
    ZoDbConnect* c = pool.getConnect();
    c->executeSQL("SELECT 1 AS v", ZoDbConnect::ZO_SQL_SPLIT);
    ASSERT_EQ(0, c->fetchNextRow());
    pool.returnConnect(c);
  }
  pool.returnConnect(nullptr);
  EXPECT_EQ(first, lendAll(pool, 2)) << "a thousand loans leave the same two connections";
}

TEST_P(ZoDataAccessTest, Loans_BeyondCountOpenExtraConnectionsThatAreNotKept) {
  QUOR_REQUIRE_DATABASE(*_db);
  ZoDataAccess pool;
  pool.init(_db->connectString().c_str(), 1, nullptr, nullptr, nullptr);
  ZoDbConnect* a = pool.getConnect();
  ZoDbConnect* b = pool.getConnect();  // this thread holds `a`: an extra, without waiting
  ASSERT_NE(a, b);
  b->executeSQL("SELECT 2 AS v", ZoDbConnect::ZO_SQL_SPLIT);
  ASSERT_EQ(0, b->fetchNextRow());
  EXPECT_EQ(2, b->getColValInt("v"));
  pool.returnConnect(a);
  pool.returnConnect(b);
  EXPECT_EQ(std::set<ZoDbConnect*>{a}, lendAll(pool, 1)) << "only `count` connections are kept";
}

TEST_P(ZoDataAccessTest, Reinit_RebuildsAndLoansStillWork) {
  QUOR_REQUIRE_DATABASE(*_db);
  ZoDataAccess pool;
  pool.init(_db->connectString().c_str(), 2, nullptr, nullptr, nullptr);
  ZoDbConnect* held = pool.getConnect();
  ASSERT_TRUE(pool.reinit());
  pool.returnConnect(held);  // an old-generation connection: closed, not kept
  ZoDbConnect* c = pool.getConnect();
  c->executeSQL("SELECT 3 AS v", ZoDbConnect::ZO_SQL_SPLIT);
  ASSERT_EQ(0, c->fetchNextRow());
  EXPECT_EQ(3, c->getColValInt("v"));
  pool.returnConnect(c);
}

TEST(ZoDataAccess, Uninitialised_LoanThrowsAndReinitFails) {
  ZoDataAccess pool;
  EXPECT_EQ("ZoDataAccess::getConnect: the pool was never initialised",
            thrownText([&] { pool.getConnect(); }));
  LogCapture log;
  EXPECT_FALSE(pool.reinit());
  EXPECT_EQ((std::vector<LogEntry>{{1, "ZoDataAccess::reinit: the pool was never initialised"}}),
            log.entries());
}

TEST(ZoDataAccess, Init_FailureThrowsDriverText) {
  ZoDataAccess pool;
  const std::string text = thrownText([&] {
    pool.init("DRIVER=QuorNoSuchDriver;Database=x;", 2, nullptr, nullptr, nullptr);
  });
  EXPECT_NE(std::string::npos, text.find("QuorNoSuchDriver")) << text;
  EXPECT_EQ(": ", text.substr(5, 2)) << text;
}

TEST(ZoDataAccess, Postgres_ServerRestartIsDetectedAndConnectionReplaced) {
  QUOR_REQUIRE_RESTARTABLE_PG();
  RestartLock lock;
  TestDatabase db(Backend::Postgres, "da_restart", "QUOR_TEST_PG_RESTART_PORT");
  QUOR_REQUIRE_DATABASE(db);
  ZoDataAccess pool;
  pool.init(db.connectString().c_str(), 2, nullptr, nullptr, nullptr);
  lendAll(pool, 2);
  ASSERT_TRUE(restartPostgres());
  LogCapture log;  // the replacements are reported as warnings
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    ZoDbConnect* c = pool.getConnect();
    const std::string text = thrownText([&] {
      c->executeSQL("SELECT 4 AS v", ZoDbConnect::ZO_SQL_SPLIT);
      if (c->fetchNextRow() != 0) throw "no row";
      if (c->getColValInt("v") != 4) throw "wrong value";
    });
    EXPECT_EQ("<nothing thrown>", text);
    pool.returnConnect(c);
  }
  EXPECT_TRUE(log.contains(2, "ZoDataAccess::getConnect: replacing a connection that no longer answers"))
      << describe(log.entries());
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

TEST_F(ZoSqlLoaderTest, LoadSQL_SetsArgumentsAndPercentSigns) {
  put("ui_Test.sql", "SELECT * FROM t WHERE a = %d AND b = %u AND c = '%s' AND d LIKE 'x%%'\n\n");
  ZoSqlLoader loader(_dir.path().c_str());
  char buffer[256];
  loader.loadSQL(buffer, sizeof buffer, "ui_Test.sql", -5, 4294967295u, "O''Brien");
  EXPECT_STREQ("SELECT * FROM t WHERE a = -5 AND b = 4294967295 AND c = 'O''Brien' AND d LIKE 'x%'", buffer);
}

TEST_F(ZoSqlLoaderTest, LoadSQL_BufferBoundary) {
  put("ui_Exact.sql", "SELECT %d");  // with 12345: 12 characters
  ZoSqlLoader loader(_dir.path().c_str());
  struct Case { const char* name; int size; bool fits; };
  const Case cases[] = {{"room for the NUL", 13, true}, {"one byte short", 12, false}, {"tiny", 1, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    const std::string text = thrownText([&] { loader.loadSQL(buffer, c.size, "ui_Exact.sql", 12345); });
    if (c.fits) {
      EXPECT_EQ("<nothing thrown>", text);
      EXPECT_STREQ("SELECT 12345", buffer);
    } else {
      EXPECT_EQ("ZoSqlLoader::loadSQL: statement of file ui_Exact.sql needs 13 bytes, buffer has " +
                    std::to_string(c.size),
                text);
      EXPECT_STREQ("", buffer) << "a cut statement is never left in the buffer";
    }
  }
}

TEST_F(ZoSqlLoaderTest, LoadSQL_FailuresNameTheFile) {
  put("ui_Bad.sql", "SELECT %x");
  ZoSqlLoader loader(_dir.path().c_str());
  char buffer[64] = "old";
  EXPECT_EQ("ZoSqlLoader::loadSQL: cannot open statement file ui_Missing.sql (" + _dir.path() + "/ui_Missing.sql)",
            thrownText([&] { loader.loadSQL(buffer, sizeof buffer, "ui_Missing.sql"); }));
  EXPECT_STREQ("", buffer);
  EXPECT_EQ("ZoSqlLoader::loadSQL: statement file ui_Bad.sql: unsupported conversion '%x' at offset 7",
            thrownText([&] { loader.loadSQL(buffer, sizeof buffer, "ui_Bad.sql"); }));
}

TEST_F(ZoSqlLoaderTest, LoadSQL_BackslashDirectoryAndChangedFile) {
  put("sub/ui_Change.sql", "SELECT 1");
  std::string windowsStyle = _dir.path() + "\\sub";
  ZoSqlLoader loader(windowsStyle.c_str());
  char buffer[64];
  loader.loadSQL(buffer, sizeof buffer, "ui_Change.sql");
  EXPECT_STREQ("SELECT 1", buffer);
  put("sub/ui_Change.sql", "SELECT 22");  // a different size: the cache must notice
  loader.loadSQL(buffer, sizeof buffer, "ui_Change.sql");
  EXPECT_STREQ("SELECT 22", buffer);
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
      {"comment marks inside literal", "SELECT '--;/*'; B", {"SELECT '--;/*'", "B"}},
      {"dollar body", "DO $f$ BEGIN; END $f$; B", {"DO $f$ BEGIN; END $f$", "B"}},
      {"parameter is no tag", "SELECT $1; B", {"SELECT $1", "B"}},
      {"empty", " ; ;", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.want, splitStatements(c.text));
  }
}

TEST(ZoDbConnectText, BuildConnectString_FromBootstrapForm) {
  TempDir dir;
  const std::string ini = dir.path() + "/odbc.ini";
  writeFile(ini, "; comment\n[Other]\nDriver = X\n[PolicyDB]\nDescription = d\nDatabase = /data/p.db\nDriver = SQLite3\n");
  struct Case { const char* name; const char* in; const char* dsn; const char* user; const char* pwd; bool local; const char* want; };
  const Case cases[] = {
      {"system dsn", "ODBC;DRIVER=;DSN=Sys;UID=u;PWD=p;DATABASE=db", nullptr, nullptr, nullptr, false,
       "DSN=Sys;UID=u;PWD=p;DATABASE=db;"},
      {"arguments win", "ODBC;DRIVER=;DSN=Sys;UID=u;PWD=p;DATABASE=db", "D2", "u2", "p;2", false,
       "DSN=D2;UID=u2;PWD={p;2};DATABASE=db;"},
      {"empty values dropped", "ODBC;DRIVER=;DSN=Sys;UID=;PWD=;DATABASE=", nullptr, nullptr, nullptr, false, "DSN=Sys;"},
      {"driver given", "ODBC;DRIVER=SQLite3;DSN=;UID=;PWD=;DATABASE=/x.db", nullptr, nullptr, nullptr, false,
       "DRIVER=SQLite3;DATABASE=/x.db;"},
      {"local entry, driver first", "ODBC;DRIVER=;DSN=policydb;UID=;PWD=;DATABASE=", nullptr, nullptr, nullptr, true,
       "DRIVER=SQLite3;Database=/data/p.db;"},
      {"local file without the entry", "ODBC;DRIVER=;DSN=Elsewhere;UID=;PWD=;DATABASE=", nullptr, nullptr, nullptr,
       true, "DSN=Elsewhere;"},
      {"database keeps semicolons", "ODBC;DRIVER=;DSN=S;UID=;PWD=;DATABASE=a;b", nullptr, nullptr, nullptr, false,
       "DSN=S;DATABASE={a;b};"},
      {"plain string unchanged", "DRIVER=SQLite3;Database=/y.db", "ignored", nullptr, nullptr, false,
       "DRIVER=SQLite3;Database=/y.db"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<std::string> local = c.local ? std::optional<std::string>(ini) : std::nullopt;
    EXPECT_EQ(c.want, buildConnectString(c.in, c.dsn, c.user, c.pwd, local));
  }
}


}  // namespace
}  // namespace quor::test
