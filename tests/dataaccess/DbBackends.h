// Test support: the databases the database tests run on.
//
// Every test that touches a database runs once per backend: SQLite through
// its ODBC driver (always available) and PostgreSQL through psqlODBC when the
// environment names a server (QUOR_TEST_PG_PORT; see .ci/services.sh). Each
// test gets a fresh, empty database with the schema of sql/<backend>/.
#ifndef QUORPOLICY_TESTS_DATAACCESS_DBBACKENDS_H_
#define QUORPOLICY_TESTS_DATAACCESS_DBBACKENDS_H_

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

class ZoDataAccess;
class ZoDbConnect;

namespace quor::test {

enum class Backend { Sqlite, Postgres };

const char* backendName(Backend backend);

// Both backends, for INSTANTIATE_TEST_SUITE_P.
std::vector<Backend> allBackends();

// The source tree's folder of statement files for a backend.
std::string sqlSourceDir(Backend backend);

// A scratch folder, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return _path; }

 private:
  std::string _path;
};

// A fresh database for one test. available() is false when the backend is
// not configured; the caller then skips (or fails, when QUOR_TEST_REQUIRE_PG
// is set: see QUOR_REQUIRE_DATABASE).
class TestDatabase {
 public:
  // `name` tells databases of concurrently running tests apart.
  TestDatabase(Backend backend, const std::string& name);
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  Backend backend() const { return _backend; }
  bool available() const { return _available; }
  const std::string& skipReason() const { return _skipReason; }

  // A plain ODBC connection string for this database.
  const std::string& connectString() const { return _connectString; }

  // Writes an odbc.ini entry named `dsn` for this database into `path`.
  void writeOdbcIni(const std::string& path, const std::string& dsn) const;

  // The Database value for database.ini: the file for SQLite, the database
  // name for PostgreSQL.
  const std::string& databaseValue() const { return _databaseValue; }

  // Runs statements on a connection of its own; throws const char* on failure.
  void exec(const std::string& sql) const;
  // Column "v" of the first row of a query, "<null>" for SQL NULL,
  // "<none>" without rows.
  std::string scalar(const std::string& sql) const;

 private:
  Backend _backend;
  bool _available = false;
  std::string _skipReason;
  std::string _connectString;
  std::string _databaseValue;
  std::string _port;
  TempDir _dir;
};

// Sets (or, with null, unsets) an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string _name, _old;
  bool _had = false;
};

// Runs `work` and returns the text it threw as the data-access library
// does, or "<nothing thrown>".
template <class Work>
std::string thrownText(Work&& work) {
  try {
    work();
  } catch (const char* text) {
    return text;
  }
  return "<nothing thrown>";
}

// Lends `n` connections of `pool` at once and gives them back; the set of
// connections lent.
std::set<ZoDbConnect*> lendAll(ZoDataAccess& pool, int n);

// Reads a whole file.
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);

}  // namespace quor::test

// Skips the test when the database is not available, unless the run
// requires PostgreSQL, in which case the test fails.
#define QUOR_REQUIRE_DATABASE(db)                                                      \
  do {                                                                                 \
    if (!(db).available()) {                                                           \
      if (std::getenv("QUOR_TEST_REQUIRE_PG") != nullptr) FAIL() << (db).skipReason(); \
      GTEST_SKIP() << (db).skipReason();                                               \
    }                                                                                  \
  } while (0)

#endif  // QUORPOLICY_TESTS_DATAACCESS_DBBACKENDS_H_
