#include "service/detail/DbFeed.h"

#include <malloc.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <exception>
#include <utility>

#include "lists/db/DbSnapshot.h"
#include "lists/pgnotify/PgListener.h"
#include "service/Log.h"
#include "service/PolicyProtocol.h"

namespace quor::service::detail {

namespace {

constexpr std::chrono::milliseconds kMaxBackoff{10000};
constexpr std::chrono::seconds kDownLogEvery{60};
constexpr std::chrono::seconds kSnapshotQuiet{2};

long long msSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

// Declared first in a load, so that it runs last: hands back to the system
// the heap pages that the rows read, the data made of them and the lists
// replaced left free, rather than keep a load's worth of them for the next
// one.
struct TrimWhenDone {
  TrimWhenDone() = default;
  TrimWhenDone(const TrimWhenDone&) = delete;
  TrimWhenDone& operator=(const TrimWhenDone&) = delete;
  ~TrimWhenDone() { ::malloc_trim(0); }
};

long long secondsSince(std::chrono::steady_clock::time_point start) {
  return msSince(start) / 1000;
}

}  // namespace

DbFeed::DbFeed(const DbSource& source, Shared& shared) : _source(source), _shared(shared) {}

DbFeed::~DbFeed() {
  stop();
  if (_thread.joinable()) _thread.join();
  // Snapshots already handed over are still written.
  {
    std::lock_guard<std::mutex> lock(_snapshotMutex);
    _snapshotsEnd = true;
  }
  _snapshotWake.notify_all();
  if (_snapshotThread.joinable()) _snapshotThread.join();
}

std::shared_ptr<const lists::DbPolicy> build(Shared& shared, const lists::DbPolicyData& data,
                                             const lists::DbPolicy* previous) {
  std::lock_guard<std::mutex> building(shared.treeBuild);
  return lists::DbPolicy::build(data, previous);
}

void DbFeed::swapIn(std::shared_ptr<const lists::DbPolicy> fresh, const lists::DbPolicyData& data,
                    const char* from, Clock::time_point start) {
  const std::size_t entries = fresh->entries();
  const std::size_t bindings = fresh->bindings();
  const std::size_t inert = fresh->inert().size();
  _shared.db.store(std::move(fresh));
  {
    std::lock_guard<std::mutex> lock(_mutex);
    _loadedAt = Clock::now();
  }
  say("policy database lists of version %lld in use (from %s): %zu entries, %zu bindings, %zu "
      "deciding nothing, in %lld ms",
      data.version, from, entries, bindings, inert, msSince(start));
}

void DbFeed::loadFirst() {
  const TrimWhenDone trim;
  const auto start = Clock::now();
  std::string why;
  try {
    const lists::DbPolicyData data = _source.read(nullptr);
    swapIn(build(_shared, data, nullptr), data, "the database", start);
    try {
      lists::writeDbSnapshot(data, _source.snapshotPath);
    } catch (const std::exception& e) {
      say("warning: %s", e.what());
    }
    return;
  } catch (const std::exception& e) {
    why = e.what();
  }
  lists::DbPolicyData data;
  try {
    data = lists::readDbSnapshot(_source.snapshotPath);
  } catch (const std::exception& e) {
    throw StartError(StartError::Failed,
                     "the policy database cannot be read (" + escapeForLog(why, 300) +
                         ") and there is no usable snapshot of it: " + escapeForLog(e.what(), 300));
  }
  struct stat st {};
  const long long age =
      ::stat(_source.snapshotPath.c_str(), &st) == 0 ? std::time(nullptr) - st.st_mtime : -1;
  say("warning: the policy database cannot be read (%s): answering from the snapshot %s of "
      "policy version %lld, written %lld s ago",
      escapeForLog(why, 300).c_str(), escapeForLog(_source.snapshotPath).c_str(), data.version,
      age);
  swapIn(build(_shared, data, nullptr), data, "the snapshot", start);
  std::lock_guard<std::mutex> lock(_mutex);
  noteDown(why);
}

void DbFeed::start() {
  if (!_source.notifyConninfo.empty()) {
    lists::PgListener::Callbacks callbacks;
    callbacks.connected = [this](bool afterLoss) {
      std::lock_guard<std::mutex> lock(_mutex);
      // Notifications sent while nobody listened are lost: load everything.
      // At the first connection only changes since the first load matter.
      (afterLoss ? _wanted : _verify) = true;
      _wake.notify_one();
    };
    callbacks.notified = [this](const std::string& payload) { notified(payload); };
    callbacks.lost = [this](const std::string& why) {
      std::lock_guard<std::mutex> lock(_mutex);
      noteDown(why);
      _wake.notify_one();
    };
    _listener = std::make_unique<lists::PgListener>(
        _source.notifyConninfo, lists::PgListener::Options{}, std::move(callbacks));
  } else {
    lists::SqlitePoll::Callbacks callbacks;
    callbacks.changed = [this](long long version) {
      const auto current = _shared.db.load();
      if (current && !_polledTo) _polledTo = current->version();
      if (current && *_polledTo == version) {
        std::lock_guard<std::mutex> lock(_mutex);
        noteUp();
        return;
      }
      // The changes since the lists in use go to the partial load that
      // notifications use; when some are missing (pruned, or the version
      // moved without them) everything is loaded again.
      std::optional<std::vector<std::string>> changes;
      if (current && _source.readChanges) {
        try {
          changes = lists::changesBetween(_source.readChanges(*_polledTo), *_polledTo, version);
        } catch (const std::exception&) {
          // The full load below reads again and notes an outage if any.
        }
      }
      if (changes) {
        for (const std::string& payload : *changes) notified(payload);
        _polledTo = version;
        return;
      }
      std::lock_guard<std::mutex> lock(_mutex);
      _wanted = true;
    };
    callbacks.failed = [this](const std::string& why) {
      std::lock_guard<std::mutex> lock(_mutex);
      noteDown(why);
    };
    _poll.emplace(_source.readVersion, _source.poll, std::move(callbacks));
  }
  _snapshotThread = std::thread([this] { writeSnapshots(); });
  _thread = std::thread([this] { run(); });
}

void DbFeed::notified(const std::string& payload) {
  std::lock_guard<std::mutex> lock(_mutex);
  _changes.add(payload);
  _wake.notify_one();
}

void DbFeed::request() {
  std::lock_guard<std::mutex> lock(_mutex);
  _wanted = true;
  _wake.notify_one();
}

void DbFeed::stop() {
  {
    std::lock_guard<std::mutex> lock(_mutex);
    _stopping = true;
  }
  _wake.notify_all();
  if (_listener) _listener->stop();
}

void DbFeed::noteDown(const std::string& why) {
  if (_down) return;
  _down = true;
  _downWhy = why;
  _downSince = Clock::now();
  _nextDownLog = _downSince + kDownLogEvery;
  say("policy database unreachable (%s): answering from %s", escapeForLog(why, 300).c_str(),
      inUse().c_str());
}

void DbFeed::noteUp() {
  if (!_down) return;
  _down = false;
  say("policy database reachable again after %lld s", secondsSince(_downSince));
}

std::string DbFeed::inUse() const {
  const auto db = _shared.db.load();
  return "policy version " + std::to_string(db ? db->version() : 0) + ", loaded " +
         std::to_string(secondsSince(_loadedAt)) + " s ago";
}

bool DbFeed::load(bool full, const lists::PolicyChanges& changes) {
  const TrimWhenDone trim;
  const auto start = Clock::now();
  try {
    const auto previous = _shared.db.load();
    if (!full && previous && !changes.structure() && _source.readGroups) {
      // Only groups' members or names changed: the bound ones among them
      // are read, and the rest is the lists in use.
      std::set<unsigned> bound;
      const std::set<unsigned> known = previous->groups();
      for (const unsigned group : changes.groups()) {
        if (known.count(group) != 0) bound.insert(group);
      }
      lists::DbPolicyData data = _source.readGroups(bound);
      if (auto fresh = build(_shared, data, previous.get())) {
        swapIn(std::move(fresh), data, "the database, changed groups", start);
        std::lock_guard<std::mutex> lock(_mutex);
        noteUp();
        for (auto& [group, members] : data.members) {
          _sinceSnapshot.members[group] = std::move(members);
        }
        for (auto& [group, name] : data.groupNames) {
          _sinceSnapshot.groupNames[group] = std::move(name);
        }
        _sinceSnapshot.version = data.version;
        if (!_sinceSnapshot.partial) _sinceSnapshot.groupsOnly = true;
        _snapshotAt = Clock::now() + kSnapshotQuiet;
        return true;
      }
    }
    if (!full && previous) {
      std::set<unsigned> known = previous->groups();
      for (const unsigned group : changes.groups()) known.erase(group);
      lists::DbPolicyData data = _source.read(&known);
      if (auto fresh = build(_shared, data, previous.get())) {
        swapIn(std::move(fresh), data, "the database, entities, bindings and changed groups",
               start);
        std::lock_guard<std::mutex> lock(_mutex);
        noteUp();
        for (auto& [group, members] : data.members) {
          _sinceSnapshot.members[group] = std::move(members);
        }
        _sinceSnapshot.version = data.version;
        _sinceSnapshot.entities = std::move(data.entities);
        _sinceSnapshot.bindings = std::move(data.bindings);
        _sinceSnapshot.partial = true;
        // The bindings just read carry the groups' current names.
        _sinceSnapshot.groupsOnly = false;
        _sinceSnapshot.groupNames.clear();
        _snapshotAt = Clock::now() + kSnapshotQuiet;
        return true;
      }
    }
    lists::DbPolicyData data = _source.read(nullptr);
    swapIn(build(_shared, data, nullptr), data, "the database", start);
    if (_poll) _polledTo = data.version;
    {
      std::lock_guard<std::mutex> lock(_mutex);
      noteUp();
      _sinceSnapshot = lists::DbPolicyData();
      _snapshotAt.reset();
    }
    queueSnapshot(std::move(data), false);
    return true;
  } catch (const std::exception& e) {
    std::lock_guard<std::mutex> lock(_mutex);
    noteDown(e.what());
    return false;
  }
}

void DbFeed::queueSnapshot(lists::DbPolicyData data, bool merge) {
  {
    std::lock_guard<std::mutex> lock(_snapshotMutex);
    _snapshotJobs.push_back(SnapshotJob{std::move(data), merge});
  }
  _snapshotWake.notify_one();
}

void DbFeed::writeSnapshots() {
  std::unique_lock<std::mutex> lock(_snapshotMutex);
  for (;;) {
    _snapshotWake.wait(lock, [this] { return _snapshotsEnd || !_snapshotJobs.empty(); });
    if (_snapshotJobs.empty()) return;
    {
      const TrimWhenDone trim;
      SnapshotJob job = std::move(_snapshotJobs.front());
      _snapshotJobs.pop_front();
      lock.unlock();
      if (job.merge) {
        writeMergedSnapshot(job.data);
      } else {
        try {
          lists::writeDbSnapshot(job.data, _source.snapshotPath);
        } catch (const std::exception& e) {
          say("warning: %s", e.what());
        }
      }
    }
    lock.lock();
  }
}

void DbFeed::writeMergedSnapshot(const lists::DbPolicyData& since) {
  try {
    lists::DbPolicyData data = lists::readDbSnapshot(_source.snapshotPath);
    data.version = since.version;
    if (!since.groupsOnly) {
      data.entities = since.entities;
      data.bindings = since.bindings;
    }
    for (auto& b : data.bindings) {
      const auto name = since.groupNames.find(b.group);
      if (name != since.groupNames.end()) b.groupName = name->second;
    }
    for (const auto& [group, members] : since.members) data.members[group] = members;
    std::set<unsigned> bound;
    for (const auto& b : data.bindings) bound.insert(b.group);
    for (auto it = data.members.begin(); it != data.members.end();) {
      it = bound.count(it->first) != 0 ? std::next(it) : data.members.erase(it);
    }
    lists::writeDbSnapshot(data, _source.snapshotPath);
  } catch (const std::exception& e) {
    say("warning: the snapshot was not brought up to date: %s", e.what());
  }
}

void DbFeed::run() {
  std::unique_lock<std::mutex> lock(_mutex);
  auto nextPoll = Clock::now();
  while (!_stopping) {
    auto until = Clock::now() + kDownLogEvery;
    if (_poll) until = std::min(until, nextPoll);
    if (_retryAt) until = std::min(until, *_retryAt);
    if (_down) until = std::min(until, _nextDownLog);
    if (_snapshotAt) until = std::min(until, *_snapshotAt);
    _wake.wait_until(lock, until,
                     [this] { return _stopping || _wanted || _changes.any() || _verify; });
    if (_stopping) break;
    const auto now = Clock::now();
    if (_down && now >= _nextDownLog) {
      say("policy database still unreachable after %lld s (%s): answering from %s",
          secondsSince(_downSince), escapeForLog(_downWhy, 300).c_str(), inUse().c_str());
      _nextDownLog = now + kDownLogEvery;
    }
    const bool retry = _retryAt && now >= *_retryAt;
    bool verify = _verify;
    _verify = false;
    lock.unlock();
    if (_poll && now >= nextPoll) {
      _poll->poll();  // its callbacks set _wanted
      nextPoll = Clock::now() + _source.poll;
    }
    if (verify) {
      try {
        const auto current = _shared.db.load();
        if (!current || current->version() != _source.readVersion()) {
          request();
        } else {
          std::lock_guard<std::mutex> guard(_mutex);
          noteUp();  // the lists in use are current: an outage is over
        }
      } catch (const std::exception&) {
        request();  // the load finds out, and notes the outage
      }
    }
    lock.lock();
    if (!_wanted && !_changes.any() && !retry) {
      if (_snapshotAt && Clock::now() >= *_snapshotAt) {
        _snapshotAt.reset();
        queueSnapshot(std::exchange(_sinceSnapshot, lists::DbPolicyData()), true);
      }
      continue;
    }
    // A failed partial load is retried whole: what it missed is not known.
    const bool full = _wanted || retry || _changes.everything();
    const lists::PolicyChanges changes = std::exchange(_changes, lists::PolicyChanges());
    _wanted = false;
    lock.unlock();
    const bool loaded = load(full, changes);
    lock.lock();
    if (loaded) {
      _retryAt.reset();
      _backoff = std::chrono::milliseconds(200);
    } else {
      // Retried with back-off on a polled database too: the poll reports
      // only a version it has not reported, and the version may well still
      // read while the load fails.
      _retryAt = Clock::now() + _backoff;
      _backoff = std::min(kMaxBackoff, _backoff * 2);
    }
  }
}

}  // namespace quor::service::detail
