// Tests of QUOR::RdbmsInterface: bootstrap paths and messages, the
// connection string, units of work with transactions on real databases,
// escaping, and the behaviour without a connection.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "ConfigFile.h"
#include "QuorCrypt.h"
#include "RdbmsInterface.h"
#include "db/RdbmsTestSupport.h"
#include "db/detail/RdbmsTesting.h"
#include "support/LogCapture.h"

namespace quor::test {
namespace {

using QUOR::RdbmsInterface;
using Access = quor::db::detail::RdbmsTestAccess;
using Entries = std::vector<LogEntry>;

// ---------------------------------------------------------------------------
// Bootstrap: paths, configuration messages, connection string.

TEST(RdbmsInterface, Init_DerivesPathsFromEnvironment) {
  struct Case {
    const char* name;
    const char* home;
    const char* dbDir;
    const char* dbIni;
    const char* sqlPath;
    const char* configPath;
  };
  const Case cases[] = {
      {"plain root", "D:\\app", nullptr, nullptr, "D:\\app\\sql", "D:\\app\\config\\database.ini"},
      {"own slash kept", "D:/app/", nullptr, nullptr, "D:/app/sql", "D:/app/config\\database.ini"},
      {"own backslash kept", "D:\\app\\", nullptr, nullptr, "D:\\app\\sql", "D:\\app\\config\\database.ini"},
      {"db dir", "D:\\app", "extra", nullptr, "D:\\app\\sql\\extra", "D:\\app\\config\\database.ini"},
      {"db ini", "D:\\app", nullptr, "other.ini", "D:\\app\\sql", "D:\\app\\config\\other.ini"},
      {"both", "/nowhere/q", "pgsql", "pg.ini", "/nowhere/q\\sql\\pgsql", "/nowhere/q\\config\\pg.ini"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Access::reset();
    ScopedEnv home("QUOR_HOME", c.home), dir("QUOR_DB_DIR", c.dbDir), ini("QUOR_DB_INI", c.dbIni);
    LogCapture log;
    // All four values given: the file must still open.
    EXPECT_FALSE(RdbmsInterface::Init("dsn", "user", "pw", "db"));
    EXPECT_STREQ(c.sqlPath, RdbmsInterface::GetSqlPath());
    EXPECT_STREQ(c.configPath, RdbmsInterface::GetConfigFilePath());
    EXPECT_EQ((Entries{{1, std::string("RdbmsInterface::_getInitString: Could not open config file ") + c.configPath}}),
              log.entries());
    EXPECT_FALSE(Access::initCalled());
  }
  Access::reset();
}

TEST(RdbmsInterface, Init_WithoutQuorHomeFailsAndKeepsPaths) {
  const char* homes[] = {nullptr, ""};
  for (const char* value : homes) {
    SCOPED_TRACE(value == nullptr ? "unset" : "empty");
    Access::reset();
    ScopedEnv home("QUOR_HOME", value);
    LogCapture log;
    EXPECT_FALSE(RdbmsInterface::Init(nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ((Entries{{1, "RdbmsInterface::_getInitString: Environment variable \"QUOR_HOME\" not set"}}),
              log.entries());
    EXPECT_STREQ("", RdbmsInterface::GetSqlPath());
    EXPECT_STREQ("", RdbmsInterface::GetConfigFilePath());
  }
  Access::reset();
}

TEST(RdbmsInterface, Init_MissingSettingsAreLoggedByKey) {
  struct Case {
    const char* name;
    const char* ini;
    const char* key;  // the key reported missing
  };
  const Case cases[] = {
      {"no section", "[Other]\nDataSourceName = x\n", "DataSourceName"},
      {"no dsn", "[Database_Settings]\nUserId = u\nDatabase = d\n", "DataSourceName"},
      {"no user", "[Database_Settings]\nDataSourceName = s\nDatabase = d\n", "UserId"},
      {"no database", "[Database_Settings]\nDataSourceName = s\nUserId = u\nPassword = p\n", "Database"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InstallRoot root(Backend::Sqlite, nullptr);
    root.writeDatabaseIni(c.ini);
    LogCapture log;
    EXPECT_FALSE(RdbmsInterface::Init(nullptr, nullptr, nullptr, nullptr));
    const std::string file = root.configPath();
    EXPECT_EQ((Entries{{1, "RdbmsInterface::init: ERROR: could read parameter \"" + std::string(c.key) +
                               "\"from section Database_Settings in file " + file},
                       {1, "RdbmsInterface::getDbParams: Could not read " + std::string(c.key) +
                               " from config file " + file}}),
              log.entries());
    EXPECT_FALSE(Access::initCalled());
    EXPECT_EQ("", Access::initString());
  }
}

TEST(RdbmsInterface, GetParam_ClosedFileIsAnErrorOnlyWhenRequired) {
  QUOR::ConfigFileOnDisk closed("/nonexistent/quor/database.ini");
  std::string value = "kept";
  {
    LogCapture log;
    EXPECT_TRUE(RdbmsInterface::getParam("Database_Settings", "Password", value, closed, false));
    EXPECT_EQ(0u, log.size());
    EXPECT_EQ("kept", value);
  }
  LogCapture log;
  EXPECT_FALSE(RdbmsInterface::getParam("Database_Settings", "UserId", value, closed, true));
  EXPECT_EQ((Entries{{1, "RdbmsInterface::_getParam: ERROR: could not open config "
                         "file/nonexistent/quor/database.ini to get database source name"}}),
            log.entries());
}

TEST(RdbmsInterface, Init_BuildsConnectionString) {
  const std::string longDsn(300, 'd');
  struct Case {
    const char* name;
    std::string ini;
    const char* dsnArg;
    const char* passArg;
    std::string initString;
    std::string dsn, password;
  };
  const Case cases[] = {
      {"no password key", "[Database_Settings]\nDataSourceName = S\nUserId = u\nDatabase = d\n", nullptr, nullptr,
       "ODBC;DRIVER=;DSN=S;UID=u;PWD=;DATABASE=d", "S", ""},
      {"plain password", "[Database_Settings]\nDataSourceName = S\nUserId = u\nPassword = pw\nDatabase = d\n",
       nullptr, nullptr, "ODBC;DRIVER=;DSN=S;UID=u;PWD=pw;DATABASE=d", "S", "pw"},
      {"arguments win", "[Database_Settings]\nDataSourceName = S\nUserId = u\nPassword = pw\nDatabase = d\n",
       "Given", "secret", "ODBC;DRIVER=;DSN=Given;UID=u;PWD=secret;DATABASE=d", "Given", "secret"},
      {"long values are cut", "[Database_Settings]\nDataSourceName = " + longDsn + "\nUserId = u\nDatabase = " +
                                   std::string(300, 'b') + "\n",
       nullptr, nullptr, ("ODBC;DRIVER=;DSN=" + longDsn + ";UID=u;PWD=;DATABASE=" + std::string(300, 'b')).substr(0, 511),
       longDsn.substr(0, 255), ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InstallRoot root(Backend::Sqlite, nullptr);
    root.writeDatabaseIni(c.ini);
    ASSERT_TRUE(RdbmsInterface::Init(c.dsnArg, nullptr, c.passArg, nullptr));
    EXPECT_EQ(c.initString, Access::initString());
    EXPECT_EQ(c.dsn, Access::dsn());
    EXPECT_EQ("u", Access::user());
    EXPECT_EQ(c.password, Access::password());
    EXPECT_EQ(nullptr, Access::pool());
  }
}

TEST(RdbmsInterface, Init_DecryptsStoredPassword) {
  InstallRoot root(Backend::Sqlite, nullptr);
  root.writeDatabaseIni("");  // makes config/, where the key file goes
  std::string encrypted;
  ASSERT_NE(0, NewEncryptStr("s3cr;et", encrypted));
  ASSERT_NE("s3cr;et", encrypted);
  root.writeDatabaseIni("[Database_Settings]\nDataSourceName = S\nUserId = u\nPassword = " + encrypted +
                        "\nDatabase = d\n");
  ASSERT_TRUE(RdbmsInterface::Init(nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ("s3cr;et", Access::password());
  EXPECT_EQ("ODBC;DRIVER=;DSN=S;UID=u;PWD=s3cr;et;DATABASE=d", Access::initString());
}

TEST(RdbmsInterface, Init_SecondCallReturnsAtOnceAndLeavesPoolUntouched) {
  InstallRoot root(Backend::Sqlite, nullptr);
  root.writeDatabaseIni(root.standardIni());
  ASSERT_TRUE(RdbmsInterface::Init(nullptr, nullptr, nullptr, nullptr));
  root.writeDatabaseIni("");  // a second Init must not read the file again
  auto* sentinel = reinterpret_cast<ZoDataAccess*>(0x1);
  ZoDataAccess* pool = sentinel;
  LogCapture log;
  EXPECT_TRUE(RdbmsInterface::Init(4, &pool, nullptr, nullptr, nullptr, nullptr));
  EXPECT_TRUE(RdbmsInterface::Init(nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(sentinel, pool);
  EXPECT_EQ(nullptr, Access::pool());
  EXPECT_EQ((Entries{{4, "RdbmsInterface: Init() ...\n"}}), log.entries());
  EXPECT_FALSE(RdbmsInterface::ReInit()) << "no pool to rebuild";
}

TEST(RdbmsInterface, InitPool_FailureIsLoggedAndInitMayBeRepeated) {
  InstallRoot root(Backend::Sqlite, nullptr);
  root.writeDatabaseIni("[Database_Settings]\nDataSourceName = QuorNoSuchDsn\nUserId = u\nDatabase = d\n");
  ZoDataAccess* pool = nullptr;
  LogCapture log;
  EXPECT_FALSE(RdbmsInterface::Init(2, &pool, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(nullptr, pool);
  EXPECT_FALSE(Access::initCalled());
  EXPECT_NE(nullptr, Access::pool()) << "a pool whose init threw stays";
  const std::string init = "ODBC;DRIVER=;DSN=QuorNoSuchDsn;UID=u;PWD=;DATABASE=d";
  EXPECT_EQ((Entries{{4, "RdbmsInterface: Init() ...\n"},
                     {4, "RdbmsInterface: Init() connection string is " + init + "\n"},
                     {1, "RdbmsInterface::init: Exception \"IM002: [unixODBC][Driver Manager]Data source name not "
                         "found and no default driver specified (data source QuorNoSuchDsn)\" thrown for "
                         "ZoDataAccess::init(" + init + ", 2)"}}),
            log.entries());
}

// ---------------------------------------------------------------------------
// Units of work on real databases.

class RdbmsUnitTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    _db = std::make_unique<TestDatabase>(GetParam(), std::string("db_") + info->name());
    _root = std::make_unique<InstallRoot>(GetParam(), _db.get());
    _root->writeDatabaseIni(_root->standardIni());
  }
  void TearDown() override {
    _root.reset();
    _db.reset();
  }
  // Initialises with a pool of `count` connections.
  void initPool(int count) {
    ZoDataAccess* pool = nullptr;
    LogCapture log;  // progress lines
    ASSERT_TRUE(RdbmsInterface::Init(count, &pool, nullptr, nullptr, nullptr, nullptr)) << describe(log.entries());
    ASSERT_NE(nullptr, pool);
    ASSERT_EQ(pool, Access::pool());
  }
  std::string count(const std::string& where) {
    return _db->scalar("SELECT COUNT(*) AS v FROM global_settings WHERE " + where);
  }
  static void insertSetting(RdbmsInterface& db, const std::string& key) {
    db.executeSQL(("INSERT INTO global_settings (section, setting_key, setting_value) VALUES ('t', '" + key +
                   "', 'x')").c_str());
  }
  std::unique_ptr<TestDatabase> _db;
  std::unique_ptr<InstallRoot> _root;
};

TEST_P(RdbmsUnitTest, Transaction_CommitKeepsRollbackOnDestructionUndoes) {
  QUOR_REQUIRE_DATABASE(*_db);
  initPool(2);
  {
    RdbmsInterface db;
    ASSERT_TRUE(db.startTransaction());
    insertSetting(db, "committed");
    ASSERT_TRUE(db.commitTransaction());
  }
  {
    RdbmsInterface db;
    ASSERT_TRUE(db.startTransaction());
    ASSERT_TRUE(db.startTransaction()) << "a second start runs nothing and succeeds";
    insertSetting(db, "abandoned");
    EXPECT_EQ("0", count("setting_key = 'abandoned'")) << "not visible before commit";
  }  // destroyed inside the transaction: rolled back
  EXPECT_EQ("1", count("setting_key = 'committed'"));
  EXPECT_EQ("0", count("setting_key = 'abandoned'"));
  RdbmsInterface db;  // the connection that rolled back is usable again
  insertSetting(db, "after");
  EXPECT_EQ("1", count("setting_key = 'after'"));
}

TEST_P(RdbmsUnitTest, Transaction_WithoutPoolToo) {
  QUOR_REQUIRE_DATABASE(*_db);
  ASSERT_TRUE(RdbmsInterface::Init(nullptr, nullptr, nullptr, nullptr));
  RdbmsInterface::setDbConnectTimeOut(5);
  RdbmsInterface::setDbRetryTimeOut(1);
  RdbmsInterface::setDbReconnectTrial(2);
  {
    RdbmsInterface db;
    ASSERT_TRUE(db.startTransaction());
    insertSetting(db, "rolled back");
  }
  {
    RdbmsInterface db;
    insertSetting(db, "kept");
  }
  EXPECT_EQ("0", count("setting_key = 'rolled back'"));
  EXPECT_EQ("1", count("setting_key = 'kept'"));
}

TEST_P(RdbmsUnitTest, EscapeData_QuotedNameSurvivesRoundTrip) {
  QUOR_REQUIRE_DATABASE(*_db);
  initPool(1);
  writeFile(_root->path() + "/sql/" + backendName(GetParam()) + "/ui_TestAddName.sql",
            "INSERT INTO named_objects (kind, name) VALUES (5, '%s')");
  const char* names[] = {"O'Brien", "''", "it's 50% 'quoted'", "plain"};
  for (const char* name : names) {
    SCOPED_TRACE(name);
    std::string buffer;
    const char* escaped = nullptr;
    RdbmsInterface::escapeData(name, buffer, escaped);
    char statement[512];
    ZoSqlLoader(RdbmsInterface::GetSqlPath()).loadSQL(statement, sizeof statement, "ui_TestAddName.sql", escaped);
    {
      RdbmsInterface db;
      db.executeSQL(statement);
    }
    RdbmsInterface db;
    db.executeSQL("SELECT name AS Name FROM named_objects WHERE object_id = (SELECT MAX(object_id) FROM named_objects)");
    ASSERT_EQ(0, db.fetchNextRow());
    ASSERT_NE(nullptr, db.getColVal("Name"));
    EXPECT_STREQ(name, db.getColVal("Name"));
  }
}

TEST_P(RdbmsUnitTest, Units_AThousandLeaveThePoolAsItWas) {
  QUOR_REQUIRE_DATABASE(*_db);
  initPool(2);
  ZoDataAccess* pool = Access::pool();
  auto lendTwo = [&] {
    ZoDbConnect* a = pool->getConnect();
    ZoDbConnect* b = pool->getConnect();
    pool->returnConnect(a);
    pool->returnConnect(b);
    return std::set<ZoDbConnect*>{a, b};
  };
  const std::set<ZoDbConnect*> before = lendTwo();
  for (int i = 0; i < 1000; ++i) {
    RdbmsInterface db;
    if (i % 3 == 0) {
      ASSERT_TRUE(db.startTransaction());  // every third is rolled back at the end
    }
    db.executeSQL(("SELECT " + std::to_string(i) + " AS v").c_str());
    ASSERT_EQ(0, db.fetchNextRow());
    ASSERT_EQ(i, db.getColValInt("v"));
  }
  EXPECT_EQ(before, lendTwo());
}

TEST_P(RdbmsUnitTest, Pool_ReInitRebuildsAndUnitsStillWork) {
  QUOR_REQUIRE_DATABASE(*_db);
  initPool(2);
  ASSERT_TRUE(RdbmsInterface::ReInit());
  RdbmsInterface db;
  db.executeSQL("SELECT 'after reinit' AS v");
  ASSERT_EQ(0, db.fetchNextRow());
  EXPECT_STREQ("after reinit", db.getColVal("v"));
}

INSTANTIATE_TEST_SUITE_P(Backends, RdbmsUnitTest, ::testing::ValuesIn(allBackends()),
                         [](const auto& p) { return std::string(backendName(p.param)); });

TEST(RdbmsInterface, Postgres_UnitsRecoverAfterServerRestart) {
  QUOR_REQUIRE_RESTARTABLE_PG();
  RestartLock lock;
  TestDatabase pg(Backend::Postgres, "db_restart", "QUOR_TEST_PG_RESTART_PORT");
  QUOR_REQUIRE_DATABASE(pg);
  InstallRoot root(Backend::Postgres, &pg);
  root.writeDatabaseIni(root.standardIni());
  {
    LogCapture log;
    ASSERT_TRUE(RdbmsInterface::Init(2, nullptr, nullptr, nullptr, nullptr, nullptr));
  }
  { RdbmsInterface warmUp; }
  ASSERT_TRUE(restartPostgres());
  LogCapture log;  // replacements are warnings
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    RdbmsInterface db;
    const std::string text = thrownText([&] {
      db.executeSQL("SELECT 'alive' AS v");
      if (db.fetchNextRow() != 0) throw "no row";
    });
    EXPECT_EQ("<nothing thrown>", text);
    EXPECT_STREQ("alive", db.getColVal("v"));
  }
  EXPECT_TRUE(log.texts(1).empty()) << describe(log.entries());
}

// ---------------------------------------------------------------------------
// Scripted connections: statement order, failures, no connection.

class RdbmsScriptedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    _root.writeDatabaseIni(_root.standardIni());
    ASSERT_TRUE(RdbmsInterface::Init(nullptr, nullptr, nullptr, nullptr));
    Access::usePool(&_pool, false);
  }
  InstallRoot _root{Backend::Sqlite, nullptr};
  ScriptedConnect _conn;
  ScriptedPool _pool{&_conn};
  using Statements = std::vector<std::pair<std::string, int>>;
};

TEST_F(RdbmsScriptedTest, Transaction_SecondStartRunsNothingAndDestructionRollsBack) {
  {
    RdbmsInterface db;
    EXPECT_TRUE(db.startTransaction());
    EXPECT_TRUE(db.startTransaction());
  }
  EXPECT_EQ((Statements{{"BEGIN", 0}, {"ROLLBACK", 0}}), _conn.statements);
  EXPECT_EQ(std::vector<ZoDbConnect*>{&_conn}, _pool.returned);
}

TEST_F(RdbmsScriptedTest, Transaction_FailedCommitKeepsItOpenForRollback) {
  _conn.failing = {"COMMIT"};
  LogCapture log;
  {
    RdbmsInterface db;
    ASSERT_TRUE(db.startTransaction());
    EXPECT_FALSE(db.commitTransaction());
  }
  EXPECT_EQ((Statements{{"BEGIN", 0}, {"COMMIT", 0}, {"ROLLBACK", 0}}), _conn.statements);
  EXPECT_EQ((Entries{{1, "RdbmsInterface::commitTransaction: Exception \"40001: could not serialize access\" "
                         "thrown for statement COMMIT"}}),
            log.entries());
}

TEST_F(RdbmsScriptedTest, Transaction_FailuresOfStartAndRollbackAreLogged) {
  _conn.failing = {"BEGIN"};
  LogCapture log;
  {
    RdbmsInterface db;
    EXPECT_FALSE(db.startTransaction());
  }
  EXPECT_EQ((Statements{{"BEGIN", 0}}), _conn.statements) << "no rollback without a transaction";
  _conn.failing = {"ROLLBACK"};
  {
    RdbmsInterface db;
    EXPECT_TRUE(db.startTransaction());
  }
  EXPECT_EQ((Entries{{1, "RdbmsInterface::startTransaction: Exception \"40001: could not serialize access\" "
                         "thrown for statement BEGIN"},
                     {1, "RdbmsInterface::_rollbackTransaction: Exception \"40001: could not serialize access\" "
                         "thrown for statement ROLLBACK"}}),
            log.entries());
}

TEST_F(RdbmsScriptedTest, Commit_RunsEvenWithoutTransaction) {
  RdbmsInterface db;
  EXPECT_TRUE(db.commitTransaction());
  EXPECT_EQ((Statements{{"COMMIT", 0}}), _conn.statements);
}

TEST_F(RdbmsScriptedTest, Transaction_MissingStatementFileIsAFailure) {
  std::filesystem::remove(_root.path() + "/sql/sqlite/ui_CommitTransaction.sql");
  LogCapture log;
  RdbmsInterface db;
  EXPECT_FALSE(db.commitTransaction());
  EXPECT_EQ((Entries{{1, "RdbmsInterface::commitTransaction: Exception \"ZoSqlLoader::loadSQL: cannot open statement "
                         "file ui_CommitTransaction.sql (" +
                             _root.path() + "/sql/sqlite/ui_CommitTransaction.sql)\" thrown for statement "}}),
            log.entries());
  EXPECT_TRUE(_conn.statements.empty());
}

TEST_F(RdbmsScriptedTest, ExecuteSQL_TypeFollowsQuorDbTypeExactly) {
  struct Case { const char* name; const char* dbType; int want; };
  const Case cases[] = {{"unset", nullptr, 0}, {"mssql", "mssql", 1}, {"mssql2", "mssql2", 0}, {"MSSQL", "MSSQL", 0},
                        {"pgsql", "pgsql", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEnv type("QUOR_DB_TYPE", c.dbType);
    _conn.statements.clear();
    RdbmsInterface db;
    db.executeSQL("SELECT 1");
    EXPECT_EQ((Statements{{"SELECT 1", c.want}}), _conn.statements);
    if (c.dbType == nullptr) {
      EXPECT_EQ(nullptr, db.getDBType());
    } else {
      EXPECT_STREQ(c.dbType, db.getDBType());
    }
  }
}

TEST_F(RdbmsScriptedTest, NoConnection_EveryOperationGivesItsEmptyValue) {
  _pool.loanFailure = "08001: server unreachable";
  LogCapture log;
  {
    RdbmsInterface db;
    db.executeSQL("SELECT 1");
    db.executeSQL("SELECT 1", ZoDbConnect::ZO_SQL_BATCH);
    EXPECT_EQ(-1, db.fetchNextRow());
    EXPECT_EQ(-1, db.fetchNextResultSet());
    EXPECT_EQ(nullptr, db.getColVal("v"));
    EXPECT_EQ(0, db.getColValInt("v"));
    EXPECT_EQ(nullptr, db.getStmtHandle());
    char error[16] = "untouched";
    db.getError(3, nullptr, error, sizeof error);
    EXPECT_STREQ("untouched", error);
  }
  EXPECT_TRUE(_conn.statements.empty());
  EXPECT_EQ(std::vector<ZoDbConnect*>{nullptr}, _pool.returned) << "a failed loan returns null";
  EXPECT_EQ((Entries{{1, "RdbmsInterface::RdbmsInterface: Exception \"08001: server unreachable\" thrown"}}),
            log.entries());
}

TEST(RdbmsInterface, NoPool_FailedConnectKeepsUnconnectedConnection) {
  InstallRoot root(Backend::Sqlite, nullptr);
  root.writeDatabaseIni("[Database_Settings]\nDataSourceName = QuorNoSuchDsn\nUserId = u\nDatabase = d\n");
  ASSERT_TRUE(RdbmsInterface::Init(nullptr, nullptr, nullptr, nullptr));
  LogCapture log;
  RdbmsInterface db;
  EXPECT_EQ((Entries{{1, "RdbmsInterface::RdbmsInterface: Exception \"IM002: [unixODBC][Driver Manager]Data source "
                         "name not found and no default driver specified (data source QuorNoSuchDsn)\" thrown"}}),
            log.entries());
  EXPECT_EQ(1, db.fetchNextRow()) << "the unconnected connection answers, not the no-connection value";
  EXPECT_EQ("08003: connection not open", thrownText([&] { db.executeSQL("SELECT 1"); }));
}

// ---------------------------------------------------------------------------
// Text helpers.

TEST(RdbmsInterface, EscapeData_DoublesSingleQuotes) {
  struct Case { const char* name; const char* in; const char* want; bool same; };
  const Case cases[] = {
      {"one quote", "O'Brien", "O''Brien", false},
      {"two quotes", "''", "''''", false},
      {"edges", "'a'", "''a''", false},
      {"no quote", "plain text", "plain text", true},
      {"empty", "", "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string buffer = "untouched";
    const char* out = nullptr;
    RdbmsInterface::escapeData(c.in, buffer, out);
    ASSERT_NE(nullptr, out);
    EXPECT_STREQ(c.want, out);
    EXPECT_EQ(c.same, out == c.in);
    EXPECT_EQ(c.same ? std::string("untouched") : std::string(c.want), buffer);
  }
  std::string buffer;
  const char* out = "x";
  RdbmsInterface::escapeData(nullptr, buffer, out);
  EXPECT_EQ(nullptr, out);
}

TEST(RdbmsInterface, ReplacePercentageSign_BracketsEachSign) {
  struct Case { const char* name; const char* in; const char* want; bool same; };
  const Case cases[] = {
      {"one", "50%", "50[%]", false},
      {"two", "%%", "[%][%]", false},
      {"inside", "a%b%c", "a[%]b[%]c", false},
      {"none", "50 percent", "50 percent", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string buffer = "untouched";
    const char* out = nullptr;
    RdbmsInterface::replacePercentageSign(c.in, buffer, out);
    EXPECT_STREQ(c.want, out);
    EXPECT_EQ(c.same, out == c.in);
  }
  std::string buffer;
  const char* out = "x";
  RdbmsInterface::replacePercentageSign(nullptr, buffer, out);
  EXPECT_EQ(nullptr, out);
}

}  // namespace
}  // namespace quor::test
