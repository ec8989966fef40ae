#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "PolicyLog.h"
#include "ZoObjectPool.h"

namespace QUOR {
namespace {

// The diagnostic records of a handle, joined for the log.
std::string diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::string out;
  SQLCHAR state[6] = {};
  SQLCHAR message[512] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  for (SQLSMALLINT i = 1;
       SQLGetDiagRec(type, handle, i, state, &native, message, sizeof message, &length) ==
       SQL_SUCCESS;
       ++i) {
    if (!out.empty()) out += "; ";
    out += reinterpret_cast<const char*>(state);
    out += ": ";
    out += reinterpret_cast<const char*>(message);
  }
  return out.empty() ? "no diagnostics" : out;
}

bool ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// SQL states of a lost connection.
bool connectionLost(SQLSMALLINT type, SQLHANDLE handle) {
  SQLCHAR state[6] = {};
  SQLCHAR message[8] = {};
  SQLINTEGER native = 0;
  SQLSMALLINT length = 0;
  if (SQLGetDiagRec(type, handle, 1, state, &native, message, sizeof message, &length) ==
      SQL_NO_DATA) {
    return false;
  }
  return std::strncmp(reinterpret_cast<const char*>(state), "08", 2) == 0;
}

}  // namespace

struct ZoDBConnection::Handles {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  bool connected = false;
  ~Handles() {
    if (connected) SQLDisconnect(dbc);
    if (dbc != SQL_NULL_HDBC) SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    if (env != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env);
  }
};

struct ZoDBStatement::Impl {
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  ~Impl() {
    if (stmt != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  }
};

struct ZoDBResultset::Impl {
  std::shared_ptr<ZoDBStatement::Impl> statement;  // keeps the handle alive
  bool done = false;
};

ZoDBResultset::~ZoDBResultset() {}
ZoDBStatement::~ZoDBStatement() {}

bool ZoDBResultset::next() {
  if (!_impl || _impl->done) return false;
  SQLHSTMT stmt = _impl->statement->stmt;
  _row.clear();
  _nulls.clear();
  SQLRETURN rc = SQLFetch(stmt);
  if (rc == SQL_NO_DATA) {
    _impl->done = true;
    return false;
  }
  if (!ok(rc)) {
    PolicyLog::log(PolicyLog::Error, "ZoDBResultset::next: fetch failed: %s",
                   diagnostics(SQL_HANDLE_STMT, stmt).c_str());
    _impl->done = true;
    return false;
  }
  for (size_t col = 1; col <= _names.size(); ++col) {
    std::string value;
    bool isNullValue = false;
    char buffer[1024];
    for (;;) {
      SQLLEN indicator = 0;
      rc = SQLGetData(stmt, static_cast<SQLUSMALLINT>(col), SQL_C_CHAR, buffer, sizeof buffer,
                      &indicator);
      if (rc == SQL_NO_DATA) break;
      if (!ok(rc)) {
        PolicyLog::log(PolicyLog::Error, "ZoDBResultset::next: reading column %zu failed: %s", col,
                       diagnostics(SQL_HANDLE_STMT, stmt).c_str());
        _impl->done = true;
        _row.clear();
        _nulls.clear();
        return false;
      }
      if (indicator == SQL_NULL_DATA) {
        isNullValue = true;
        break;
      }
      // A truncated part fills the buffer except its terminator.
      size_t got = indicator == SQL_NO_TOTAL || indicator >= static_cast<SQLLEN>(sizeof buffer)
                       ? sizeof buffer - 1
                       : static_cast<size_t>(indicator);
      value.append(buffer, got);
      if (rc == SQL_SUCCESS) break;
    }
    _row.push_back(std::move(value));
    _nulls.push_back(isNullValue);
  }
  return true;
}

int ZoDBResultset::indexOf(const char* name) const {
  if (name == nullptr) return -1;
  for (size_t i = 0; i < _names.size(); ++i) {
    if (_names[i] == name) return static_cast<int>(i) + 1;
  }
  return -1;
}

bool ZoDBResultset::getString(int column, std::string& value) const {
  if (column < 1 || static_cast<size_t>(column) > _row.size()) return false;
  if (_nulls[static_cast<size_t>(column) - 1]) return false;
  value = _row[static_cast<size_t>(column) - 1];
  return true;
}

bool ZoDBResultset::getString(const char* name, std::string& value) const {
  return getString(indexOf(name), value);
}

bool ZoDBResultset::isNull(int column) const {
  return column >= 1 && static_cast<size_t>(column) <= _nulls.size() &&
         _nulls[static_cast<size_t>(column) - 1];
}

ZoDBConnection::ZoDBConnection(const char* connectStr)
    : _connectStr(connectStr != nullptr ? connectStr : "") {}

ZoDBConnection::~ZoDBConnection() { close(); }

bool ZoDBConnection::connect() {
  if (_state == STATE_CONNECTED) return true;
  std::string lastError;
  for (int attempt = 0; attempt <= std::max(_reconnectTimes, 0); ++attempt) {
    auto handles = std::make_unique<Handles>();
    if (!ok(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &handles->env)) ||
        !ok(SQLSetEnvAttr(handles->env, SQL_ATTR_ODBC_VERSION,
                          reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0)) ||
        !ok(SQLAllocHandle(SQL_HANDLE_DBC, handles->env, &handles->dbc))) {
      lastError = "could not allocate ODBC handles";
      continue;
    }
    if (_connectTimeout > 0) {
      SQLSetConnectAttr(handles->dbc, SQL_ATTR_LOGIN_TIMEOUT,
                        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(_connectTimeout)), 0);
    }
    std::string in = _connectStr;
    SQLCHAR out[1024];
    SQLSMALLINT outLength = 0;
    SQLRETURN rc = SQLDriverConnect(handles->dbc, nullptr,
                                    reinterpret_cast<SQLCHAR*>(in.data()),
                                    static_cast<SQLSMALLINT>(in.size()), out, sizeof out,
                                    &outLength, SQL_DRIVER_NOPROMPT);
    if (!ok(rc)) {
      lastError = diagnostics(SQL_HANDLE_DBC, handles->dbc);
      continue;
    }
    handles->connected = true;
    SQLCHAR name[128] = {};
    SQLSMALLINT nameLength = 0;
    _dbmsType = DBMS_UNKNOWN;
    if (ok(SQLGetInfo(handles->dbc, SQL_DBMS_NAME, name, sizeof name, &nameLength))) {
      std::string dbms(reinterpret_cast<const char*>(name));
      std::transform(dbms.begin(), dbms.end(), dbms.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      if (dbms.find("sqlite") != std::string::npos) _dbmsType = DBMS_SQLITE;
      if (dbms.find("postgres") != std::string::npos) _dbmsType = DBMS_POSTGRESQL;
    }
    _handles = std::move(handles);
    _state = STATE_CONNECTED;
    return true;
  }
  PolicyLog::log(PolicyLog::Error, "ZoDBConnection::connect: could not connect: %s",
                 lastError.c_str());
  _state = STATE_BROKEN;
  return false;
}

