#include "RdbmsInterface.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "ConfigFile.h"
#include "PolicyLog.h"
#include "QuorCrypt.h"
#include "QuorHome.h"
#include "db/detail/RdbmsTesting.h"

namespace QUOR {

std::string RdbmsInterface::ms_configPath;
std::string RdbmsInterface::ms_sqlPath;
std::string RdbmsInterface::ms_dsn;
std::string RdbmsInterface::ms_user;
std::string RdbmsInterface::ms_pass;
std::string RdbmsInterface::ms_initString;
ZoDataAccess* RdbmsInterface::ms_DataAccess = nullptr;
bool RdbmsInterface::ms_bInitCalled = false;
int RdbmsInterface::m_db_conn_timeout_secs = 0;
int RdbmsInterface::m_db_retry_timeout_secs = 0;
int RdbmsInterface::m_db_conn_retry = 0;

namespace {

constexpr const char* kSection = "Database_Settings";
constexpr size_t kMaxParam = 255;
constexpr size_t kMaxInitString = 511;
constexpr int kTransactionBuffer = 256;

std::string cut(const std::string& text, size_t limit) {
  return text.size() > limit ? text.substr(0, limit) : text;
}

// Whether the pool made by Init is owned here (deleted by the test reset).
bool gPoolOwned = true;

}  // namespace

// ---------------------------------------------------------------------------
// Bootstrap

bool RdbmsInterface::getParam(const char* section, const char* key, std::string& value,
                              ConfigFileOnDisk& file, bool required) {
  if (!file.isOpen()) {
    if (required) {
      PolicyLog::log(PolicyLog::Error,
                     "RdbmsInterface::_getParam: ERROR: could not open config file%s to get "
                     "database source name",
                     file.getCfgSrcName());
      return false;
    }
  }
  if (file.getparam(section, key, value) || !required) return true;
  PolicyLog::log(PolicyLog::Error,
                 "RdbmsInterface::init: ERROR: could read parameter \"%s\"from section %s in file %s",
                 key, section, file.getCfgSrcName());
  return false;
}

void RdbmsInterface::_logConfigFileError(const char* file) {
  // Kept for hosts that collect configuration faults; nothing is reported
  // beyond the message that follows the call.
  const std::vector<std::string> args{file != nullptr ? file : ""};
  (void)args;
}

void RdbmsInterface::_logConfigFileError(const char* section, const char* key, const char* file) {
  const std::vector<std::string> args{section != nullptr ? section : "", key != nullptr ? key : "",
                                      file != nullptr ? file : ""};
  (void)args;
}

bool RdbmsInterface::_getInitString(const char* dsn, const char* user, const char* password,
                                    const char* database) {
  const char* home = getQuorHome();
  if (home == nullptr || *home == '\0') {
    PolicyLog::log(PolicyLog::Error,
                   "RdbmsInterface::_getInitString: Environment variable \"QUOR_HOME\" not set");
    return false;
  }
  ms_configPath = home;
  if (ms_configPath.back() != '/' && ms_configPath.back() != '\\') ms_configPath.push_back('\\');
  ms_sqlPath = ms_configPath + "sql";
  if (const char* dbDir = std::getenv("QUOR_DB_DIR")) ms_sqlPath.append("\\").append(dbDir);
  if (const char* ini = std::getenv("QUOR_DB_INI")) {
    ms_configPath.append("config\\").append(ini);
  } else {
    ms_configPath.append("config\\database.ini");
  }

  ConfigFileOnDisk file(ms_configPath.c_str());
  if (!file.isOpen()) {
    _logConfigFileError(ms_configPath.c_str());
    PolicyLog::log(PolicyLog::Error, "RdbmsInterface::_getInitString: Could not open config file %s",
                   ms_configPath.c_str());
    return false;
  }

  // Reads one required value unless the caller gave it.
  auto required = [&](const char* given, const char* key, std::string& value) {
    if (given != nullptr) {
      value = given;
      return true;
    }
    if (getParam(kSection, key, value, file, true)) return true;
    _logConfigFileError(kSection, key, ms_configPath.c_str());
    PolicyLog::log(PolicyLog::Error, "RdbmsInterface::getDbParams: Could not read %s from config file %s",
                   key, ms_configPath.c_str());
    return false;
  };

  std::string dsnValue, userValue, passValue, databaseValue;
  if (!required(dsn, "DataSourceName", dsnValue)) return false;
  if (!required(user, "UserId", userValue)) return false;
  if (password != nullptr) {
    passValue = password;
  } else if (!getParam(kSection, "Password", passValue, file, false)) {
    passValue.clear();
  }
  {
    // NewDecryptStr works in place and never lengthens the text.
    std::vector<char> clear(passValue.begin(), passValue.end());
    clear.push_back('\0');
    if (NewDecryptStr(clear.data()) != 0) passValue = clear.data();
  }
  if (!required(database, "Database", databaseValue)) return false;

  char initString[kMaxInitString + 1];
  std::snprintf(initString, sizeof initString, "ODBC;DRIVER=;DSN=%s;UID=%s;PWD=%s;DATABASE=%s",
                dsnValue.c_str(), userValue.c_str(), passValue.c_str(), databaseValue.c_str());
  ms_initString = initString;
  ms_dsn = cut(dsnValue, kMaxParam);
  ms_user = cut(userValue, kMaxParam);
  ms_pass = cut(passValue, kMaxParam);
  return true;
}

bool RdbmsInterface::Init(const char* dsn, const char* user, const char* password,
                          const char* database) {
  if (ms_bInitCalled) return true;
  if (!_getInitString(dsn, user, password, database)) return false;
  ms_bInitCalled = true;
  return true;
}

bool RdbmsInterface::Init(int count, ZoDataAccess** pool, const char* dsn, const char* user,
                          const char* password, const char* database) {
  PolicyLog::log(PolicyLog::Progress, "RdbmsInterface: Init() ...\n");
  if (ms_bInitCalled) return true;
  if (!_getInitString(dsn, user, password, database)) return false;
  PolicyLog::log(PolicyLog::Progress, "RdbmsInterface: Init() connection string is %s\n",
                 ms_initString.c_str());
  try {
    // A pool whose init failed earlier is reused rather than replaced, so a
    // repeated Init does not leave the old one behind.
    if (ms_DataAccess == nullptr) {
      ms_DataAccess = new (std::nothrow) ZoDataAccess;
      gPoolOwned = true;
    }
    if (ms_DataAccess == nullptr) {
      PolicyLog::log(PolicyLog::Error, "RdbmsInterface::init: Allocation of ZoDataAccess failed");
      return false;
    }
    ms_DataAccess->init(ms_initString.c_str(), count, ms_dsn.c_str(), ms_user.c_str(),
                        ms_pass.c_str());
    PolicyLog::log(PolicyLog::Progress, "RdbmsInterface: Init() data access is ready\n");
  } catch (const char* text) {
    PolicyLog::log(PolicyLog::Error,
                   "RdbmsInterface::init: Exception \"%s\" thrown for ZoDataAccess::init(%s, %d)",
                   text, ms_initString.c_str(), count);
    return false;
  }
  if (pool != nullptr) *pool = ms_DataAccess;
  ms_bInitCalled = true;
  return true;
}

bool RdbmsInterface::ReInit() { return ms_DataAccess != nullptr && ms_DataAccess->reinit(); }

const char* RdbmsInterface::GetConfigFilePath() { return ms_configPath.c_str(); }

const char* RdbmsInterface::GetSqlPath() { return ms_sqlPath.c_str(); }

void RdbmsInterface::setDbConnectTimeOut(int seconds) { m_db_conn_timeout_secs = seconds; }

void RdbmsInterface::setDbRetryTimeOut(int seconds) { m_db_retry_timeout_secs = seconds; }

void RdbmsInterface::setDbReconnectTrial(int trials) { m_db_conn_retry = trials; }

// ---------------------------------------------------------------------------
// Units of work

RdbmsInterface::RdbmsInterface() : m_conn(nullptr), m_bInTransaction(false) {
  try {
    if (ms_DataAccess != nullptr) {
      m_conn = ms_DataAccess->getConnect();
      return;
    }
    m_conn = new (std::nothrow) ZoDbConnect;
    if (m_conn == nullptr) return;
    if (m_db_conn_timeout_secs != 0) m_conn->setDbConnectTimeOut(m_db_conn_timeout_secs);
    if (m_db_retry_timeout_secs != 0) m_conn->setDbRetrialTimeOut(m_db_retry_timeout_secs);
    if (m_db_conn_retry != 0) m_conn->setDbReconnectTrial(m_db_conn_retry);
    m_conn->connect(ms_initString.c_str(), ms_dsn.c_str(), ms_user.c_str(), ms_pass.c_str());
  } catch (const char* text) {
    PolicyLog::log(PolicyLog::Error, "RdbmsInterface::RdbmsInterface: Exception \"%s\" thrown", text);
  }
}

RdbmsInterface::~RdbmsInterface() {
  if (m_bInTransaction) _rollbackTransaction();
  if (ms_DataAccess != nullptr) {
    ms_DataAccess->returnConnect(m_conn);
  } else {
    delete m_conn;
  }
}

bool RdbmsInterface::startTransaction() {
  if (m_bInTransaction) return true;
  char buffer[kTransactionBuffer] = "";
  try {
    ZoSqlLoader loader(GetSqlPath());
    loader.loadSQL(buffer, sizeof buffer, "ui_StartTransaction.sql");
    executeSQL(buffer);
    m_bInTransaction = true;
  } catch (const char* text) {
    PolicyLog::log(PolicyLog::Error,
                   "RdbmsInterface::startTransaction: Exception \"%s\" thrown for statement %s", text,
                   buffer);
  }
  return m_bInTransaction;
}

bool RdbmsInterface::commitTransaction() {
  char buffer[kTransactionBuffer] = "";
  try {
    ZoSqlLoader loader(GetSqlPath());
    loader.loadSQL(buffer, sizeof buffer, "ui_CommitTransaction.sql");
    executeSQL(buffer);
  } catch (const char* text) {
    PolicyLog::log(PolicyLog::Error,
                   "RdbmsInterface::commitTransaction: Exception \"%s\" thrown for statement %s",
                   text, buffer);
    return false;
  }
  m_bInTransaction = false;
  return true;
}

void RdbmsInterface::_rollbackTransaction() {
  if (!m_bInTransaction) return;
  char buffer[kTransactionBuffer] = "";
  try {
    ZoSqlLoader loader(GetSqlPath());
    loader.loadSQL(buffer, sizeof buffer, "ui_RollbackTransaction.sql");
    executeSQL(buffer);
  } catch (const char* text) {
    PolicyLog::log(PolicyLog::Error,
                   "RdbmsInterface::_rollbackTransaction: Exception \"%s\" thrown for statement %s",
                   text, buffer);
  }
}

void RdbmsInterface::executeSQL(const char* sql) {
  const char* type = std::getenv("QUOR_DB_TYPE");
  const bool mssql = type != nullptr && std::strcmp(type, "mssql") == 0;
  executeSQL(sql, mssql ? ZoDbConnect::ZO_SQL_BATCH : ZoDbConnect::ZO_SQL_SPLIT);
}

void RdbmsInterface::executeSQL(const char* sql, ZoDbConnect::SQL_TYPE type) {
  if (m_conn != nullptr) m_conn->executeSQL(sql, type);
}

int RdbmsInterface::fetchNextRow() { return m_conn != nullptr ? m_conn->fetchNextRow() : -1; }

int RdbmsInterface::fetchNextResultSet() {
  return m_conn != nullptr ? m_conn->fetchNextResultSet() : -1;
}

const char* RdbmsInterface::getColVal(const char* column) {
  return m_conn != nullptr ? m_conn->getColVal(column) : nullptr;
}

int RdbmsInterface::getColValInt(const char* column) {
  return m_conn != nullptr ? m_conn->getColValInt(column) : 0;
}

void* RdbmsInterface::getStmtHandle() { return m_conn != nullptr ? m_conn->getStmtHandle() : nullptr; }

void RdbmsInterface::getError(short handleType, void* handle, char* buffer, int bufferSize) {
  if (m_conn != nullptr) m_conn->getError(handleType, handle, buffer, bufferSize);
}

const char* RdbmsInterface::getDBType() { return std::getenv("QUOR_DB_TYPE"); }

// ---------------------------------------------------------------------------
// Text helpers

void RdbmsInterface::escapeData(const char* in, std::string& buffer, const char*& out) {
  out = in;
  if (in == nullptr || std::strchr(in, '\'') == nullptr) return;
  const size_t length = std::strlen(in);
  buffer.clear();
  buffer.reserve(length + 50);
  for (const char* p = in; *p != '\0'; ++p) {
    buffer.push_back(*p);
    if (*p == '\'') buffer.push_back('\'');
  }
  out = buffer.c_str();
}

void RdbmsInterface::replacePercentageSign(const char* in, std::string& buffer, const char*& out) {
  out = in;
  if (in == nullptr || std::strchr(in, '%') == nullptr) return;
  buffer.clear();
  buffer.reserve(std::strlen(in) + 50);
  buffer = in;
  for (size_t pos = buffer.find('%'); pos != std::string::npos; pos = buffer.find('%', pos + 3)) {
    buffer.replace(pos, 1, "[%]");
  }
  out = buffer.c_str();
}

}  // namespace QUOR

