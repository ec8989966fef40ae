// Object pools: ZoReusableObject (an object that can be handed out again)
// and ZoObjectPool (a pool that makes objects on demand up to a limit, keeps
// returned ones idle and releases those idle past their expiry time).
//
// A subclass of ZoObjectPool says how objects are made (_create) and
// released (_release), and calls clear() in its own destructor (the base
// destructor cannot reach the subclass's _release). The pool owns every
// object it made until it releases it; a caller owns a borrowed object until
// it returns it with returnObject().
//
// The database classes build a pool of ODBC connections on it:
// ZoDBConnection (one connection, its statements and result sets),
// ZoDBCachedConnection (a pooled connection), ZoDBConnectionPool and
// ZoDBConnectionPoolManager (named pools). A connection, its statements and
// result sets belong to one thread at a time; a statement is owned by its
// connection until closeStatement(), a result set by its statement.
//
// Thread safety: every public operation of the pools may be called from any
// thread.
#ifndef QUORPOLICY_INCLUDE_ZOOBJECTPOOL_H_
#define QUORPOLICY_INCLUDE_ZOOBJECTPOOL_H_

#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "QuorExport.h"

namespace QUOR {

class QUOR_COMMON_API ZoReusableObject {
 public:
  ZoReusableObject() {}
  ZoReusableObject(const ZoReusableObject& other) : _expiryTime(other._expiryTime) {}
  ZoReusableObject& operator=(const ZoReusableObject& other) {
    _expiryTime = other._expiryTime;
    return *this;
  }
  // Makes the object ready for its next borrower (called when it returns).
  virtual void recycle() = 0;
  // When an idle object may be released: seconds since the epoch; 0 never.
  long getExpirtTime() const { return _expiryTime; }
  void setExpiryTime(long when) { _expiryTime = when; }

 protected:
  // Not virtual: objects are released by their pool, which knows their type.
  ~ZoReusableObject() {}
  long _expiryTime = 0;
};

class QUOR_COMMON_API ZoObjectPool {
 public:
  // `initPoolSize` objects are made by init() and kept even when idle past
  // their expiry; at most `maxPoolSize` exist at once (0: no limit); a
  // returned object may be released `idleSeconds` after its return (0: never).
  ZoObjectPool(const char* name, int initPoolSize, int maxPoolSize, long idleSeconds)
      : _name(name != nullptr ? name : ""),
        _initSize(initPoolSize > 0 ? initPoolSize : 0),
        _maxSize(maxPoolSize > 0 ? maxPoolSize : 0),
        _idleSeconds(idleSeconds > 0 ? idleSeconds : 0) {}
  ZoObjectPool(const ZoObjectPool&) = delete;
  ZoObjectPool& operator=(const ZoObjectPool&) = delete;
  // REQUIRES: the subclass's destructor has called clear().
  virtual ~ZoObjectPool() {}

  // Makes the initial objects. Returns false when one could not be made
  // (those made stay).
  bool init();
  // Lends an idle valid object, or makes one below the limit. Null when the
  // limit is reached or making failed. Invalid idle objects are released.
  ZoReusableObject* getObject();
  // Takes a borrowed object back: recycles it and keeps it idle. Returns
  // false (changing nothing) for an object this pool did not lend.
  bool returnObject(ZoReusableObject* object);
  // Releases idle objects whose expiry time has passed, keeping the initial
  // number. Returns how many were released.
  int releaseExpired() { return _releaseExpiryObjects(); }
  // Releases every object, borrowed ones included.
  void clear();

  const char* getPoolName() const { return _name.c_str(); }
  int getPoolSize() const {
    std::lock_guard lock(_mutex);
    return static_cast<int>(_busy.size() + _idle.size());
  }
  int getIdleSize() const {
    std::lock_guard lock(_mutex);
    return static_cast<int>(_idle.size());
  }
  int getInitPoolSize() const { return _initSize; }

 protected:
  virtual ZoReusableObject* _create() = 0;
  virtual void _release(ZoReusableObject* object) = 0;
  virtual int _releaseExpiryObjects();
  virtual bool _isValid(const ZoReusableObject* object) { return object != nullptr; }