bool ZoDBConnection::reconnect() {
  close();
  return connect();
}

void ZoDBConnection::close() {
  _statements.clear();
  if (_handles && _inTransaction && _state == STATE_CONNECTED) {
    SQLEndTran(SQL_HANDLE_DBC, _handles->dbc, SQL_ROLLBACK);
  }
  _inTransaction = false;
  _handles.reset();
  _state = STATE_CLOSED;
}

ZoDBStatement* ZoDBConnection::prepareStatement(const char* sql) {
  if (sql == nullptr || _state != STATE_CONNECTED) return nullptr;
  auto impl = std::make_shared<ZoDBStatement::Impl>();
  if (!ok(SQLAllocHandle(SQL_HANDLE_STMT, _handles->dbc, &impl->stmt))) {
    PolicyLog::log(PolicyLog::Error, "ZoDBConnection::prepareStatement: %s",
                   diagnostics(SQL_HANDLE_DBC, _handles->dbc).c_str());
    impl->stmt = SQL_NULL_HSTMT;
    return nullptr;
  }
  auto statement = std::make_unique<ZoDBStatement>();
  statement->_sql = sql;
  statement->_impl = std::move(impl);
  _statements.push_back(std::move(statement));
  return _statements.back().get();
}

void ZoDBConnection::closeStatement(ZoDBStatement* statement) {
  _statements.remove_if([statement](const auto& s) { return s.get() == statement; });
}

