// Units of work on many threads at once share the pool: every thread gets
// its own connection's answers, and afterwards the pool holds the same
// connections as before.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "RdbmsInterface.h"
#include "db/RdbmsTestSupport.h"
#include "db/detail/RdbmsTesting.h"
#include "support/LogCapture.h"

namespace quor::test {
namespace {

using QUOR::RdbmsInterface;
using Access = quor::db::detail::RdbmsTestAccess;

class RdbmsConcurrencyTest : public ::testing::TestWithParam<Backend> {};

TEST_P(RdbmsConcurrencyTest, Pool_LendsToManyThreadsAndKeepsItsConnections) {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  TestDatabase database(GetParam(), std::string("cc_") + info->name());
  QUOR_REQUIRE_DATABASE(database);
  InstallRoot root(GetParam(), &database);
  root.writeDatabaseIni(root.standardIni());
  constexpr int kPoolSize = 3;
  constexpr int kThreads = 6;
  constexpr int kUnits = 40;
  {
    LogCapture log;
    ASSERT_TRUE(RdbmsInterface::Init(kPoolSize, nullptr, nullptr, nullptr, nullptr, nullptr));
  }
  ZoDataAccess* pool = Access::pool();
  ASSERT_EQ(static_cast<size_t>(kPoolSize), lendAll(*pool, kPoolSize).size());

  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &wrong] {
      for (int i = 0; i < kUnits; ++i) {
        const int want = t * 1000 + i;
        RdbmsInterface db;
        try {
          db.executeSQL(("SELECT " + std::to_string(want) + " AS v").c_str());
          if (db.fetchNextRow() != 0 || db.getColValInt("v") != want) ++wrong;
        } catch (const char*) {
          ++wrong;
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(0, wrong.load());
  // Extras opened while all were lent are closed on return; the pool keeps
  // at most its size, and a rebuilt pool still lends.
  EXPECT_EQ(static_cast<size_t>(kPoolSize), lendAll(*pool, kPoolSize).size());
  ASSERT_TRUE(RdbmsInterface::ReInit());
  RdbmsInterface db;
  db.executeSQL("SELECT 5 AS v");
  ASSERT_EQ(0, db.fetchNextRow());
  EXPECT_EQ(5, db.getColValInt("v"));
}

INSTANTIATE_TEST_SUITE_P(Backends, RdbmsConcurrencyTest, ::testing::ValuesIn(allBackends()),
                         [](const auto& p) { return std::string(backendName(p.param)); });

}  // namespace
}  // namespace quor::test
