// Test support for the database facade: a temporary installation root wired
// to a test database, and a scripted connection and pool for faults a real
// database cannot produce on demand.
#ifndef QUORPOLICY_TESTS_DB_RDBMSTESTSUPPORT_H_
#define QUORPOLICY_TESTS_DB_RDBMSTESTSUPPORT_H_

#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "RdbmsInterface.h"
#include "ZoDataAccess.h"
#include "dataaccess/DbBackends.h"

namespace quor::test {

// An installation root: config/database.ini, config/odbc.ini (data source
// "QuorPolicy" for `db`, when given) and the statement files of the backend
// under sql/<backend> and sql/common. While it lives QUOR_HOME names it, QUOR_DB_DIR the
// backend, and QUOR_DB_INI, ODBCINI and QUOR_DB_TYPE are unset. The facade's
// static state is reset when it is made and when it goes.
class InstallRoot {
 public:
  InstallRoot(Backend backend, const TestDatabase* db);
  ~InstallRoot();
  InstallRoot(const InstallRoot&) = delete;
  InstallRoot& operator=(const InstallRoot&) = delete;

  const std::string& path() const { return _dir.path(); }
  // The configuration file path as the facade spells it.
  std::string configPath() const { return path() + "\\config\\database.ini"; }
  void writeDatabaseIni(const std::string& text) const;
  // A database.ini for `db` with the given extra lines.
  std::string standardIni(const std::string& extra = "") const;

 private:
  TempDir _dir;
  const TestDatabase* _db;
  std::string _dbDir;
  ScopedEnv _home, _dbDirEnv, _iniEnv, _odbcIni, _dbType;
};

// A connection that records what it is asked to run and throws for chosen
// statements. It has no rows.
class ScriptedConnect : public ZoDbConnect {
 public:
  void executeSQL(const char* sql, SQL_TYPE type, ...) override;
  int fetchNextRow() override { return 1; }
  char* getColVal(const char*) override { return nullptr; }

  std::vector<std::pair<std::string, int>> statements;
  std::set<std::string> failing;  // statements that throw kFailure
  static constexpr const char* kFailure = "40001: could not serialize access";
};

// A pool that lends one scripted connection, or throws when `loanFailure`
// is set, and records what comes back.
class ScriptedPool : public ZoDataAccess {
 public:
  explicit ScriptedPool(ZoDbConnect* lend) : _lend(lend) {}
  ZoDbConnect* getConnect() override;
  void returnConnect(ZoDbConnect* connection) override { returned.push_back(connection); }

  const char* loanFailure = nullptr;
  std::vector<ZoDbConnect*> returned;

 private:
  ZoDbConnect* _lend;
};

}  // namespace quor::test

#endif  // QUORPOLICY_TESTS_DB_RDBMSTESTSUPPORT_H_
