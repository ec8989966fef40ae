// QUOR::RdbmsInterface: the policy library's database facade.
//
// The static part finds the installation and its database configuration
// (Init), keeps the ODBC connection string and, in pool form, the
// process-wide connection pool. An object is one unit of database work: it
// borrows a connection when made (from the pool, or a connection of its own
// when Init made none), runs statements, hands out rows and column values,
// can wrap its work in a transaction, and gives the connection back when
// destroyed, rolling back a transaction left open.
//
// Paths. With QUOR_HOME set to R (a separator '\\' is added unless R ends
// with '/' or '\\'): the SQL directory is R + "sql" (+ "\\" + QUOR_DB_DIR when
// set) and the configuration file is R + "config\\" + QUOR_DB_INI (default
// "database.ini"), section "Database_Settings", keys "DataSourceName",
// "UserId", "Password" (optional, decrypted with NewDecryptStr when it is an
// encrypted value) and "Database". A QUOR_HOME that is set but empty counts
// as unset.
//
// Failures. Init and the transaction operations log at level 1 and return
// false. The character strings (`const char*`) thrown by the data-access
// library pass through executeSQL, the fetch and the column operations to
// the caller; the constructor catches and logs them.
//
// Thread safety. Init, ReInit and the setters run on one thread before the
// database is used concurrently; the static state is not locked. Each object
// belongs to one thread; objects on several threads share the pool, which is
// safe to lend from many threads. Copying is refused: a unit of work owns
// its connection.
#ifndef QUORPOLICY_INCLUDE_RDBMSINTERFACE_H_
#define QUORPOLICY_INCLUDE_RDBMSINTERFACE_H_

#include <string>

#include "QuorExport.h"
#include "ZoDataAccess.h"

namespace quor::db::detail {
struct RdbmsTestAccess;
}  // namespace quor::db::detail

namespace QUOR {

class ConfigFileOnDisk;

class QUORPOLICY_API RdbmsInterface {
 public:
  // Borrows a connection from the pool, or opens one with the connection
  // string and the timeouts set by the setters. A failure is logged as
  // "RdbmsInterface::RdbmsInterface: Exception \"%s\" thrown"; the object then
  // has no connection (pool) or an unconnected one, and every operation
  // below does nothing or returns its empty value.
  RdbmsInterface();
  // Rolls back an open transaction, then returns or closes the connection.
  ~RdbmsInterface();
  RdbmsInterface(const RdbmsInterface&) = delete;
  RdbmsInterface& operator=(const RdbmsInterface&) = delete;

  // Reads the paths and connection parameters; each argument that is null is
  // read from the configuration file. True at once when an Init already
  // succeeded. No pool is made: each object opens its own connection.
  static bool Init(const char* dsn, const char* user, const char* password, const char* database);
  // As above, then makes the process-wide pool of `count` connections and
  // stores it into `*pool` when `pool` is not null. The pool lives until the
  // process ends.
  static bool Init(int count, ZoDataAccess** pool, const char* dsn, const char* user,
                   const char* password, const char* database);
  // Rebuilds the pool; false when there is none.
  static bool ReInit();

  // Full path of the configuration file and the SQL directory (no trailing
  // separator), in the '\\' form; empty before an Init reached the path step.
  static const char* GetConfigFilePath();
  static const char* GetSqlPath();

  // Settings for connections opened without a pool; 0 keeps the default.
  static void setDbConnectTimeOut(int seconds);
  static void setDbRetryTimeOut(int seconds);
  static void setDbReconnectTrial(int trials);

  // Reads one configuration value. A required value that is missing, or a
  // file that is not open when the value is required, is logged and gives
  // false; an optional value gives true either way.
  static bool getParam(const char* section, const char* key, std::string& value,
                       ConfigFileOnDisk& file, bool required);

  // Runs "ui_StartTransaction.sql"; true when a transaction is open. A
  // second call runs nothing.
  bool startTransaction();
  // Runs "ui_CommitTransaction.sql", even without an open transaction. On
  // failure the transaction stays open, so destruction rolls it back.
  bool commitTransaction();

  // Runs a statement; the statement type is ZO_SQL_BATCH exactly when
  // QUOR_DB_TYPE is "mssql". Throws the data-access library's failure.
  void executeSQL(const char* sql);
  void executeSQL(const char* sql, ZoDbConnect::SQL_TYPE type);
  // 0 when a row is current, 1 when there is none, -1 without a connection.
  int fetchNextRow();
  int fetchNextResultSet();
  // The column's text (null for SQL NULL and without a connection); valid
  // until the next fetch or statement.
  const char* getColVal(const char* column);
  // The column as an integer; 0 without a connection.
  int getColValInt(const char* column);
  void* getStmtHandle();
  void getError(short handleType, void* handle, char* buffer, int bufferSize);
  // The value of QUOR_DB_TYPE, null when unset.
  const char* getDBType();

  // Doubles single quotes. `out` is `in` itself (and `buffer` untouched)
  // when `in` is null or holds no quote, else the text of `buffer`, which the
  // caller keeps alive while using `out`.
  static void escapeData(const char* in, std::string& buffer, const char*& out);
  // Writes each '%' as "[%]", for LIKE patterns; `out` as for escapeData.
  static void replacePercentageSign(const char* in, std::string& buffer, const char*& out);

 private:
  friend struct quor::db::detail::RdbmsTestAccess;

  void _rollbackTransaction();
  static bool _getInitString(const char* dsn, const char* user, const char* password,
                             const char* database);
  static void _logConfigFileError(const char* file);
  static void _logConfigFileError(const char* section, const char* key, const char* file);

  ZoDbConnect* m_conn;
  bool m_bInTransaction;

  static std::string ms_configPath;
  static std::string ms_sqlPath;
  static std::string ms_dsn;
  static std::string ms_user;
  static std::string ms_pass;
  static std::string ms_initString;
  static ZoDataAccess* ms_DataAccess;
  static bool ms_bInitCalled;
  static int m_db_conn_timeout_secs;
  static int m_db_retry_timeout_secs;
  static int m_db_conn_retry;
};

}  // namespace QUOR

#endif  // QUORPOLICY_INCLUDE_RDBMSINTERFACE_H_
