#include <sql.h>
#include <sqlext.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "ZoDataAccess.h"
#include "dataaccess/detail/ConnectString.h"
#include "dataaccess/detail/Failure.h"
#include "dataaccess/detail/SqlText.h"
#include "port/Port.h"

using quor::dataaccess::detail::throwFailure;
using quor::dataaccess::detail::isLinkFailure;

namespace {

// "<SQLSTATE>: <message>" of the first diagnostic record that is not a
// warning (class 01), else of the first record; "" when there is none.
std::string diagnostic(SQLSMALLINT type, SQLHANDLE handle, std::string* state = nullptr) {
  if (handle == SQL_NULL_HANDLE) return {};
  std::string first, firstState;
  for (SQLSMALLINT record = 1;; ++record) {
    SQLCHAR sqlState[6] = {0};
    SQLINTEGER native = 0;
    SQLCHAR message[SQL_MAX_MESSAGE_LENGTH + 1] = {0};
    SQLSMALLINT length = 0;
    const SQLRETURN rc = SQLGetDiagRec(type, handle, record, sqlState, &native, message,
                                       static_cast<SQLSMALLINT>(sizeof message), &length);
    if (!SQL_SUCCEEDED(rc)) break;
    const std::string recordState = reinterpret_cast<const char*>(sqlState);
    std::string text = recordState + ": " + reinterpret_cast<const char*>(message);
    if (recordState.rfind("01", 0) != 0) {
      if (state != nullptr) *state = recordState;
      return text;
    }
    if (first.empty()) {
      first = std::move(text);
      firstState = recordState;
    }
  }
  if (state != nullptr) *state = firstState;
  return first;
}

// SQLite gives up on a write with "database is locked" once its busy
// timeout has passed while another connection holds the database's write
// lock. The bare text says neither who held it nor how long this one waited,
// so the failure text says both.
void explainLock(std::string& text, std::chrono::steady_clock::duration waited) {
  if (text.find("database is locked") == std::string::npos) return;
  char note[160];
  std::snprintf(note, sizeof note,
                " (the database was locked by another connection's open transaction; waited %.1f "
                "seconds for it to end)",
                std::chrono::duration<double>(waited).count());
  text += note;
}

// Keeps `open`, the savepoints a statement file has opened and not released,
// in step with one statement of the file that ran.
void trackSavepoints(const std::string& statement, std::vector<std::string>& open) {
  std::istringstream in(statement);
  std::string verb, second, third;
  in >> verb >> second >> third;
  const auto is = [](const std::string& word, const char* keyword) {
    return quor::port::quorStricmp(word.c_str(), keyword) == 0;
  };
  if (is(verb, "SAVEPOINT") && !second.empty()) {
    open.push_back(second);
  } else if (is(verb, "RELEASE")) {
    // RELEASE [SAVEPOINT] name also releases the savepoints opened after it.
    const std::string& name = is(second, "SAVEPOINT") ? third : second;
    for (size_t i = open.size(); i-- > 0;) {
      if (is(open[i], name.c_str())) {
        open.resize(i);
        break;
      }
    }
  }
}

std::optional<std::string> localOdbcIni() {
  if (std::getenv("ODBCINI") != nullptr) return std::nullopt;
  const char* home = std::getenv("QUOR_HOME");
  if (home == nullptr || *home == '\0') return std::nullopt;
  std::string path = quor::port::toNativePath(home);
  if (path.back() != quor::port::kPathSeparator) path.push_back(quor::port::kPathSeparator);
  path += quor::port::toNativePath("config/odbc.ini");
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return path;
}

}  // namespace

struct ZoDbConnect::Impl {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  SQLHSTMT stmt = SQL_NULL_HSTMT;
  bool connected = false;
  bool broken = true;
  int loginTimeout = 0;
  int retryPause = 1;
  int trials = 0;

