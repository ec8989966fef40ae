// ZoDataAccess, ZoDbConnect, ZoSqlLoader: the policy data-access library.
//
// ZoDbConnect is one ODBC connection that runs statements and hands out the
// rows of the last one. ZoDataAccess is a pool of such connections that many
// threads borrow from. ZoSqlLoader turns a statement file of the SQL
// directory plus printf-style arguments into statement text.
//
// Failures. Every operation that can fail throws a NUL-terminated character
// string of type `const char*` naming the fault (for database faults the
// driver's SQLSTATE and message). The text lives in a per-thread buffer and
// stays valid until the next failure on the same thread; callers catch
// exactly `const char*` and copy the text if they keep it.
//
// Thread safety. A ZoDbConnect belongs to one thread at a time. ZoDataAccess
// may be used from any number of threads at once (getConnect, returnConnect,
// reinit). ZoSqlLoader objects are cheap and belong to one thread; the
// statement-text cache behind them is shared and locked.
#ifndef QUORPOLICY_INCLUDE_ZODATAACCESS_H_
#define QUORPOLICY_INCLUDE_ZODATAACCESS_H_

#include <memory>
#include <string>

#include "PolicyLog.h"
#include "QuorExport.h"

// One connection to the policy database.
//
// The connect string may be the bootstrap form
// "ODBC;DRIVER=;DSN=<dsn>;UID=<user>;PWD=<password>;DATABASE=<database>" or
// any plain ODBC connection string. Data source names resolve as the unixODBC
// driver manager resolves them, except that when ODBCINI is unset and
// "<QUOR_HOME>/config/odbc.ini" defines the name, that file's entry is used.
//
// Ownership: a connection lent by a ZoDataAccess belongs to the pool and goes
// back with returnConnect; any other connection is deleted by its maker.
// Copying is refused.
class QUOR_DATAACCESS_API ZoDbConnect {
 public:
  // How a statement text is sent to the server.
  //  ZO_SQL_SPLIT: the text is cut at each ';' that is outside quotes and
  //    comments and the pieces run one after another on this connection;
  //    the rows of the last piece are current. Drivers that take one
  //    statement per call (SQLite) need this.
  //  ZO_SQL_BATCH: the text is sent whole, for servers that run batches
  //    themselves (the "mssql" database type).
  enum SQL_TYPE { ZO_SQL_SPLIT = 0, ZO_SQL_BATCH = 1 };

  ZoDbConnect();
  virtual ~ZoDbConnect();
  ZoDbConnect(const ZoDbConnect&) = delete;
  ZoDbConnect& operator=(const ZoDbConnect&) = delete;

  // Settings for connect(); each is used only when set before connect().
  // Login timeout in seconds (driver default when never set).
  virtual void setDbConnectTimeOut(int seconds);
  // Seconds to wait before each further connect attempt (default 1).
  virtual void setDbRetrialTimeOut(int seconds);
  // Number of further connect attempts after a failed one (default 0).
  virtual void setDbReconnectTrial(int trials);

  // Opens the connection. `dsn`, `user` and `password` may be null; when
  // given they take precedence over the values inside `connectString`.
  // Throws on failure after the last attempt. A connected object first
  // closes its old connection.
  virtual void connect(const char* connectString, const char* dsn, const char* user,
                       const char* password);

  // Runs a statement text (see SQL_TYPE). The variable arguments are
  // accepted for compatibility and ignored. Throws on failure, also when not
  // connected; after a failure no rows are current.
  virtual void executeSQL(const char* sql, SQL_TYPE type, ...);

  // Moves to the next row of the current result: 0 when a row is now
  // current, 1 when there is none (also when the statement had no rows).
  // Throws on a driver failure.
  virtual int fetchNextRow();

  // Moves to the next result set of the last statement: 0 when there is one,
  // 1 when there is none. Throws on a driver failure.
  virtual int fetchNextResultSet();

  // The text of the named column (compared ignoring ASCII case) in the
  // current row; null when there is no current row, no such column, or the
  // value is SQL NULL. The text stays valid until the next fetch or execute.
  virtual char* getColVal(const char* column);

  // The named column's value as a decimal integer; 0 when getColVal gives
  // null or the text does not start with a number.
  virtual int getColValInt(const char* column);

  // The ODBC statement handle of the last statement, or null.
  virtual void* getStmtHandle();

  // Writes "<SQLSTATE>: <message>" of the first diagnostic record of the
  // ODBC handle of type `handleType` (SQL_HANDLE_STMT, SQL_HANDLE_DBC, ...)
  // into `buffer` of `bufferSize` bytes, always NUL-terminated. A null
  // handle means this connection's own handle of that type.
  virtual void getError(short handleType, void* handle, char* buffer, int bufferSize);

