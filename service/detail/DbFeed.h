// Keeps the policy database's sender lists of a running server current.
//
// The first load comes from the database or, when it cannot be read, from
// the snapshot of the last load (with a warning); with neither the server
// does not start. Afterwards a thread of its own loads again when the
// database changed. On PostgreSQL a notification names the table and ids
// that changed (a burst of them, and those that arrive during a load, give
// one more load): when only members or names of groups changed, only those
// groups are read and their trees built again, and everything else is
// shared with the lists in use; otherwise entities and bindings are read
// again, members only for the groups named, and the trees of the other
// groups are shared. Where the database cannot notify (SQLite) the policy version
// is polled, and when it moved the rows of the changes since the version in
// use name the same tables and ids, for the same partial load. Everything is
// loaded again when the listening connection is back after a loss, when a
// polled version moved by changes that are not all there any more, and on
// request (SIGHUP). Each load is built beside the
// lists in use and swapped in whole; requests in flight keep theirs. The
// snapshot is written after each full load, and after loads of a few groups
// once no change came for a while (the old snapshot with those groups
// replaced), so that a run of changes is not slowed by it. Snapshots are
// written in order on a thread of their own: a change that comes while a
// large one is written is loaded at once.
//
// While the database cannot be read the server answers from the lists it
// has: the outage is logged once, then once a minute with the version and
// age of those lists, and loads are retried with back-off until one works.
//
// Thread safety: start(), request() and stop() may be called from any
// thread; loadFirst() before start().
#ifndef QUORPOLICY_SERVICE_DETAIL_DBFEED_H_
#define QUORPOLICY_SERVICE_DETAIL_DBFEED_H_

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "lists/db/PolicyChanges.h"
#include "lists/db/SqlitePoll.h"
#include "service/Server.h"
#include "service/detail/Shared.h"

namespace quor::lists {
class PgListener;
}

namespace quor::service::detail {

class DbFeed {
 public:
  // `source` and `shared` must outlive the feed.
  DbFeed(const DbSource& source, Shared& shared);
  DbFeed(const DbFeed&) = delete;
  DbFeed& operator=(const DbFeed&) = delete;
  ~DbFeed();

  // Throws StartError (Failed) when neither the database nor the snapshot
  // can be read.
  void loadFirst();
  void start();
  // Loads everything again (SIGHUP).
  void request();
  // Ends the feed's waits; a load in progress finishes, and destruction
  // waits for it.
  void stop();

 private:
  using Clock = std::chrono::steady_clock;

  void run();
  // Reads, builds and swaps in (all, or what `changes` name); false (with
  // the outage noted) on failure.
  bool load(bool full, const lists::PolicyChanges& changes);
  void swapIn(std::shared_ptr<const lists::DbPolicy> fresh, const lists::DbPolicyData& data,
              const char* from, Clock::time_point start);
  void notified(const std::string& payload);
  // Hands data to the snapshot thread: written as it is, or (`merge`) as
  // the snapshot on disk with the partial loads in `data` put over it.
  void queueSnapshot(lists::DbPolicyData data, bool merge);
  void writeSnapshots();
  void writeMergedSnapshot(const lists::DbPolicyData& since);
  // Called with _mutex held.
  void noteDown(const std::string& why);
  void noteUp();
  std::string inUse() const;

  const DbSource& _source;
  Shared& _shared;
  std::unique_ptr<lists::PgListener> _listener;
  std::optional<lists::SqlitePoll> _poll;  // driven by run()

  std::mutex _mutex;
  std::condition_variable _wake;
  bool _wanted = false;           // a full load; guarded by _mutex
  lists::PolicyChanges _changes;  // since the last load began; guarded by _mutex
  // The policy version whose changes were all handed to notified() or
  // loaded whole: the next polled version is compared with it, since a load
  // may read a newer version than the changes it was asked for. Used by
  // run()'s thread alone.
  std::optional<long long> _polledTo;
  bool _verify = false;         // a load if the version moved; guarded by _mutex
  bool _stopping = false;       // guarded by _mutex
  bool _down = false;           // guarded by _mutex
  std::string _downWhy;         // guarded by _mutex
  Clock::time_point _loadedAt;  // of the lists in use; guarded by _mutex
  Clock::time_point _downSince, _nextDownLog;
  std::chrono::milliseconds _backoff{200};
  std::optional<Clock::time_point> _retryAt;
  std::optional<Clock::time_point> _snapshotAt;  // a merged snapshot is due
  lists::DbPolicyData _sinceSnapshot;            // partial loads since the snapshot was written

  struct SnapshotJob {
    lists::DbPolicyData data;
    bool merge = false;
  };
  std::mutex _snapshotMutex;
  std::condition_variable _snapshotWake;
  std::deque<SnapshotJob> _snapshotJobs;  // guarded by _snapshotMutex
  bool _snapshotsEnd = false;             // guarded by _snapshotMutex
  std::thread _snapshotThread;
  std::thread _thread;
};

}  // namespace quor::service::detail

#endif  // QUORPOLICY_SERVICE_DETAIL_DBFEED_H_