  std::vector<std::string> columns;   // names of the current result's columns
  std::vector<std::string> values;    // texts of the current row
  std::vector<bool> nulls;            // which values are SQL NULL
  bool rowCurrent = false;
  // The connection string of the last connect(), for a reconnect.
  std::string target;
  // Set by the pool for a loan it did not check: the first statement may
  // reconnect once (see ZoDbConnect::startLoan).
  bool retryArmed = false;
  // A statement failed since the loan began.
  bool failed = false;
  // When the current call into the driver began: a failure for a lock held
  // elsewhere says how long it waited.
  std::chrono::steady_clock::time_point callStart;

  ~Impl() { close(); }

  void clearResult() {
    columns.clear();
    values.clear();
    nulls.clear();
    rowCurrent = false;
  }

  void close() {
    clearResult();
    if (stmt != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    stmt = SQL_NULL_HSTMT;
    if (dbc != SQL_NULL_HDBC) {
      if (connected) SQLDisconnect(dbc);
      SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    }
    dbc = SQL_NULL_HDBC;
    if (env != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env);
    env = SQL_NULL_HENV;
    connected = false;
    broken = true;
  }

  // Throws the statement's diagnostic, noting a lost link on the way.
  [[noreturn]] void failStatement(const char* what) {
    std::string state;
    std::string text = diagnostic(SQL_HANDLE_STMT, stmt, &state);
    if (text.empty()) text = diagnostic(SQL_HANDLE_DBC, dbc, &state);
    if (text.empty()) text = std::string("HY000: ") + what + " failed without a diagnostic";
    explainLock(text, std::chrono::steady_clock::now() - callStart);
    if (isLinkFailure(state) || linkDead()) broken = true;
    failed = true;
    clearResult();
    throwFailure(std::move(text));
  }

  bool linkDead() {
    SQLUINTEGER dead = SQL_CD_FALSE;
    const SQLRETURN rc = SQLGetConnectAttr(dbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr);
    return SQL_SUCCEEDED(rc) && dead == SQL_CD_TRUE;
  }

  // One connect attempt; returns the failure text, empty on success.
  std::string tryConnect(const std::string& connectString) {
    close();
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
      env = SQL_NULL_HENV;
      return "HY001: could not allocate an ODBC environment";
    }
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
      dbc = SQL_NULL_HDBC;
      return "HY001: could not allocate an ODBC connection";
    }
    if (loginTimeout > 0) {
      SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT,
                        reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(loginTimeout)), 0);
    }
    std::string in = connectString;
    SQLCHAR out[1024];
    SQLSMALLINT outLength = 0;
    const SQLRETURN rc =
        SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(in.data()), SQL_NTS, out,
                         static_cast<SQLSMALLINT>(sizeof out), &outLength, SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) {
      std::string text = diagnostic(SQL_HANDLE_DBC, dbc);
      if (text.empty()) text = "08001: could not connect";
      return text;
    }
    connected = true;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt))) {
      stmt = SQL_NULL_HSTMT;
      std::string text = diagnostic(SQL_HANDLE_DBC, dbc);
      return text.empty() ? std::string("HY001: could not allocate a statement") : text;
    }
    broken = false;
    return {};
  }

  void describeResult() {
    clearResult();
    SQLSMALLINT count = 0;
    if (!SQL_SUCCEEDED(SQLNumResultCols(stmt, &count))) failStatement("SQLNumResultCols");
    for (SQLSMALLINT i = 1; i <= count; ++i) {
      SQLCHAR name[256] = {0};
      SQLSMALLINT nameLength = 0, dataType = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      if (!SQL_SUCCEEDED(SQLDescribeCol(stmt, i, name, static_cast<SQLSMALLINT>(sizeof name),
                                        &nameLength, &dataType, &size, &digits, &nullable))) {
        failStatement("SQLDescribeCol");
      }
      columns.emplace_back(reinterpret_cast<const char*>(name));
    }
  }

  // Runs the first statement of a loan the pool did not check. When it fails
  // because the link is gone, nothing has run on the loan yet: the
  // connection is made again and the statement runs once more. A failed
  // reconnect throws its own failure, as the loan would have.
  void runFirst(const std::string& sql) {
    retryArmed = false;
    try {
      runOne(sql);
      return;
    } catch (const char*) {
      if (!broken) throw;
    }
    PolicyLog::log(PolicyLog::Warning,
                   "ZoDataAccess::getConnect: replacing a connection that no longer answers");
    std::string failure = tryConnect(target);
    if (!failure.empty()) {
      close();
      failed = true;
      throwFailure(std::move(failure));
    }
    runOne(sql);
  }

  // Runs one statement of the caller's, the loan's first one with its retry.
  void run(const std::string& sql) {
    if (retryArmed) {
      runFirst(sql);
    } else {
      runOne(sql);
    }
  }

  void runOne(const std::string& sql) {
    SQLFreeStmt(stmt, SQL_CLOSE);
    clearResult();
    std::string text = sql;
    callStart = std::chrono::steady_clock::now();
    const SQLRETURN rc = SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS);
    if (rc == SQL_NO_DATA) return;  // a searched UPDATE or DELETE that hit no row
    if (!SQL_SUCCEEDED(rc)) failStatement("SQLExecDirect");
    describeResult();
  }

  // Reads every column of the row just fetched, whatever its length.
  void readRow() {
    values.assign(columns.size(), std::string());
    nulls.assign(columns.size(), false);
    char chunk[4096];
    for (size_t i = 0; i < columns.size(); ++i) {
      std::string& value = values[i];
      for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN rc = SQLGetData(stmt, static_cast<SQLUSMALLINT>(i + 1), SQL_C_CHAR, chunk,
                                        static_cast<SQLLEN>(sizeof chunk), &indicator);
        if (rc == SQL_NO_DATA) break;
        if (!SQL_SUCCEEDED(rc)) failStatement("SQLGetData");
        if (indicator == SQL_NULL_DATA) {
          nulls[i] = true;
          break;
        }
        const bool truncated = indicator == SQL_NO_TOTAL ||
                               indicator >= static_cast<SQLLEN>(sizeof chunk);
        if (truncated) {
          value.append(chunk, sizeof chunk - 1);
          continue;  // the rest comes with the next call
        }
        value.append(chunk, static_cast<size_t>(indicator));
        break;
      }
    }
    rowCurrent = true;
  }
};

