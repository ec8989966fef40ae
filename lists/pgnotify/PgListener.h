// A change feed from PostgreSQL: one connection that LISTENs on a channel
// (the policy database's triggers notify "quorpolicy" with the table and the
// row's ids that changed) and reports each notification.
//
// The connection is made with libpq (the ODBC driver cannot deliver
// notifications). When it is lost (the server stops, the backend is killed,
// the network fails), the listener reports it once, reconnects with
// back-off (doubling from `firstRetry` up to `maxRetry`) and, once
// listening again, reports `connected` with `afterLoss` true: the
// notifications sent meanwhile are lost, so whoever listens loads
// everything again. Connecting is bounded (10 s), TCP keepalives (idle
// 30 s, then 3 probes 10 s apart) find a link that died silently, and stop()
// ends every wait at once.
//
// Thread safety: the listener runs its own thread from construction until
// stop() (or destruction); the callbacks run on that thread, one at a time,
// and must not call stop().
#ifndef QUORPOLICY_LISTS_PGNOTIFY_PGLISTENER_H_
#define QUORPOLICY_LISTS_PGNOTIFY_PGLISTENER_H_

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace quor::lists {

// A libpq connection string for the PostgreSQL database an ODBC data source
// names: Servername (or Server, Host), Port, Database, Username (or UID,
// User) and Password (or PWD), keys compared ignoring ASCII case; other
// attributes (Driver, Description, ...) are left out. Values are quoted as
// libpq reads them ('...' with \\ and \' escaped).
std::string libpqConninfo(const std::vector<std::pair<std::string, std::string>>& odbcAttributes);

class PgListener {
 public:
  struct Callbacks {
    // Listening (again). `afterLoss`: a connection was lost before.
    std::function<void(bool afterLoss)> connected;
    // One notification's payload.
    std::function<void(const std::string& payload)> notified;
    // The connection could not be made or was lost; once per loss.
    std::function<void(const std::string& why)> lost;
  };
  struct Options {
    std::string channel = "quorpolicy";  // a plain identifier
    std::chrono::milliseconds firstRetry{100};
    std::chrono::milliseconds maxRetry{10000};
  };

  // `conninfo` is a libpq connection string ("host=... port=... dbname=...").
  PgListener(std::string conninfo, Options options, Callbacks callbacks);
  ~PgListener();
  PgListener(const PgListener&) = delete;
  PgListener& operator=(const PgListener&) = delete;

  void stop();
  // The server process id of the listening connection; 0 while there is none.
  int backendPid() const { return _pid.load(); }

 private:
  void run();
  // Listens on one connection until it is lost or stop() is called; false
  // when it could not be made.
  bool listenOnce(bool afterLoss, std::string& why);
  // Waits at most `timeout` for `events` on `fd` (no fd: -1): 1 ready, 0
  // timed out, -1 stop() was called.
  int waitFor(int fd, short events, std::chrono::milliseconds timeout);

  std::string _conninfo;
  Options _options;
  Callbacks _callbacks;
  int _wakeRead = -1, _wakeWrite = -1;  // a pipe that stop() writes to
  std::atomic<bool> _stopping{false};
  std::atomic<int> _pid{0};
  std::thread _thread;
};

}  // namespace quor::lists

#endif  // QUORPOLICY_LISTS_PGNOTIFY_PGLISTENER_H_
