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
#include <vector>

namespace QUOR {
class RdbmsInterface;
}

namespace quor::lists {

// The policy_version row, through a unit of work. Throws std::runtime_error
// naming the failure.
long long readPolicyVersion(QUOR::RdbmsInterface& db);

// One row of policy_changes (SQLite): the version a change made and what it
// touched, named as PostgreSQL's notifications name it
// ("address_group_members 12", "entity_list_bindings 5 12").
struct PolicyChange {
  long long version = 0;
  std::string payload;
};

// The policy_changes rows above version `after`, oldest first (at most
// 20000, twice what the triggers keep). Throws std::runtime_error naming the
// failure.
std::vector<PolicyChange> readPolicyChanges(QUOR::RdbmsInterface& db, long long after);

// What changed from version `from` to version `to`: the payloads of `rows`
// (oldest first, as read above `from`), or nothing when the rows do not
// account for every version from `from` + 1 up to `to` (pruned, or a
// version that moved without a row, or back).
std::optional<std::vector<std::string>> changesBetween(const std::vector<PolicyChange>& rows,
                                                       long long from, long long to);

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