ZoDbConnect::ZoDbConnect() : _impl(std::make_unique<Impl>()) {}

ZoDbConnect::~ZoDbConnect() = default;

void ZoDbConnect::setDbConnectTimeOut(int seconds) { _impl->loginTimeout = seconds; }

void ZoDbConnect::setDbRetrialTimeOut(int seconds) { _impl->retryPause = seconds; }

void ZoDbConnect::setDbReconnectTrial(int trials) { _impl->trials = trials; }

void ZoDbConnect::connect(const char* connectString, const char* dsn, const char* user,
                          const char* password) {
  const std::string target = quor::dataaccess::detail::buildConnectString(
      connectString == nullptr ? "" : connectString, dsn, user, password, localOdbcIni());
  const int attempts = 1 + (_impl->trials > 0 ? _impl->trials : 0);
  std::string failure;
  for (int attempt = 0; attempt < attempts; ++attempt) {
    if (attempt > 0 && _impl->retryPause > 0) {
      std::this_thread::sleep_for(std::chrono::seconds(_impl->retryPause));
    }
    failure = _impl->tryConnect(target);
    if (failure.empty()) {
      _impl->target = target;
      return;
    }
  }
  _impl->close();
  // The password never appears in the failure text.
  if (dsn != nullptr && *dsn != '\0') failure += std::string(" (data source ") + dsn + ")";
  throwFailure(std::move(failure));
}

