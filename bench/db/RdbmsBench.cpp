// Cost of one unit of database work, pooled against a connection of its own.
//
// Each backend gets a scratch installation root and database with the
// schema and one global setting. A unit makes an RdbmsInterface, runs one
// query, reads its row and destroys the object. The answer is checked once
// before timing. PostgreSQL runs when QUOR_TEST_PG_PORT names a server.
//
// The floor: the same statement through the engine's own client library
// (SQLite's C API, libpq) on a connection opened once, preparing or sending
// the text and reading the row each time. BM_UnitOfWork_Pooled divided by
// BM_Floor_* is how far a pooled unit is from what the engine itself needs.
#include <benchmark/benchmark.h>
#include <unistd.h>
#ifdef QUOR_BENCH_SQLITE3
#include <sqlite3.h>
#endif
#ifdef QUOR_BENCH_LIBPQ
#include <libpq-fe.h>
#endif

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
    _database = database;
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
  // The SQLite file, or the PostgreSQL database name.
  const std::string& database() const { return _database; }

 private:
  fs::path _root;
  std::string _database;
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

// Times `unit` once it has given the expected answer on a ready setup;
// otherwise the run is skipped with the reason.
template <class Unit>
void timeUnit(benchmark::State& state, bool ready, const Unit& unit, const char* label) {
  if (!ready || !unit()) {
    state.SkipWithError("the unit of work does not give the expected answer");
    return;
  }
  for (auto _ : state) benchmark::DoNotOptimize(unit());
  state.SetLabel(label);
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
  timeUnit(state, ready, oneUnit, backend == kSqlite ? "sqlite" : "pgsql");
  Access::reset();
}

void BM_UnitOfWork_Pooled(benchmark::State& state) { runUnits(state, true); }
void BM_UnitOfWork_FreshConnection(benchmark::State& state) { runUnits(state, false); }

BENCHMARK(BM_UnitOfWork_Pooled)->Arg(kSqlite)->Arg(kPostgres);
BENCHMARK(BM_UnitOfWork_FreshConnection)->Arg(kSqlite)->Arg(kPostgres);

#ifdef QUOR_BENCH_SQLITE3
void BM_Floor_SqliteCApi(benchmark::State& state) {
  Setup& setup = setupFor(kSqlite);
  sqlite3* db = nullptr;
  if (!setup.ok() || sqlite3_open_v2(setup.database().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    state.SkipWithError("backend not available");
    return;
  }
  const auto unit = [db] {
    sqlite3_stmt* stmt = nullptr;
    bool ok = false;
    if (sqlite3_prepare_v2(db, kQuery, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW) {
      const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
      ok = value != nullptr && std::strcmp(value, "on") == 0;
    }
    sqlite3_finalize(stmt);
    return ok;
  };
  timeUnit(state, true, unit, "sqlite");
  sqlite3_close(db);
}
BENCHMARK(BM_Floor_SqliteCApi);
#endif

#ifdef QUOR_BENCH_LIBPQ
void BM_Floor_Libpq(benchmark::State& state) {
  Setup& setup = setupFor(kPostgres);
  const char* port = std::getenv("QUOR_TEST_PG_PORT");
  if (!setup.ok() || port == nullptr) {
    state.SkipWithError("backend not available");
    return;
  }
  const std::string info = std::string("host=127.0.0.1 port=") + port + " user=quor dbname=" + setup.database();
  PGconn* conn = PQconnectdb(info.c_str());
  const auto unit = [conn] {
    PGresult* result = PQexec(conn, kQuery);
    const bool ok = PQresultStatus(result) == PGRES_TUPLES_OK && PQntuples(result) == 1 &&
                    std::strcmp(PQgetvalue(result, 0, 0), "on") == 0;
    PQclear(result);
    return ok;
  };
  timeUnit(state, PQstatus(conn) == CONNECTION_OK, unit, "pgsql");
  PQfinish(conn);
}
BENCHMARK(BM_Floor_Libpq);
#endif

}  // namespace

BENCHMARK_MAIN();