 private:
  friend class ZoDataAccess;

  // True when a failure showed that the link to the server is gone, or the
  // object was never connected. The pool replaces such connections.
  virtual bool isBroken() const;

  // Runs a trivial statement; false (and marked broken) when the server does
  // not answer. Never throws.
  virtual bool ping();

  // Called by the pool as it lends the connection: forgets the failures of
  // earlier loans. With `retry`, the first statement of the loan, should it
  // find the link to the server gone, reconnects once and runs again; the
  // caller sees only the second outcome. Nothing ran in the loan before
  // that statement, so running it again changes nothing else.
  void startLoan(bool retry);
  // True when a statement failed since startLoan.
  bool failedDuringLoan() const;

  struct Impl;
  std::unique_ptr<Impl> _impl;
};

// A pool of connections, lent to any number of threads.
//
// init() opens `count` connections. getConnect() lends an idle one. One that
// was idle for more than a few seconds, or saw a failure in its last loan, is
// first checked with a trivial statement and replaced on the spot when its
// server does not answer; any other is lent without a round trip, and its
// first statement reconnects once and runs again if the link turns out to be
// gone (for example after the server restarted). A server that cannot be
// reached at all then shows as the failure of that first statement. When every
// connection is lent, a thread that already holds one (a unit of work nested
// in another) gets an extra connection at once, so it never waits for
// itself; other threads wait up to two seconds for a connection to come back
// and then get an extra one. At most `count` idle connections are kept:
// extras are closed when they come back, as are connections that broke while
// lent. reinit() closes every idle connection and opens `count` new
// ones; connections lent at that moment are closed when they come back.
//
// Ownership: the pool owns every connection it made. REQUIRES: every loan is
// returned before the pool is destroyed.
class QUOR_DATAACCESS_API ZoDataAccess {
 public:
  ZoDataAccess();
  virtual ~ZoDataAccess();
  ZoDataAccess(const ZoDataAccess&) = delete;
  ZoDataAccess& operator=(const ZoDataAccess&) = delete;

  // Stores the connection parameters and opens `count` connections (at least
  // one). Throws the failure of the first connection that could not be made;
  // the connections made before it stay in the pool.
  virtual void init(const char* connectString, int count, const char* dsn, const char* user,
                    const char* password);

  // Rebuilds the pool with the parameters of init(). False, with an error
  // logged, when init() never ran or a connection could not be made.
  virtual bool reinit();

  // Lends a connection. Throws when init() never ran or no working
  // connection can be made.
  virtual ZoDbConnect* getConnect();

  // Takes a lent connection back; null is accepted and ignored, as is (with a
  // warning) a connection this pool did not lend.
  virtual void returnConnect(ZoDbConnect* connection);

 private:
  struct Impl;
  std::unique_ptr<Impl> _impl;
};

// Loads statement files of one SQL directory.
//
// A statement file holds one statement text (or several separated by ';')
// with printf-style conversions for the arguments: %d (int), %u (unsigned
// int), %s (NUL-terminated text; null gives the empty text) and %% for a
// literal percent sign. Any other conversion is a failure. Trailing white
// space of the file is dropped. File texts are cached while the file's
// modification time and size are unchanged.
//
// Statements shared by every dialect sit in the folder "common" beside the
// dialect folder (sql/common beside sql/sqlite): a file missing from the
// dialect folder is read from there, so the dialect folder holds only its
// overrides. A file found in neither is reported under the dialect folder.
class QUOR_DATAACCESS_API ZoSqlLoader {
 public:
  // `sqlDirectory` may use '\\' or '/' as separators; null means the current
  // directory.
  explicit ZoSqlLoader(const char* sqlDirectory);
  ~ZoSqlLoader();
  ZoSqlLoader(const ZoSqlLoader&) = delete;
  ZoSqlLoader& operator=(const ZoSqlLoader&) = delete;

  // Fills `buffer` (at most `bufferSize` bytes with the terminating NUL)
  // with the statement of `fileName` and the arguments set into it. Throws,
  // naming the file, when the file cannot be read, a conversion is unknown,
  // or the statement does not fit; `buffer` then holds the empty text, so a
  // cut statement never reaches the database.
  void loadSQL(char* buffer, int bufferSize, const char* fileName, ...);

 private:
  std::string _directory;
};

#endif  // QUORPOLICY_INCLUDE_ZODATAACCESS_H_