ZoDBResultset* ZoDBConnection::excute(ZoDBStatement* statement) {
  if (statement == nullptr || !statement->_impl || _state != STATE_CONNECTED) return nullptr;
  SQLHSTMT stmt = statement->_impl->stmt;
  statement->_result.reset();
  SQLFreeStmt(stmt, SQL_CLOSE);
  std::string sql = statement->_sql;
  SQLRETURN rc = SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(sql.data()),
                               static_cast<SQLINTEGER>(sql.size()));
  if (!ok(rc) && rc != SQL_NO_DATA) {
    if (connectionLost(SQL_HANDLE_STMT, stmt)) _state = STATE_BROKEN;
    PolicyLog::log(PolicyLog::Error, "ZoDBConnection::excute: %s failed: %s", sql.c_str(),
                   diagnostics(SQL_HANDLE_STMT, stmt).c_str());
    return nullptr;
  }
  SQLLEN rows = -1;
  statement->_rowCount = ok(SQLRowCount(stmt, &rows)) ? static_cast<long>(rows) : -1;
  auto result = std::make_unique<ZoDBResultset>();
  result->_impl = std::make_shared<ZoDBResultset::Impl>();
  result->_impl->statement = statement->_impl;
  SQLSMALLINT columns = 0;
  SQLNumResultCols(stmt, &columns);
  result->_impl->done = columns <= 0;
  for (SQLSMALLINT c = 1; c <= columns; ++c) {
    SQLCHAR name[256] = {};
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT dataType = 0;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
    SQLSMALLINT nullable = 0;
    SQLDescribeCol(stmt, static_cast<SQLUSMALLINT>(c), name, sizeof name, &nameLength, &dataType,
                   &size, &digits, &nullable);
    result->_names.emplace_back(reinterpret_cast<const char*>(name));
  }
  statement->_result = std::move(result);
  return statement->_result.get();
}

bool ZoDBConnection::beginTransaction() {
  if (_state != STATE_CONNECTED || _inTransaction) return false;
  if (!ok(SQLSetConnectAttr(_handles->dbc, SQL_ATTR_AUTOCOMMIT,
                            reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0))) {
    PolicyLog::log(PolicyLog::Error, "ZoDBConnection::beginTransaction: %s",
                   diagnostics(SQL_HANDLE_DBC, _handles->dbc).c_str());
    return false;
  }
  _inTransaction = true;
  return true;
}

bool ZoDBConnection::endTransaction(bool commitWork) {
  if (_state != STATE_CONNECTED || !_inTransaction) return false;
  SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, _handles->dbc, commitWork ? SQL_COMMIT : SQL_ROLLBACK);
  bool done = ok(rc);
  if (!done) {
    PolicyLog::log(PolicyLog::Error, "ZoDBConnection::%s: %s", commitWork ? "commit" : "rollback",
                   diagnostics(SQL_HANDLE_DBC, _handles->dbc).c_str());
  }
  SQLSetConnectAttr(_handles->dbc, SQL_ATTR_AUTOCOMMIT,
                    reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0);
  _inTransaction = false;
  return done;
}

bool ZoDBConnection::commit() { return endTransaction(true); }
bool ZoDBConnection::rollback() { return endTransaction(false); }

void ZoDBCachedConnection::recycle() {
  if (_connection->inTransaction()) _connection->rollback();
  _connection->closeStatements();
}

ZoDBConnectionPool::~ZoDBConnectionPool() { clear(); }

ZoReusableObject* ZoDBConnectionPool::_create() {
  auto connection = std::make_unique<ZoDBCachedConnection>(_connectStr.c_str());
  if (!connection->connection().connect()) return nullptr;
  return connection.release();
}

void ZoDBConnectionPool::_release(ZoReusableObject* object) {
  delete static_cast<ZoDBCachedConnection*>(object);
}

bool ZoDBConnectionPool::_isValid(const ZoReusableObject* object) {
  auto* connection = static_cast<ZoDBCachedConnection*>(const_cast<ZoReusableObject*>(object));
  return connection != nullptr && connection->getState() == ZoDBAbstractConnection::STATE_CONNECTED;
}

ZoDBConnectionPoolManager::~ZoDBConnectionPoolManager() {}

ZoDBConnectionPool* ZoDBConnectionPoolManager::getPool(const char* name, const char* connectStr,
                                                       int initPoolSize, int maxPoolSize,
                                                       long idleSeconds) {
  std::lock_guard lock(_mutex);
  std::string key = name != nullptr ? name : "";
  auto it = _pools.find(key);
  if (it != _pools.end()) return it->second.get();
  auto pool = std::make_unique<ZoDBConnectionPool>(key.c_str(), connectStr, initPoolSize,
                                                   maxPoolSize, idleSeconds);
  if (!pool->init()) return nullptr;
  return _pools.emplace(key, std::move(pool)).first->second.get();
}

}  // namespace QUOR
