// Tests of QUOR::RdbmsInterface: bootstrap paths and messages, the
// connection string, units of work with transactions on real databases,
// escaping, and the behaviour without a connection.
#include <gtest/gtest.h>

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
using Statements = std::vector<std::pair<std::string, int>>;

// ---------------------------------------------------------------------------
// Bootstrap: paths, configuration messages, connection string.

TEST(RdbmsInterface, Init_DerivesPathsFromEnvironment) {
  struct Case { const char* name; const char* home; const char* dbDir; const char* dbIni; const char* sqlPath; const char* configPath; };
  // clang-format off
  const Case cases[] = {
      {"plain root", "D:\\app", nullptr, nullptr, "D:\\app\\sql", "D:\\app\\config\\database.ini"},
      {"own slash kept", "D:/app/", nullptr, nullptr, "D:/app/sql", "D:/app/config\\database.ini"},
      {"own backslash kept", "D:\\app\\", nullptr, nullptr, "D:\\app\\sql", "D:\\app\\config\\database.ini"},
      {"db dir", "D:\\app", "extra", nullptr, "D:\\app\\sql\\extra", "D:\\app\\config\\database.ini"},
      {"db ini", "D:\\app", nullptr, "other.ini", "D:\\app\\sql", "D:\\app\\config\\other.ini"},
      {"home unset: paths stay empty", nullptr, nullptr, nullptr, "", ""},
      {"home empty", "", "extra", "pg.ini", "", ""},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Access::reset();
    ScopedEnv home("QUOR_HOME", c.home), dir("QUOR_DB_DIR", c.dbDir), ini("QUOR_DB_INI", c.dbIni);
    LogCapture log;
    // All four values given: the file must still open.
    EXPECT_FALSE(RdbmsInterface::Init("dsn", "user", "pw", "db"));
    EXPECT_STREQ(c.sqlPath, RdbmsInterface::GetSqlPath());
    EXPECT_STREQ(c.configPath, RdbmsInterface::GetConfigFilePath());
    const std::string want = *c.configPath != '\0'
                                 ? std::string("Could not open config file ") + c.configPath
                                 : "Environment variable \"QUOR_HOME\" not set";
    EXPECT_EQ((Entries{{1, "RdbmsInterface::_getInitString: " + want}}), log.entries());
    EXPECT_FALSE(Access::initCalled());
  }
  Access::reset();
}

TEST(RdbmsInterface, Init_MissingSettingsAreLoggedByKey) {
  struct Case { const char* name; const char* ini; std::string key; };
  const Case cases[] = {
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
    EXPECT_EQ((Entries{{1, "RdbmsInterface::init: ERROR: could read parameter \"" + c.key +
                               "\"from section Database_Settings in file " + file},
                       {1, "RdbmsInterface::getDbParams: Could not read " + c.key + " from config file " + file}}),
              log.entries());
  }
}

TEST(RdbmsInterface, GetParam_ClosedFileIsAnErrorOnlyWhenRequired) {
  QUOR::ConfigFileOnDisk closed("/nonexistent/quor/database.ini");
  std::string value = "kept";
  LogCapture log;
  EXPECT_TRUE(RdbmsInterface::getParam("Database_Settings", "Password", value, closed, false));
  EXPECT_EQ("kept", value);
  EXPECT_EQ(0u, log.size());
  EXPECT_FALSE(RdbmsInterface::getParam("Database_Settings", "UserId", value, closed, true));
  EXPECT_EQ((Entries{{1, "RdbmsInterface::_getParam: ERROR: could not open config "
                         "file/nonexistent/quor/database.ini to get database source name"}}),
            log.entries());
}

