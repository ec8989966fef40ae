// Cost of one unit of database work, pooled against a connection of its own.
//
// Each backend gets a scratch installation root and database with the
// schema and one global setting. A unit makes an RdbmsInterface, runs one
// query, reads its row and destroys the object. The answer is checked once
// before timing. PostgreSQL runs when QUOR_TEST_PG_PORT names a server.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "RdbmsInterface.h"
#include "db/detail/RdbmsTesting.h"

namespace {

namespace fs = std::filesystem;
using QUOR::RdbmsInterface;
using Access = quor::db::detail::RdbmsTestAccess;

constexpr const char* kQuery =
    "SELECT setting_value AS value FROM global_settings "
    "WHERE section = 'email-scan' AND setting_key = 'manualRuleOrder'";

enum Backend { kSqlite = 0, kPostgres = 1 };

std::string readText(const fs::path& path) {
  std::ifstream in(path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A scratch root and database per backend, made once per process.
class Setup {
 public:
  explicit Setup(Backend backend) {
    std::string pattern = (fs::temp_directory_path() / "quor-bench.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return;
    _root = pattern;
    fs::create_directories(_root / "config");
    const std::string flavour = backend == kSqlite ? "sqlite" : "pgsql";
    std::string odbc = "[QuorBench]\n";
    std::string direct;
    std::string database;
    if (backend == kSqlite) {
      database = (_root / "bench.db").string();
      odbc += "Driver = SQLite3\nDatabase = " + database + "\n";
      direct = "DRIVER=SQLite3;Database=" + database + ";";
    } else {
      const char* port = std::getenv("QUOR_TEST_PG_PORT");
      if (port == nullptr) return;
      database = "quor_bench";
      const std::string base = std::string("DRIVER=PostgreSQL Unicode;Servername=127.0.0.1;Port=") + port + ";UID=quor;";
      try {
        ZoDbConnect admin;
        admin.connect((base + "Database=postgres;").c_str(), nullptr, nullptr, nullptr);
        admin.executeSQL("DROP DATABASE IF EXISTS quor_bench WITH (FORCE)", ZoDbConnect::ZO_SQL_BATCH);
        admin.executeSQL("CREATE DATABASE quor_bench", ZoDbConnect::ZO_SQL_BATCH);
      } catch (const char*) {
        return;
      }
      odbc += std::string("Driver = PostgreSQL Unicode\nServername = 127.0.0.1\nPort = ") + port +
              "\nDatabase = quor_bench\nUsername = quor\n";
      direct = base + "Database=quor_bench;";
    }
    std::ofstream(_root / "config" / "odbc.ini") << odbc;
    std::ofstream(_root / "config" / "database.ini")
        << "[Database_Settings]\nDataSourceName = QuorBench\nUserId = quor\nDatabase = " << database << "\n";
    try {
      ZoDbConnect c;
      c.connect(direct.c_str(), nullptr, nullptr, nullptr);
      const fs::path sql = fs::path(QUOR_BENCH_SOURCE_DIR) / "sql" / flavour;
      c.executeSQL(readText(sql / "schema.sql").c_str(), ZoDbConnect::ZO_SQL_SPLIT);
      c.executeSQL("INSERT INTO global_settings (section, setting_key, setting_value) "
                   "VALUES ('email-scan', 'manualRuleOrder', 'on')",
                   ZoDbConnect::ZO_SQL_SPLIT);
    } catch (const char*) {
      return;
    }
    _ok = true;
  }
  ~Setup() {
    std::error_code ignored;
    if (!_root.empty()) fs::remove_all(_root, ignored);
  }
  bool ok() const { return _ok; }
  const fs::path& root() const { return _root; }

 private:
  fs::path _root;
  bool _ok = false;
};

Setup& setupFor(Backend backend) {
  static Setup sqlite(kSqlite);
  if (backend == kSqlite) return sqlite;
  static Setup postgres(kPostgres);
  return postgres;
}

bool oneUnit() {
  RdbmsInterface db;
  db.executeSQL(kQuery);
  if (db.fetchNextRow() != 0) return false;
  const char* value = db.getColVal("value");
  return value != nullptr && std::strcmp(value, "on") == 0;
}

void runUnits(benchmark::State& state, bool pooled) {
  const auto backend = static_cast<Backend>(state.range(0));
  Setup& setup = setupFor(backend);
  if (!setup.ok()) {
    state.SkipWithError("backend not available");
    return;
  }
  Access::reset();
  ::setenv("QUOR_HOME", setup.root().c_str(), 1);
  ::unsetenv("ODBCINI");
  const bool ready = pooled ? RdbmsInterface::Init(2, nullptr, nullptr, nullptr, nullptr, nullptr)
                            : RdbmsInterface::Init(nullptr, nullptr, nullptr, nullptr);
  if (!ready || !oneUnit()) {
    state.SkipWithError("the unit of work does not give the expected answer");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(oneUnit());
  }
  state.SetLabel(backend == kSqlite ? "sqlite" : "pgsql");
  Access::reset();
}

void BM_UnitOfWork_Pooled(benchmark::State& state) { runUnits(state, true); }
void BM_UnitOfWork_FreshConnection(benchmark::State& state) { runUnits(state, false); }

BENCHMARK(BM_UnitOfWork_Pooled)->Arg(kSqlite)->Arg(kPostgres);
BENCHMARK(BM_UnitOfWork_FreshConnection)->Arg(kSqlite)->Arg(kPostgres);

}  // namespace

BENCHMARK_MAIN();
