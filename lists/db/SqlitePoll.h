// A change feed for policy databases that cannot notify (SQLite): reads the
// policy version every interval and reports each new one.
//
// The version is read by a caller's function (readPolicyVersion reads the
// policy_version row through the library's unit of work), so the feed works
// on any database. The first successful read after start, and the first one
// after failures, is reported as a new version too: whoever listens then
// loads everything again, which is also right after an outage.
//
// Thread safety: the feed runs its own thread from start() until stop() (or
// destruction); the callbacks run on that thread, one at a time. poll() is
// the step of that thread, for callers that drive the feed themselves; it
// must not be called while the thread runs.
#ifndef QUORPOLICY_LISTS_DB_SQLITEPOLL_H_
#define QUORPOLICY_LISTS_DB_SQLITEPOLL_H_

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace QUOR {
class RdbmsInterface;
}

namespace quor::lists {

// The policy_version row, through a unit of work. Throws std::runtime_error
// naming the failure.
long long readPolicyVersion(QUOR::RdbmsInterface& db);

class SqlitePoll {
 public:
  struct Callbacks {
    // A version other than the last one reported.
    std::function<void(long long version)> changed;
    // A read failed; reported once per run of failures, with its text.
    std::function<void(const std::string& why)> failed;
  };
  using Reader = std::function<long long()>;  // throws std::runtime_error

  SqlitePoll(Reader read, std::chrono::milliseconds every, Callbacks callbacks);
  ~SqlitePoll();
  SqlitePoll(const SqlitePoll&) = delete;
  SqlitePoll& operator=(const SqlitePoll&) = delete;

  void start();
  // Ends the thread; waits for at most one read in progress.
  void stop();
  // One read: reports as described above. True when `changed` was called.
  bool poll();

 private:
  Reader _read;
  std::chrono::milliseconds _every;
  Callbacks _callbacks;
  std::optional<long long> _last;  // the last version reported
  bool _failing = false;

  std::mutex _mutex;
  std::condition_variable _wake;
  bool _stopping = false;
  std::thread _thread;
};

}  // namespace quor::lists

#endif  // QUORPOLICY_LISTS_DB_SQLITEPOLL_H_
