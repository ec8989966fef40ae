#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ZoObjectPool.h"
#include "quorcommon/TempRoot.h"
#include "support/LogCapture.h"

namespace {

using quor::test::LogCapture;
using quor::test::TempRoot;

std::string sqliteConnectString(const TempRoot& root) {
  return "DRIVER=SQLite3;Database=" + (root.root() / "test.db").string();
}

// A connection to a fresh SQLite file under a temporary root.
class ZoDBConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(_c.connect()); }
  TempRoot _root;
  QUOR::ZoDBConnection _c{sqliteConnectString(_root).c_str()};
};

// Runs `sql` and returns every row, columns joined by '|', NULL as "<null>".
std::vector<std::string> rows(QUOR::ZoDBAbstractConnection& c, const char* sql) {
  std::vector<std::string> out;
  QUOR::ZoDBStatement* st = c.prepareStatement(sql);
  if (st == nullptr) return {"<no statement>"};
  QUOR::ZoDBResultset* rs = c.excute(st);
  if (rs == nullptr) return {"<failed>"};
  while (rs->next()) {
    std::string row;
    for (int col = 1; col <= rs->getColumnCount(); ++col) {
      std::string value;
      if (col > 1) row += "|";
      row += rs->getString(col, value) ? value : (rs->isNull(col) ? "<null>" : "<bad>");
    }
    out.push_back(row);
  }
  c.closeStatement(st);
  return out;
}

TEST_F(ZoDBConnectionTest, Excute_ReadsRowsNullsAndLongTexts) {
  EXPECT_EQ(QUOR::ZoDBAbstractConnection::DBMS_SQLITE, _c.getDBMSType());
  EXPECT_EQ(QUOR::ZoDBAbstractConnection::STATE_CONNECTED, _c.getState());
  const std::string longText(5000, 'x');
  const std::string statements[] = {"CREATE TABLE t (id INTEGER, name TEXT)",
                                    "INSERT INTO t VALUES (1, 'one'), (2, NULL)",
                                    "INSERT INTO t VALUES (3, '" + longText + "')"};
  for (const auto& sql : statements) EXPECT_TRUE(rows(_c, sql.c_str()).empty()) << sql;
  EXPECT_EQ((std::vector<std::string>{"1|one", "2|<null>", "3|" + longText}),
            rows(_c, "SELECT id, name FROM t ORDER BY id"));
  EXPECT_EQ((std::vector<std::string>{"<null>|x"}), rows(_c, "SELECT NULL, 'x'"));

  QUOR::ZoDBStatement* st = _c.prepareStatement("SELECT name FROM t WHERE id = 1");
  QUOR::ZoDBResultset* rs = _c.excute(st);
  ASSERT_NE(nullptr, rs);
  ASSERT_TRUE(rs->next());
  std::string value;
  EXPECT_TRUE(rs->getString("name", value));
  EXPECT_EQ("one", value);
  EXPECT_FALSE(rs->getString("nope", value));
  EXPECT_FALSE(rs->next());
}

TEST_F(ZoDBConnectionTest, Rollback_UndoesTransactionWork) {
  rows(_c, "CREATE TABLE t (id INTEGER)");
  ASSERT_TRUE(_c.beginTransaction());
  EXPECT_FALSE(_c.beginTransaction());
  rows(_c, "INSERT INTO t VALUES (1)");
  EXPECT_TRUE(_c.rollback());
  EXPECT_TRUE(rows(_c, "SELECT id FROM t").empty());
  ASSERT_TRUE(_c.beginTransaction());
  rows(_c, "INSERT INTO t VALUES (2)");
  EXPECT_TRUE(_c.commit());
  EXPECT_EQ((std::vector<std::string>{"2"}), rows(_c, "SELECT id FROM t"));
  EXPECT_FALSE(_c.commit());
  ASSERT_TRUE(_c.beginTransaction());
  ASSERT_TRUE(_c.reconnect());  // a new link starts outside any transaction
  EXPECT_TRUE(_c.beginTransaction());
}

TEST_F(ZoDBConnectionTest, Failures_AreLoggedAndReported) {
  LogCapture capture;
  QUOR::ZoDBConnection bad("DSN=quor_no_such_dsn");
  EXPECT_FALSE(bad.connect());
  EXPECT_EQ(QUOR::ZoDBAbstractConnection::STATE_BROKEN, bad.getState());
  EXPECT_EQ(nullptr, bad.prepareStatement("SELECT 1"));
  EXPECT_EQ((std::vector<std::string>{
                "ZoDBConnection::connect: could not connect: IM002: [unixODBC][Driver Manager]Data "
                "source name not found and no default driver specified"}),
            capture.texts(1));
  capture.clear();
  EXPECT_EQ((std::vector<std::string>{"<failed>"}), rows(_c, "SELECT * FROM missing"));
  ASSERT_EQ(1u, capture.texts(1).size());
  EXPECT_EQ(0u, capture.texts(1)[0].rfind("ZoDBConnection::excute: SELECT * FROM missing failed: ", 0))
      << capture.texts(1)[0];
}

TEST(ZoDBConnectionPool, GetConnection_LendsRecyclesAndLimits) {
  TempRoot root;
  const std::string connect = sqliteConnectString(root);
  QUOR::ZoDBConnectionPoolManager manager;
  QUOR::ZoDBConnectionPool* pool = manager.getPool("main", connect.c_str(), 1, 2, 60);
  ASSERT_NE(nullptr, pool);
  EXPECT_EQ(pool, manager.getPool("main", "ignored", 5, 5, 0));
  EXPECT_EQ(connect, pool->getConnectStr());
  EXPECT_EQ(1, pool->getPoolSize());

  QUOR::ZoDBCachedConnection* a = pool->getConnection();
  QUOR::ZoDBCachedConnection* b = pool->getConnection();
  ASSERT_NE(nullptr, a);
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(nullptr, pool->getConnection());
  rows(*a, "CREATE TABLE t (id INTEGER)");
  ASSERT_TRUE(a->beginTransaction());
  rows(*a, "INSERT INTO t VALUES (1)");
  EXPECT_TRUE(pool->returnConnection(a));  // recycling rolls the insert back
  EXPECT_FALSE(a->connection().inTransaction());
  EXPECT_TRUE(rows(*b, "SELECT id FROM t").empty());
  EXPECT_EQ(a, pool->getConnection());
  pool->returnConnection(a);
  pool->returnConnection(b);
  EXPECT_EQ(2, pool->getIdleSize());

  LogCapture capture;
  EXPECT_EQ(nullptr, manager.getPool("bad", "DSN=quor_no_such_dsn", 1, 1, 0));
  EXPECT_EQ(1u, capture.texts(1).size());
}

}  // namespace
