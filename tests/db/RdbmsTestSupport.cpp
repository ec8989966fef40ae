#include "db/RdbmsTestSupport.h"

#include <filesystem>

#include "db/detail/RdbmsTesting.h"

namespace quor::test {

InstallRoot::InstallRoot(Backend backend, const TestDatabase* db)
    : _db(db),
      _dbDir(backendName(backend)),
      _home("QUOR_HOME", _dir.path().c_str()),
      _dbDirEnv("QUOR_DB_DIR", _dbDir.c_str()),
      _iniEnv("QUOR_DB_INI", nullptr),
      _odbcIni("ODBCINI", nullptr),
      _dbType("QUOR_DB_TYPE", nullptr) {
  quor::db::detail::RdbmsTestAccess::reset();
  // The dialect's overrides and the statements shared by both dialects.
  const std::filesystem::path source = sqlSourceDir(backend);
  for (const std::string& folder : {_dbDir, std::string("common")}) {
    const std::filesystem::path sql = std::filesystem::path(path()) / "sql" / folder;
    std::filesystem::create_directories(sql);
    for (const auto& entry : std::filesystem::directory_iterator(source.parent_path() / folder)) {
      if (!entry.is_regular_file()) continue;  // migrate/ is not read by units of work
      std::filesystem::copy_file(entry.path(), sql / entry.path().filename());
    }
  }
  if (db != nullptr && db->available()) db->writeOdbcIni(path() + "/config/odbc.ini", "QuorPolicy");
}

InstallRoot::~InstallRoot() { quor::db::detail::RdbmsTestAccess::reset(); }

void InstallRoot::writeDatabaseIni(const std::string& text) const {
  writeFile(path() + "/config/database.ini", text);
}

std::string InstallRoot::standardIni(const std::string& extra) const {
  return "[Database_Settings]\nDataSourceName = QuorPolicy\nUserId = quor\nDatabase = " +
         (_db != nullptr ? _db->databaseValue() : std::string("policy")) + "\n" + extra;
}

void ScriptedConnect::executeSQL(const char* sql, SQL_TYPE type, ...) {
  statements.emplace_back(sql, static_cast<int>(type));
  if (failing.count(sql) != 0) throw kFailure;
}

ZoDbConnect* ScriptedPool::getConnect() {
  if (loanFailure != nullptr) throw loanFailure;
  return _lend;
}

}  // namespace quor::test