 private:
  std::string _name;
  int _initSize;
  int _maxSize;
  long _idleSeconds;
  mutable std::mutex _mutex;
  std::list<ZoReusableObject*> _busy;  // lent out
  std::list<ZoReusableObject*> _idle;  // most recently returned first
};

// The rows of one executed statement. Column numbers start at 1.
class QUOR_COMMON_API ZoDBResultset {
 public:
  ZoDBResultset() {}
  ZoDBResultset(const ZoDBResultset& other)
      : _names(other._names), _row(other._row), _nulls(other._nulls), _impl(other._impl) {}
  ZoDBResultset& operator=(const ZoDBResultset& other) {
    _names = other._names;
    _row = other._row;
    _nulls = other._nulls;
    _impl = other._impl;
    return *this;
  }
  virtual ~ZoDBResultset();

  // Moves to the next row; false after the last one or on failure (logged).
  bool next();
  int getColumnCount() const { return static_cast<int>(_names.size()); }
  // The text of a column of the current row. False for an unknown column,
  // no current row, or SQL NULL (then isNull() is true).
  bool getString(int column, std::string& value) const;
  bool getString(const char* name, std::string& value) const;
  bool isNull(int column) const;

 private:
  friend class ZoDBConnection;
  struct Impl;
  int indexOf(const char* name) const;
  std::vector<std::string> _names;
  std::vector<std::string> _row;
  std::vector<bool> _nulls;
  std::shared_ptr<Impl> _impl;
};

// One SQL statement of a connection.
class QUOR_COMMON_API ZoDBStatement {
 public:
  ZoDBStatement() {}
  ZoDBStatement(const ZoDBStatement& other)
      : _sql(other._sql), _rowCount(other._rowCount), _impl(other._impl) {}
  ZoDBStatement& operator=(const ZoDBStatement& other) {
    _sql = other._sql;
    _rowCount = other._rowCount;
    _impl = other._impl;
    return *this;
  }
  virtual ~ZoDBStatement();

  const char* getSql() const { return _sql.c_str(); }
  // Rows changed by the last execution (-1 when unknown).
  long getRowCount() const { return _rowCount; }

 private:
  friend class ZoDBConnection;
  friend class ZoDBResultset;
  struct Impl;
  std::string _sql;
  long _rowCount = -1;
  std::shared_ptr<Impl> _impl;
  std::unique_ptr<ZoDBResultset> _result;
};

// The operations every connection offers. Not deletable through this type.
class QUOR_COMMON_API ZoDBAbstractConnection {
 public:
  enum DBMSType { DBMS_UNKNOWN = 0, DBMS_SQLITE = 1, DBMS_POSTGRESQL = 2 };
  enum State { STATE_CLOSED = 0, STATE_CONNECTED = 1, STATE_BROKEN = 2 };

  // Makes a statement of `sql`, owned by the connection until
  // closeStatement(). Null when not connected or `sql` is null.
  virtual ZoDBStatement* prepareStatement(const char* sql) = 0;
  virtual void closeStatement(ZoDBStatement* statement) = 0;
  // Runs the statement. Returns its result set (owned by the statement,
  // replaced by the next execution), also for statements without rows, or
  // null on failure (logged; a lost connection turns the state to broken).
  virtual ZoDBResultset* excute(ZoDBStatement* statement) = 0;
  virtual int getDBMSType() = 0;
  virtual int getState() = 0;
  // Transactions: autocommit is off between beginTransaction() and
  // commit()/rollback(). Return false on failure (logged).
  virtual bool beginTransaction() = 0;
  virtual bool commit() = 0;
  virtual bool rollback() = 0;
  // Closes every statement and the connection.
  virtual void close() = 0;

 protected:
  ~ZoDBAbstractConnection() {}
};

// Destructors of these classes are not in their fixed tables of virtual
// operations; delete objects through their own type.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

// One ODBC connection made from an ODBC connection string.
class QUOR_COMMON_API ZoDBConnection : public ZoDBAbstractConnection {
 public:
  // Does not connect yet; see connect().
  explicit ZoDBConnection(const char* connectStr);
  ZoDBConnection(const ZoDBConnection&) = delete;
  ZoDBConnection& operator=(const ZoDBConnection&) = delete;

  // Connects, trying up to 1 + reconnect-times times. Returns false (logged)
  // when every try failed.
  bool connect();
  // Closes and connects again.
  bool reconnect();

  ZoDBStatement* prepareStatement(const char* sql) override;
  void closeStatement(ZoDBStatement* statement) override;
  ZoDBResultset* excute(ZoDBStatement* statement) override;
  int getDBMSType() override { return _dbmsType; }
  int getState() override { return _state; }
  bool beginTransaction() override;
  bool commit() override;
  bool rollback() override;
  void close() override;
  virtual ~ZoDBConnection();