TEST(RdbmsInterface, Init_BuildsConnectionString) {
  const std::string longDsn(300, 'd'), longDb(300, 'b');
  const std::string ini = "[Database_Settings]\nDataSourceName = S\nUserId = u\nPassword = pw\nDatabase = d\n";
  struct Case { const char* name; std::string ini; const char* dsnArg; const char* passArg; std::string initString, dsn, password; };
  // clang-format off
  const Case cases[] = {
      {"no password key", "[Database_Settings]\nDataSourceName = S\nUserId = u\nDatabase = d\n", nullptr, nullptr, "ODBC;DRIVER=;DSN=S;UID=u;PWD=;DATABASE=d", "S", ""},
      {"plain password", ini, nullptr, nullptr, "ODBC;DRIVER=;DSN=S;UID=u;PWD=pw;DATABASE=d", "S", "pw"},
      {"arguments win", ini, "Given", "secret", "ODBC;DRIVER=;DSN=Given;UID=u;PWD=secret;DATABASE=d", "Given", "secret"},
      {"long values are cut", "[Database_Settings]\nDataSourceName = " + longDsn + "\nUserId = u\nDatabase = " + longDb + "\n",
       nullptr, nullptr, ("ODBC;DRIVER=;DSN=" + longDsn + ";UID=u;PWD=;DATABASE=" + longDb).substr(0, 511), longDsn.substr(0, 255), ""},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InstallRoot root(Backend::Sqlite, nullptr);
    root.writeDatabaseIni(c.ini);
    ASSERT_TRUE(RdbmsInterface::Init(c.dsnArg, nullptr, c.passArg, nullptr));
    EXPECT_EQ(c.initString, Access::initString());
    EXPECT_EQ(c.dsn, Access::dsn());
    EXPECT_EQ("u", Access::user());
    EXPECT_EQ(c.password, Access::password());
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
  EXPECT_EQ(1u, log.texts(4).size()) << describe(log.entries());
  EXPECT_FALSE(RdbmsInterface::ReInit()) << "no pool to rebuild";
}

TEST(RdbmsInterface, NoSuchDsn_PoolInitFailureIsLoggedAndLeavesInitOpen) {
  InstallRoot root(Backend::Sqlite, nullptr);
  root.writeDatabaseIni("[Database_Settings]\nDataSourceName = QuorNoSuchDsn\nUserId = u\nDatabase = d\n");
  ZoDataAccess* pool = nullptr;
  LogCapture log;
  EXPECT_FALSE(RdbmsInterface::Init(2, &pool, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(nullptr, pool);
  EXPECT_FALSE(Access::initCalled());
  EXPECT_NE(nullptr, Access::pool()) << "a pool whose init threw stays";
  // Two progress lines; the error frames the data-access layer's failure,
  // whose text that layer's tests read, with the connection string and size.
  EXPECT_EQ(2u, log.texts(4).size());
  const std::vector<std::string> errors = log.texts(1);
  ASSERT_EQ(1u, errors.size()) << describe(log.entries());
  EXPECT_EQ("RdbmsInterface::init: Exception \"IM002: ", errors[0].substr(0, 40));
  EXPECT_EQ(
      "\" thrown for ZoDataAccess::init(ODBC;DRIVER=;DSN=QuorNoSuchDsn;UID=u;PWD=;DATABASE=d, 2)",
      errors[0].substr(errors[0].rfind('"')));
}

// ---------------------------------------------------------------------------
// Units of work on real databases.

class RdbmsUnitTest : public ::testing::TestWithParam<Backend> {};

// The statement files of each backend begin, commit and roll back, with a
// pool and without one.
TEST_P(RdbmsUnitTest, Transaction_CommitKeepsRollbackOnDestructionUndoes) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  TestDatabase database(GetParam(), std::string("db_") + info->name());
  QUOR_REQUIRE_DATABASE(database);
  InstallRoot root(GetParam(), &database);
  root.writeDatabaseIni(root.standardIni());
  const auto count = [&](const std::string& key) {
    return database.scalar("SELECT COUNT(*) AS v FROM global_settings WHERE setting_key = '" + key + "'");
  };
  const auto insertSetting = [](RdbmsInterface& db, const std::string& key) {
    db.executeSQL(("INSERT INTO global_settings (section, setting_key, setting_value) VALUES ('t', '" + key +
                   "', 'x')").c_str());
  };
  for (const int poolSize : {2, 0}) {
    SCOPED_TRACE(poolSize == 0 ? "without pool" : "pool");
    Access::reset();
    if (poolSize == 0) {
      ASSERT_TRUE(RdbmsInterface::Init(nullptr, nullptr, nullptr, nullptr));
      RdbmsInterface::setDbConnectTimeOut(5);
      RdbmsInterface::setDbRetryTimeOut(1);
      RdbmsInterface::setDbReconnectTrial(2);
    } else {
      ZoDataAccess* pool = nullptr;
      LogCapture log;  // three progress lines
      ASSERT_TRUE(RdbmsInterface::Init(poolSize, &pool, nullptr, nullptr, nullptr, nullptr));
      EXPECT_EQ(3u, log.texts(4).size()) << describe(log.entries());
      ASSERT_NE(nullptr, pool);
      ASSERT_EQ(Access::pool(), pool);
      ZoDataAccess* again = nullptr;
      EXPECT_TRUE(RdbmsInterface::Init(poolSize, &again, nullptr, nullptr, nullptr, nullptr));
      EXPECT_EQ(nullptr, again) << "a second Init returns at once";
    }
    const std::string tag = std::to_string(poolSize);
    {
      RdbmsInterface db;
      ASSERT_TRUE(db.startTransaction());
      insertSetting(db, "committed" + tag);
      ASSERT_TRUE(db.commitTransaction());
    }
    {
      RdbmsInterface db;
      ASSERT_TRUE(db.startTransaction());
      ASSERT_TRUE(db.startTransaction()) << "a second start runs nothing and succeeds";
      insertSetting(db, "abandoned" + tag);
      EXPECT_EQ("0", count("abandoned" + tag)) << "not visible before commit";
    }  // destroyed inside the transaction: rolled back
    EXPECT_EQ("1", count("committed" + tag));
    EXPECT_EQ("0", count("abandoned" + tag));
    {
      RdbmsInterface db;  // the connection that rolled back is usable again
      insertSetting(db, "after" + tag);
    }
    EXPECT_EQ("1", count("after" + tag));
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, RdbmsUnitTest, ::testing::ValuesIn(allBackends()),
                         [](const auto& p) { return std::string(backendName(p.param)); });

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
};

TEST_F(RdbmsScriptedTest, Transaction_StatementsResultsAndFailures) {
  const std::string failed = "Exception \"40001: could not serialize access\" thrown for statement ";
  struct Case {
    const char* name;
    std::set<std::string> failing;
    const char* ops;   // 's' startTransaction, 'c' commitTransaction
    const char* want;  // their results, '1' for true
    Statements statements;
    Entries log;
  };
  // clang-format off
  const Case cases[] = {
      {"second start runs nothing, destruction rolls back", {}, "ss", "11", {{"BEGIN", 0}, {"ROLLBACK", 0}}, {}},
      {"commit runs even without a transaction", {}, "c", "1", {{"COMMIT", 0}}, {}},
      {"failed commit stays open for rollback", {"COMMIT"}, "sc", "10", {{"BEGIN", 0}, {"COMMIT", 0}, {"ROLLBACK", 0}},
       {{1, "RdbmsInterface::commitTransaction: " + failed + "COMMIT"}}},
      {"failed start: no rollback", {"BEGIN"}, "s", "0", {{"BEGIN", 0}}, {{1, "RdbmsInterface::startTransaction: " + failed + "BEGIN"}}},
      {"failed rollback", {"ROLLBACK"}, "s", "1", {{"BEGIN", 0}, {"ROLLBACK", 0}},
       {{1, "RdbmsInterface::_rollbackTransaction: " + failed + "ROLLBACK"}}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    _conn.statements.clear();
    _conn.failing = c.failing;
    _pool.returned.clear();
    LogCapture log;
    {
      RdbmsInterface db;
      std::string got;
      for (const char* op = c.ops; *op != '\0'; ++op) {
        got += (*op == 's' ? db.startTransaction() : db.commitTransaction()) ? '1' : '0';
      }
      EXPECT_EQ(c.want, got);
    }
    EXPECT_EQ(c.statements, _conn.statements);
    EXPECT_EQ(std::vector<ZoDbConnect*>{&_conn}, _pool.returned);
    EXPECT_EQ(c.log, log.entries());
  }
}

TEST_F(RdbmsScriptedTest, ExecuteSQL_TypeFollowsQuorDbTypeExactly) {
  struct Case { const char* dbType; int want; };
  const Case cases[] = {{nullptr, 0}, {"mssql", 1}, {"mssql2", 0}, {"MSSQL", 0}, {"pgsql", 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.dbType == nullptr ? "unset" : c.dbType);
    ScopedEnv type("QUOR_DB_TYPE", c.dbType);
    _conn.statements.clear();
    RdbmsInterface db;
    db.executeSQL("SELECT 1");
    EXPECT_EQ((Statements{{"SELECT 1", c.want}}), _conn.statements);
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

// ---------------------------------------------------------------------------
// Text helpers.

TEST(RdbmsInterface, TextHelpers_DoubleQuotesAndBracketPercentSigns) {
  using Helper = void (*)(const char*, std::string&, const char*&);
  const Helper escape = RdbmsInterface::escapeData, percent = RdbmsInterface::replacePercentageSign;
  struct Case { Helper helper; const char* in; const char* want; };
  const Case cases[] = {
      {escape, "O'Brien", "O''Brien"}, {escape, "''", "''''"}, {escape, "'a'", "''a''"},
      {escape, "plain text", "plain text"}, {escape, "", ""},
      {percent, "50%", "50[%]"}, {percent, "%%", "[%][%]"}, {percent, "a%b%c", "a[%]b[%]c"},
      {percent, "50 percent", "50 percent"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.helper == escape ? "escape " : "percent ") + c.in);
    std::string buffer = "untouched";
    const char* out = nullptr;
    c.helper(c.in, buffer, out);
    EXPECT_STREQ(c.want, out);
    const bool same = std::string(c.in) == c.want;  // unchanged text is handed back as is
    EXPECT_EQ(same, out == c.in);
    if (c.helper == escape) {
      EXPECT_EQ(same ? std::string("untouched") : std::string(c.want), buffer);
    }
  }
  for (const Helper helper : {escape, percent}) {
    std::string buffer;
    const char* out = "x";
    helper(nullptr, buffer, out);
    EXPECT_EQ(nullptr, out);
  }
}

}  // namespace
}  // namespace quor::test
