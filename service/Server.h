// The access policy service for SMTP servers: a server that answers every
// request of the policy delegation protocol (PolicyProtocol.h) from a
// generation of black and white lists.
//
// The server loads the list files, listens on a TCP address or a UNIX
// socket, and answers on a pool of worker threads. A request it does not
// understand is logged and its connection closed without an answer, so that
// the SMTP server applies its own default.
//
// Signals: SIGHUP loads the lists again beside the running ones, on a thread
// of its own, and swaps them in; requests in flight finish on the lists they
// started with. A list that fails to load, is still being written (no line
// end after its last line) or would lose more than half of its entries
// (unless allowShrink) keeps the old lists. SIGHUPs that arrive during a load
// give one more load. SIGTERM and SIGINT cancel a load in progress, stop
// accepting, let every open request finish and end run(). Every
// `statsSeconds` one line reports the requests, decisions and latency since
// the last.
//
// Limits: at most `maxConnections` connections are open; more are closed at
// once and counted. When accept fails (the descriptor limit reached after
// all), new connections wait for up to a second, and the log says so once
// per episode. A request must arrive whole within the receive time-out. A
// TCP address other than loopback needs `allowFrom`; connections from
// elsewhere are closed at once and counted.
//
// A UNIX socket that still answers belongs to a running server and ends the
// start; a stale one is replaced, and on exit the socket is removed only if
// the file is still this process's. `user` drops root's privileges once the
// socket is bound and the lists are loaded.
//
// Everything is logged through say() (Log.h). The texts of StartError name
// the options of `quorpolicy serve` that carry the fields at fault.
//
// Thread safety: run() takes over the process's SIGHUP, SIGTERM and SIGINT
// and starts threads of its own; one Server runs at a time in a process.
#ifndef QUORPOLICY_SERVICE_SERVER_H_
#define QUORPOLICY_SERVICE_SERVER_H_

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "lists/db/DbPolicy.h"
#include "lists/db/SqlitePoll.h"
#include "service/PolicyProtocol.h"

namespace quor::service {

// The network settings the server runs with.
struct NetSettings {
  unsigned int backlog = 100;
  bool keepAlive = true;
  unsigned int recvTimeoutSecs = 60;  // for a whole request; 0: no limit
  unsigned int sendTimeoutSecs = 60;  // for an answer to be taken; 0: no limit
  unsigned int threads = 10;          // worker threads
};

// Where the sender lists of the policy database come from; the caller knows
// the database and how to reach it.
struct DbSource {
  // Reads what the decision needs (with `known`, not the members of those
  // groups: readDbPolicy); throws std::runtime_error when the database cannot
  // be read. Called on one thread at a time.
  std::function<lists::DbPolicyData(const std::set<unsigned>* known)> read;
  // Reads the version and the members and names of `groups` alone
  // (readDbGroups), for changes that touched nothing else; throws
  // std::runtime_error as `read` does. Empty: such changes use `read`.
  std::function<lists::DbPolicyData(const std::set<unsigned>& groups)> readGroups;
  // Reads the policy version alone (the change feed of databases that
  // cannot notify); throws std::runtime_error as `read` does.
  std::function<long long()> readVersion;
  // Reads what the changes above a policy version touched (SQLite's
  // policy_changes: readPolicyChanges), so that a polled change reloads only
  // that; throws std::runtime_error. Empty: each new version loads everything.
  std::function<std::vector<lists::PolicyChange>(long long after)> readChanges;
  // A libpq connection string: changes come as notifications on it, and
  // readVersion is not polled. Empty: readVersion is polled every `poll`.
  std::string notifyConninfo;
  std::chrono::milliseconds poll{200};
  // The snapshot of the last data loaded: written after each load, read
  // at a start while the database cannot be read.
  std::string snapshotPath;
};

struct Options {
  std::vector<std::string> lists;  // list files, the strongest first
  // The policy database's sender lists, beside the list files (which decide
  // first when they list the address); empty: none.
  std::optional<DbSource> db;
  std::string listen = "127.0.0.1:10040";  // "ADDRESS:PORT", "[v6]:PORT", "name:PORT"
  std::string socketPath;                  // when set, a UNIX socket instead of `listen`
  mode_t socketMode = 0660;
  std::optional<gid_t> socketGroup;
  std::vector<std::string> allowFrom;  // TCP clients allowed, as "ADDRESS/BITS"; empty: all
  DecideOptions decision;
  bool logDecisions = false;  // black-listed decisions are logged in any case
  NetSettings net;
  unsigned statsSeconds = 60;
  // Connections open at most; empty: what the descriptor limit leaves.
  std::optional<std::size_t> maxConnections;
  bool allowShrink = false;
  std::string user;  // empty: keep the identity the process has
};

// Why the server could not start.
class StartError : public std::runtime_error {
 public:
  enum Kind {
    BadOptions,  // the options cannot work as given
    Failed,      // the system refused: a socket, a file, an identity
  };
  StartError(Kind kind, const std::string& text) : std::runtime_error(text), _kind(kind) {}
  Kind kind() const { return _kind; }

 private:
  Kind _kind;
};

// Throws StartError (BadOptions) when `options` has neither list nor
// database, a reject text
// of more than one line, no worker thread or no statistics interval.
void checkOptions(const Options& options);

class Server {
 public:
  explicit Server(Options options);
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;
  ~Server();

  // Loads the lists, listens and answers until SIGTERM or SIGINT. Throws
  // StartError when it cannot start and lists::LoadError when the lists
  // cannot be loaded; once it answers, it returns only when stopped.
  void run();

 private:
  class Run;
  Options _options;
};

}  // namespace quor::service

#endif  // QUORPOLICY_SERVICE_SERVER_H_