  // Login timeout in seconds (0: the driver's default).
  void setConnectTimeOut(int seconds) { _connectTimeout = seconds; }
  // Kept for the caller's reconnection policy; connect() does not wait.
  void setReconnectInterval(int seconds) { _reconnectInterval = seconds; }
  void setReconnectTimes(int times) { _reconnectTimes = times; }
  bool inTransaction() const { return _inTransaction; }
  // Closes every statement (and its result set) of the connection.
  void closeStatements() { _statements.clear(); }

 private:
  struct Handles;
  bool endTransaction(bool commit);
  std::string _connectStr;
  int _connectTimeout = 0;
  int _reconnectInterval = 0;
  int _reconnectTimes = 0;
  int _dbmsType = DBMS_UNKNOWN;
  int _state = STATE_CLOSED;
  bool _inTransaction = false;
  std::unique_ptr<Handles> _handles;
  std::list<std::unique_ptr<ZoDBStatement>> _statements;
};

// A pooled connection: a ZoDBConnection that its pool recycles.
class QUOR_COMMON_API ZoDBCachedConnection final : public ZoReusableObject,
                                             public ZoDBAbstractConnection {
 public:
  explicit ZoDBCachedConnection(const char* connectStr)
      : _connection(std::make_unique<ZoDBConnection>(connectStr)) {}
  ZoDBCachedConnection(const ZoDBCachedConnection&) = delete;
  ZoDBCachedConnection& operator=(const ZoDBCachedConnection&) = delete;
  ~ZoDBCachedConnection() {}

  ZoDBStatement* prepareStatement(const char* sql) override {
    return _connection->prepareStatement(sql);
  }
  void closeStatement(ZoDBStatement* statement) override { _connection->closeStatement(statement); }
  ZoDBResultset* excute(ZoDBStatement* statement) override { return _connection->excute(statement); }
  int getDBMSType() override { return _connection->getDBMSType(); }
  int getState() override { return _connection->getState(); }
  bool beginTransaction() override { return _connection->beginTransaction(); }
  bool commit() override { return _connection->commit(); }
  bool rollback() override { return _connection->rollback(); }
  void close() override { _connection->close(); }

  // Rolls back a transaction left open and closes the statements.
  void recycle() override;
  virtual bool reconnect() { return _connection->reconnect(); }

  ZoDBConnection& connection() { return *_connection; }

 private:
  std::unique_ptr<ZoDBConnection> _connection;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

// A pool of ZoDBCachedConnection objects on one connection string.
class QUOR_COMMON_API ZoDBConnectionPool : public ZoObjectPool {
 public:
  ZoDBConnectionPool(const char* name, const char* connectStr, int initPoolSize, int maxPoolSize,
                     long idleSeconds)
      : ZoObjectPool(name, initPoolSize, maxPoolSize, idleSeconds),
        _connectStr(connectStr != nullptr ? connectStr : "") {}
  ~ZoDBConnectionPool() override;

  const char* getConnectStr() const { return _connectStr.c_str(); }
  // Borrows a connected connection; null when none can be made (logged).
  ZoDBCachedConnection* getConnection() {
    return static_cast<ZoDBCachedConnection*>(getObject());
  }
  bool returnConnection(ZoDBCachedConnection* connection) { return returnObject(connection); }

 protected:
  ZoReusableObject* _create() override;
  void _release(ZoReusableObject* object) override;
  // Only connections still connected are lent again.
  bool _isValid(const ZoReusableObject* object) override;

 private:
  std::string _connectStr;
};

// Named connection pools of a process.
class QUOR_COMMON_API ZoDBConnectionPoolManager {
 public:
  ZoDBConnectionPoolManager() {}
  ZoDBConnectionPoolManager(const ZoDBConnectionPoolManager&) = delete;
  ZoDBConnectionPoolManager& operator=(const ZoDBConnectionPoolManager&) = delete;
  virtual ~ZoDBConnectionPoolManager();

  // The pool of that name, made (and initialised) on first use with the
  // other arguments; null when its initial connections could not be made.
  ZoDBConnectionPool* getPool(const char* name, const char* connectStr, int initPoolSize,
                              int maxPoolSize, long idleSeconds);

 private:
  std::mutex _mutex;
  std::map<std::string, std::unique_ptr<ZoDBConnectionPool>> _pools;
};

}  // namespace QUOR

#endif  // QUORPOLICY_INCLUDE_ZOOBJECTPOOL_H_