// ---------------------------------------------------------------------------
// Test access

namespace quor::db::detail {

using QUOR::RdbmsInterface;

void RdbmsTestAccess::reset() {
  RdbmsInterface::ms_configPath.clear();
  RdbmsInterface::ms_sqlPath.clear();
  RdbmsInterface::ms_dsn.clear();
  RdbmsInterface::ms_user.clear();
  RdbmsInterface::ms_pass.clear();
  RdbmsInterface::ms_initString.clear();
  if (QUOR::gPoolOwned) delete RdbmsInterface::ms_DataAccess;
  RdbmsInterface::ms_DataAccess = nullptr;
  QUOR::gPoolOwned = true;
  RdbmsInterface::ms_bInitCalled = false;
  RdbmsInterface::m_db_conn_timeout_secs = 0;
  RdbmsInterface::m_db_retry_timeout_secs = 0;
  RdbmsInterface::m_db_conn_retry = 0;
}

void RdbmsTestAccess::usePool(ZoDataAccess* pool, bool owned) {
  RdbmsInterface::ms_DataAccess = pool;
  QUOR::gPoolOwned = owned;
}

ZoDataAccess* RdbmsTestAccess::pool() { return RdbmsInterface::ms_DataAccess; }
bool RdbmsTestAccess::initCalled() { return RdbmsInterface::ms_bInitCalled; }
const std::string& RdbmsTestAccess::initString() { return RdbmsInterface::ms_initString; }
const std::string& RdbmsTestAccess::dsn() { return RdbmsInterface::ms_dsn; }
const std::string& RdbmsTestAccess::user() { return RdbmsInterface::ms_user; }
const std::string& RdbmsTestAccess::password() { return RdbmsInterface::ms_pass; }

}  // namespace quor::db::detail