void ZoDbConnect::executeSQL(const char* sql, SQL_TYPE type, ...) {
  if (!_impl->connected || _impl->stmt == SQL_NULL_HSTMT) {
    _impl->clearResult();
    throwFailure("08003: connection not open");
  }
  if (sql == nullptr) throwFailure("HY009: null statement text");
  if (type == ZO_SQL_BATCH) {
    _impl->run(sql);
    return;
  }
  const std::vector<std::string> pieces = quor::dataaccess::detail::splitStatements(sql);
  if (pieces.empty()) {
    SQLFreeStmt(_impl->stmt, SQL_CLOSE);
    _impl->clearResult();
    return;
  }
  // A file that opens a savepoint makes its work one unit with it: when a
  // later statement fails, the work since the savepoint is undone and the
  // savepoint released before the failure is passed on. The file then leaves
  // no transaction of its own open (one that would hold SQLite's locks), and
  // a transaction of the caller keeps what it held before the file ran.
  std::vector<std::string> open;
  for (const std::string& piece : pieces) {
    try {
      _impl->run(piece);
    } catch (const char* text) {
      if (open.empty()) throw;
      std::string failure = text;
      try {
        // The first savepoint still open holds every later one.
        _impl->runOne("ROLLBACK TO SAVEPOINT " + open.front());
        _impl->runOne("RELEASE SAVEPOINT " + open.front());
      } catch (const char*) {
        // The statement's own failure is the one to report.
      }
      throwFailure(std::move(failure));
    }
    trackSavepoints(piece, open);
  }
}

int ZoDbConnect::fetchNextRow() {
  _impl->rowCurrent = false;
  if (_impl->columns.empty()) return 1;
  _impl->callStart = std::chrono::steady_clock::now();
  const SQLRETURN rc = SQLFetch(_impl->stmt);
  if (rc == SQL_NO_DATA) return 1;
  if (!SQL_SUCCEEDED(rc)) _impl->failStatement("SQLFetch");
  _impl->readRow();
  return 0;
}

int ZoDbConnect::fetchNextResultSet() {
  _impl->rowCurrent = false;
  if (!_impl->connected || _impl->stmt == SQL_NULL_HSTMT) return 1;
  _impl->callStart = std::chrono::steady_clock::now();
  const SQLRETURN rc = SQLMoreResults(_impl->stmt);
  if (rc == SQL_NO_DATA) {
    _impl->clearResult();
    return 1;
  }
  if (!SQL_SUCCEEDED(rc)) _impl->failStatement("SQLMoreResults");
  _impl->describeResult();
  return 0;
}

char* ZoDbConnect::getColVal(const char* column) {
  if (!_impl->rowCurrent || column == nullptr) return nullptr;
  for (size_t i = 0; i < _impl->columns.size(); ++i) {
    if (quor::port::quorStricmp(_impl->columns[i].c_str(), column) == 0) {
      return _impl->nulls[i] ? nullptr : _impl->values[i].data();
    }
  }
  return nullptr;
}

int ZoDbConnect::getColValInt(const char* column) {
  const char* text = getColVal(column);
  return text == nullptr ? 0 : std::atoi(text);
}

void* ZoDbConnect::getStmtHandle() { return _impl->stmt; }

void ZoDbConnect::getError(short handleType, void* handle, char* buffer, int bufferSize) {
  if (buffer == nullptr || bufferSize <= 0) return;
  SQLHANDLE h = handle;
  if (h == nullptr) {
    switch (handleType) {
      case SQL_HANDLE_ENV: h = _impl->env; break;
      case SQL_HANDLE_DBC: h = _impl->dbc; break;
      case SQL_HANDLE_STMT: h = _impl->stmt; break;
      default: break;
    }
  }
  const std::string text = diagnostic(handleType, h);
  std::snprintf(buffer, static_cast<size_t>(bufferSize), "%s", text.c_str());
}

bool ZoDbConnect::isBroken() const { return _impl->broken; }

void ZoDbConnect::startLoan(bool retry) {
  _impl->retryArmed = retry;
  _impl->failed = false;
}

bool ZoDbConnect::failedDuringLoan() const { return _impl->failed; }

bool ZoDbConnect::ping() {
  if (!_impl->connected || _impl->broken) return false;
  try {
    executeSQL("SELECT 1", ZO_SQL_BATCH);
    while (fetchNextRow() == 0) {
    }
    SQLFreeStmt(_impl->stmt, SQL_CLOSE);
    _impl->clearResult();
    return true;
  } catch (const char*) {
    _impl->broken = true;
    return false;
  }
}
