#include "dataaccess/DbBackends.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ZoDataAccess.h"

namespace quor::test {
namespace {

std::string sourceDir() {
  const char* dir = std::getenv("QUOR_SOURCE_DIR");
  return dir != nullptr ? dir : QUOR_TEST_SOURCE_DIR;
}

std::string pgBase(const std::string& port, const std::string& database) {
  return "DRIVER=PostgreSQL Unicode;Servername=127.0.0.1;Port=" + port +
         ";Database=" + database + ";UID=quor;";
}

std::string sanitize(const std::string& name) {
  std::string out = "qt_";
  for (const char c : name) {
    out.push_back(std::isalnum(static_cast<unsigned char>(c)) ? static_cast<char>(std::tolower(c)) : '_');
  }
  return out.substr(0, 63);
}

}  // namespace

const char* backendName(Backend backend) {
  return backend == Backend::Sqlite ? "sqlite" : "pgsql";
}

std::vector<Backend> allBackends() { return {Backend::Sqlite, Backend::Postgres}; }

std::string sqlSourceDir(Backend backend) { return sourceDir() + "/sql/" + backendName(backend); }

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quor-test.XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  _path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(_path, ignored);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const std::string& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

TestDatabase::TestDatabase(Backend backend, const std::string& name) : _backend(backend) {
  if (backend == Backend::Sqlite) {
    _databaseValue = _dir.path() + "/policy.db";
    _connectString = "DRIVER=SQLite3;Database=" + _databaseValue + ";";
  } else {
    const char* port = std::getenv("QUOR_TEST_PG_PORT");
    if (port == nullptr) {
      _skipReason = "PostgreSQL not configured (QUOR_TEST_PG_PORT unset)";
      return;
    }
    _port = port;
    _databaseValue = sanitize(name);
    try {
      ZoDbConnect admin;
      admin.connect(pgBase(_port, "postgres").c_str(), nullptr, nullptr, nullptr);
      admin.executeSQL(("DROP DATABASE IF EXISTS " + _databaseValue + " WITH (FORCE)").c_str(),
                       ZoDbConnect::ZO_SQL_BATCH);
      admin.executeSQL(("CREATE DATABASE " + _databaseValue).c_str(), ZoDbConnect::ZO_SQL_BATCH);
    } catch (const char* text) {
      _skipReason = std::string("PostgreSQL not reachable: ") + text;
      return;
    }
    _connectString = pgBase(_port, _databaseValue);
  }
  exec(readFile(sqlSourceDir(backend) + "/schema.sql"));
  _available = true;
}

void TestDatabase::writeOdbcIni(const std::string& path, const std::string& dsn) const {
  std::string text = "[" + dsn + "]\n";
  if (_backend == Backend::Sqlite) {
    text += "Description = policy database for a test\nDriver = SQLite3\nDatabase = " +
            _databaseValue + "\n";
  } else {
    text += "Driver = PostgreSQL Unicode\nServername = 127.0.0.1\nPort = " + _port +
            "\nDatabase = " + _databaseValue +
            "\nUsername = quor\n";
  }
  writeFile(path, text);
}

void TestDatabase::exec(const std::string& sql) const {
  ZoDbConnect c;
  c.connect(_connectString.c_str(), nullptr, nullptr, nullptr);
  c.executeSQL(sql.c_str(), ZoDbConnect::ZO_SQL_SPLIT);
}

std::string TestDatabase::scalar(const std::string& sql) const {
  ZoDbConnect c;
  c.connect(_connectString.c_str(), nullptr, nullptr, nullptr);
  c.executeSQL(sql.c_str(), ZoDbConnect::ZO_SQL_SPLIT);
  if (c.fetchNextRow() != 0) return "<none>";
  // The query names its column "v".
  const char* value = c.getColVal("v");
  return value == nullptr ? "<null>" : value;
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : _name(name) {
  if (const char* old = std::getenv(name)) {
    _old = old;
    _had = true;
  }
  if (value != nullptr) {
    ::setenv(name, value, 1);
  } else {
    ::unsetenv(name);
  }
}

ScopedEnv::~ScopedEnv() {
  if (_had) {
    ::setenv(_name.c_str(), _old.c_str(), 1);
  } else {
    ::unsetenv(_name.c_str());
  }
}

std::set<ZoDbConnect*> lendAll(ZoDataAccess& pool, int n) {
  std::vector<ZoDbConnect*> lent;
  for (int i = 0; i < n; ++i) lent.push_back(pool.getConnect());
  for (ZoDbConnect* c : lent) pool.returnConnect(c);
  return {lent.begin(), lent.end()};
}

}  // namespace quor::test
