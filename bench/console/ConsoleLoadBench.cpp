// Administration consoles under load: T threads, each one administrator
// working on address groups through the connection pool.
//
// The database holds the root administrator (1) and eight administrators
// (2..9), each with two entities of their own (type 1, neither wildcard nor
// LDAP) and 50 address groups with one member. Every thread count sees the
// same database: administrators whose thread is not running keep their
// groups, so each getIds reads the same number of objects. Thread k works as
// administrator k + 2 in a cycle of six operations:
//   getIds, add, getIds, modify, getIds, remove
// (half of them lists, as a console shows a page after each change; the
// number of groups stays level). Adds make a new name; modify and remove pick
// one of the administrator's groups. Each operation makes its own unit of
// work, so each loan comes from the pool of eight connections.
//
// An operation succeeded when it said so and logged no error (the
// address-group operations give 0 also when the database refused them; they
// log the failure). Each thread keeps what its successful operations should
// have left; while none of them failed, a getIds must list exactly that
// (ids of added groups are learnt from these lists). After each run the database is
// read with plain queries and compared with it: every group a successful
// operation made or changed is there with its name, content and members,
// linked to its administrator's two entities, every group removed is gone,
// and nothing else is (no group, link or member that no successful operation
// accounts for). A mismatch marks the run as failed, prints the reason, and
// makes the program's exit code 1. The mean milliseconds of each kind of
// operation, and the 99th percentile of all operations of all threads
// (p99_ms), are reported beside the throughput. On PostgreSQL,
// commits_per_op is the number of transactions the server committed in the
// benchmark's database while the threads ran, divided by their operations
// (a statement run outside a transaction is one commit of its own).
//
// items_per_second is the operations of all threads per second of wall time.
// SQLite lets one connection write at a time, so its throughput cannot grow
// with threads; PostgreSQL runs when QUOR_TEST_PG_PORT names a server.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "PolicyLog.h"
#include "QuorNamedObj.h"
#include "RdbmsInterface.h"
#include "ZoDataAccess.h"
#include "db/RdbmsTestSupport.h"
#include "policyobj/detail/MemberList.h"

namespace {

using quor::test::Backend;
using quor::test::InstallRoot;
using quor::test::TestDatabase;

constexpr int kMaxThreads = 8;
constexpr unsigned kFirstAdmin = 2;
constexpr int kSeedGroups = 50;
constexpr int kPoolSize = kMaxThreads;

struct Group {
  std::string name;
  std::vector<std::string> members;
  bool operator==(const Group& other) const { return name == other.name && members == other.members; }
};

// What one administrator's successful operations should have left.
struct Expected {
  std::map<unsigned, Group> groups;
  // Added, id not yet seen in a list: name -> members.
  std::map<std::string, std::vector<std::string>> pending;
  // A modify that failed may have changed the group anyway.
  std::map<unsigned, Group> maybe;
  // A remove that failed may have removed the group anyway.
  std::set<unsigned> mayBeGone;
  bool uncertain = false;  // an operation failed: lists are not compared
};

// One thread's state for one run.
struct Worker {
  Expected expected;
  std::mt19937 random;
  unsigned next = 0;  // for new names
  unsigned long ops = 0;
  unsigned long failed = 0;
  // Wall time and count per kind of operation: list, add, modify, remove.
  std::chrono::steady_clock::duration spent[4]{};
  unsigned long done[4]{};
  std::vector<std::chrono::steady_clock::duration> latencies;  // of every operation
  std::string mismatch;  // set when a list disagreed with `expected`
};

// PostgreSQL: the transactions the server has counted as committed in the
// benchmark's database, once every connection still open to it is one of the
// pool's and each of those has handed its pending counts to the server (a
// backend does so only now and then while it works, and when it ends). Each
// of the pool's connections commits one transaction more for that. Read on a
// connection to another database, so that reading adds nothing here.
long long serverCommits(const TestDatabase& database, ZoDataAccess& pool) {
  std::string admin = database.connectString();
  const std::string key = "Database=" + database.databaseValue();
  admin.replace(admin.find(key), key.size(), "Database=postgres");
  ZoDbConnect reader;
  reader.connect(admin.c_str(), nullptr, nullptr, nullptr);
  const auto scalar = [&reader](const std::string& sql) {
    reader.executeSQL(sql.c_str(), ZoDbConnect::ZO_SQL_BATCH);
    const long long value = reader.fetchNextRow() == 0 ? std::atoll(reader.getColVal("v")) : -1;
    while (reader.fetchNextRow() == 0) {
    }
    return value;
  };
  const std::string where = " WHERE datname = '" + database.databaseValue() + "'";
  // Connections of the set-up and the checks end on their own shortly.
  for (int i = 0;
       i < 200 && scalar("SELECT count(*) AS v FROM pg_stat_activity" + where) > kPoolSize; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  std::vector<ZoDbConnect*> lent;
  for (int i = 0; i < kPoolSize; ++i) lent.push_back(pool.getConnect());
  for (ZoDbConnect* c : lent) {
    // The counts are handed over before the answer is sent.
    c->executeSQL("SELECT pg_stat_force_next_flush()", ZoDbConnect::ZO_SQL_BATCH);
    while (c->fetchNextRow() == 0) {
    }
  }
  for (ZoDbConnect* c : lent) pool.returnConnect(c);
  return scalar("SELECT xact_commit AS v FROM pg_stat_database" + where);
}

struct Environment {
  Environment(Backend backend) : database(backend, "console_load"), root(backend, &database) {}
  TestDatabase database;
  InstallRoot root;
  ZoDataAccess* pool = nullptr;
  bool ready = false;
  std::string problem;
};

std::unique_ptr<Environment> gEnvironment;
std::vector<Worker> gWorkers(kMaxThreads);
std::atomic<bool> gReady{false};
std::atomic<bool> gCheckFailed{false};
// The server's count before the run; -1 when it could not be read (the
// server is older than version 15, say), and the run then goes without it.
long long gCommitsBefore = -1;

// Errors logged on this thread, and the last one.
thread_local unsigned long tErrors = 0;
thread_local std::string tLastError;

void sink(int level, const std::string& message) {
  if (level == PolicyLog::Error) {
    ++tErrors;
    tLastError = message;
  }
}

struct Row {
  std::map<std::string, std::string> columns;
};

std::vector<Row> query(const TestDatabase& database, const std::string& sql,
                       const std::vector<std::string>& columns) {
  ZoDbConnect c;
  c.connect(database.connectString().c_str(), nullptr, nullptr, nullptr);
  c.executeSQL(sql.c_str(), ZoDbConnect::ZO_SQL_SPLIT);
  std::vector<Row> rows;
  while (c.fetchNextRow() == 0) {
    Row row;
    for (const std::string& column : columns) {
      const char* value = c.getColVal(column.c_str());
      row.columns[column] = value != nullptr ? value : "<null>";
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

unsigned number(const std::string& text) { return static_cast<unsigned>(std::strtoul(text.c_str(), nullptr, 10)); }

// A stored group as plain queries see it.
struct Stored {
  std::string name;
  std::string content;
  std::vector<std::string> members;
  std::map<unsigned, int> linksByAdmin;  // administrator -> links to their entities
  int links = 0;
};

// Reads every address group; `problems` gets rows that belong to none.
std::map<unsigned, Stored> readGroups(const TestDatabase& database, std::string& problems) {
  std::map<unsigned, Stored> groups;
  for (const Row& row : query(database, "SELECT object_id AS id, name AS name, content AS content FROM named_objects"
                                        " WHERE kind = 5 ORDER BY object_id",
                              {"id", "name", "content"})) {
    Stored& s = groups[number(row.columns.at("id"))];
    s.name = row.columns.at("name");
    s.content = row.columns.at("content");
  }
  for (const Row& row : query(database, "SELECT e.object_id AS id, a.admin_id AS admin FROM entity_named_objects e"
                                        " LEFT JOIN admin_entities a ON a.entity_id = e.entity_id",
                              {"id", "admin"})) {
    const unsigned id = number(row.columns.at("id"));
    const auto it = groups.find(id);
    if (it == groups.end()) {
      problems += "entity link to object " + row.columns.at("id") + ", which is not an address group; ";
      continue;
    }
    ++it->second.links;
    ++it->second.linksByAdmin[number(row.columns.at("admin"))];
  }
  for (const Row& row : query(database, "SELECT group_id AS id, address AS address FROM address_group_members"
                                        " ORDER BY group_id, position",
                              {"id", "address"})) {
    const auto it = groups.find(number(row.columns.at("id")));
    if (it == groups.end()) {
      problems += "member " + row.columns.at("address") + " of missing group " + row.columns.at("id") + "; ";
      continue;
    }
    it->second.members.push_back(row.columns.at("address"));
  }
  return groups;
}

std::string contentOf(const std::vector<std::string>& members) {
  std::vector<AddressGroup::AddressGroupMember> list;
  for (const std::string& m : members) list.push_back({0, m});
  return quor::policyobj::detail::memberListText(list);
}

// The administrator a stored group belongs to (linked to both of their
// entities and nothing else), or 0.
unsigned ownerOf(const Stored& s) {
  if (s.links != 2 || s.linksByAdmin.size() != 1 || s.linksByAdmin.begin()->second != 2) return 0;
  return s.linksByAdmin.begin()->first;
}

// Compares the database with what the workers' successful operations left;
// empty when they agree.
std::string check(const TestDatabase& database) {
  std::string problems;
  std::map<unsigned, Stored> stored = readGroups(database, problems);
  std::vector<Expected> expected;
  for (const Worker& w : gWorkers) expected.push_back(w.expected);
  for (const auto& [id, s] : stored) {
    const std::string what = "group " + std::to_string(id) + " '" + s.name + "'";
    const unsigned admin = ownerOf(s);
    if (admin < kFirstAdmin || admin >= kFirstAdmin + kMaxThreads) {
      problems += what + " is not linked to exactly one administrator's two entities; ";
      continue;
    }
    if (s.content != contentOf(s.members)) problems += what + " has content that does not match its members; ";
    Expected& e = expected[admin - kFirstAdmin];
    const Group found{s.name, s.members};
    if (const auto it = e.groups.find(id); it != e.groups.end()) {
      const auto maybe = e.maybe.find(id);
      if (!(it->second == found) && (maybe == e.maybe.end() || !(maybe->second == found))) {
        problems += what + " is not as the last successful change left it ('" + it->second.name + "'); ";
      }
      e.groups.erase(it);
    } else if (const auto p = e.pending.find(s.name); p != e.pending.end()) {
      if (p->second != s.members) problems += what + " does not have the members it was added with; ";
      e.pending.erase(p);
    } else {
      problems += what + " is there, but no successful operation accounts for it; ";
    }
  }
  for (size_t k = 0; k < expected.size(); ++k) {
    for (const auto& [id, g] : expected[k].groups) {
      if (expected[k].mayBeGone.count(id) == 0) {
        problems += "group " + std::to_string(id) + " '" + g.name + "' of administrator " +
                    std::to_string(kFirstAdmin + k) + " is missing; ";
      }
    }
    for (const auto& [name, members] : expected[k].pending) {
      problems += "group '" + name + "', added with success, is missing; ";
    }
  }
  return problems;
}

// Puts the database into its starting state and the workers' expectations
// with it (read back with plain queries). Runs before the threads start.
std::string reset(const TestDatabase& database) {
  std::string sql =
      "DELETE FROM address_group_members; DELETE FROM entity_named_objects; DELETE FROM named_objects;"
      " INSERT INTO named_objects (kind, name, content) VALUES ";
  for (unsigned a = kFirstAdmin; a < kFirstAdmin + kMaxThreads; ++a) {
    for (int i = 0; i < kSeedGroups; ++i) {
      sql += (a == kFirstAdmin && i == 0 ? "" : ", ");
      sql += "(5, 't" + std::to_string(a) + " s" + std::to_string(i) + "', '')";
    }
  }
  sql +=
      "; UPDATE named_objects SET content = '<mas><ma>s' || object_id || '@seed.example</ma></mas>' WHERE kind = 5"
      "; INSERT INTO address_group_members (group_id, position, address)"
      " SELECT object_id, 1, 's' || object_id || '@seed.example' FROM named_objects WHERE kind = 5"
      "; INSERT INTO entity_named_objects (entity_id, object_id, kind)"
      " SELECT a.entity_id, o.object_id, 5 FROM named_objects o, admin_entities a"
      " WHERE o.kind = 5 AND o.name LIKE 't' || a.admin_id || ' s%'";
  database.exec(sql);
  std::string problems;
  const std::map<unsigned, Stored> stored = readGroups(database, problems);
  for (size_t k = 0; k < gWorkers.size(); ++k) {
    gWorkers[k] = Worker{};
    gWorkers[k].random.seed(static_cast<unsigned>(k) + 1);
  }
  for (const auto& [id, s] : stored) {
    const unsigned admin = ownerOf(s);
    if (admin < kFirstAdmin || admin >= kFirstAdmin + kMaxThreads) return "the starting state is not as made";
    gWorkers[admin - kFirstAdmin].expected.groups[id] = Group{s.name, s.members};
  }
  return problems;
}

void prepare(Backend backend) {
  if (gEnvironment && gEnvironment->database.backend() == backend) return;
  gEnvironment.reset();
  gEnvironment = std::make_unique<Environment>(backend);
  Environment& env = *gEnvironment;
  if (!env.database.available()) {
    env.problem = env.database.skipReason();
    return;
  }
  env.root.writeDatabaseIni(env.root.standardIni());
  if (!QUOR::RdbmsInterface::Init(kPoolSize, &env.pool, nullptr, nullptr, nullptr, nullptr)) {
    env.problem = "the pool could not be made";
    return;
  }
  std::string sql = "INSERT INTO administrators (admin_id, admin_name, is_root) VALUES (1, 'root', 1)";
  for (unsigned a = kFirstAdmin; a < kFirstAdmin + kMaxThreads; ++a) {
    sql += ", (" + std::to_string(a) + ", 'console " + std::to_string(a) + "', 0)";
  }
  sql += "; INSERT INTO entities (entity_id, entity_name, entity_type) VALUES ";
  std::string links = "; INSERT INTO admin_entities (admin_id, entity_id, position) VALUES ";
  for (unsigned a = kFirstAdmin; a < kFirstAdmin + kMaxThreads; ++a) {
    for (unsigned j = 0; j < 2; ++j) {
      const std::string entity = std::to_string(2 * a + j);
      const std::string sep = a == kFirstAdmin && j == 0 ? "" : ", ";
      sql += sep + "(" + entity + ", 'team " + std::to_string(a) + "." + std::to_string(j) + "', 1)";
      links += sep + "(" + std::to_string(a) + ", " + entity + ", " + std::to_string(j) + ")";
    }
  }
  env.database.exec(sql + links);
  env.ready = true;
}

bool succeeded(bool reported, unsigned long errorsBefore) { return reported && tErrors == errorsBefore; }

std::vector<std::string> membersFor(unsigned admin, unsigned n) {
  std::vector<std::string> members;
  for (unsigned i = 0; i < 3; ++i) {
    members.push_back("m" + std::to_string(i) + "." + std::to_string(n) + "@t" + std::to_string(admin) + ".example");
  }
  return members;
}

std::vector<AddressGroup::AddressGroupMember> asMembers(const std::vector<std::string>& members) {
  std::vector<AddressGroup::AddressGroupMember> list;
  for (const std::string& m : members) list.push_back({0, m});
  return list;
}

unsigned pick(Worker& w) {
  if (w.expected.groups.empty()) return 0;
  std::uniform_int_distribution<size_t> d(0, w.expected.groups.size() - 1);
  auto it = w.expected.groups.begin();
  std::advance(it, static_cast<long>(d(w.random)));
  return it->first;
}

void list(Worker& w, unsigned admin) {
  std::vector<SummaryNamedObject> summaries;
  const unsigned long before = tErrors;
  bool ok = false;
  {
    QUOR::RdbmsInterface db;
    ok = QuorNamedObj::getIds(db, admin, QuorNamedObj::AddressGroupList, summaries);
  }
  if (!succeeded(ok, before)) {
    ++w.failed;
    w.expected.uncertain = true;
    return;
  }
  // New ids of added groups come from the list; the rest must agree.
  Expected& e = w.expected;
  size_t known = 0;
  for (const SummaryNamedObject& s : summaries) {
    if (e.groups.count(s.id) != 0) {
      ++known;
      if (!e.uncertain && e.groups[s.id].name != s.name) w.mismatch = "getIds lists an old name for " + s.name;
    } else if (const auto p = e.pending.find(s.name); p != e.pending.end()) {
      e.groups[s.id] = Group{s.name, p->second};
      e.pending.erase(p);
      ++known;
    } else if (!e.uncertain) {
      w.mismatch = "getIds lists '" + s.name + "', which no successful operation made";
    }
    if (!e.uncertain && (!s.editable || !s.deletable)) w.mismatch = "getIds: own group '" + s.name + "' not editable";
  }
  if (!e.uncertain && (known != e.groups.size() || !e.pending.empty())) {
    w.mismatch = "getIds lists " + std::to_string(summaries.size()) + " groups, expected " +
                 std::to_string(e.groups.size() + e.pending.size());
  }
}

void add(Worker& w, unsigned admin) {
  const unsigned n = w.next++;
  const std::string name = "t" + std::to_string(admin) + " g" + std::to_string(n);
  const std::vector<std::string> members = membersFor(admin, n);
  auto list = asMembers(members);
  const unsigned long before = tErrors;
  const QuorErrC rc = AddressGroup::addAddressGroup(admin, name.c_str(), 0, list);
  if (succeeded(rc == QuorErr::kSuccess, before)) {
    w.expected.pending[name] = members;
  } else {
    ++w.failed;
    w.expected.uncertain = true;
  }
}

void modify(Worker& w, unsigned admin) {
  const unsigned id = pick(w);
  if (id == 0) return list(w, admin);
  const unsigned n = w.next++;
  Group changed{w.expected.groups[id].name + " v" + std::to_string(n), membersFor(admin, n)};
  auto list = asMembers(changed.members);
  const unsigned long before = tErrors;
  const QuorErrC rc = AddressGroup::modifyAddressGroup(id, changed.name.c_str(), list);
  if (succeeded(rc == QuorErr::kSuccess, before)) {
    w.expected.groups[id] = changed;
    w.expected.maybe.erase(id);
  } else {
    ++w.failed;
    w.expected.uncertain = true;
    w.expected.maybe[id] = changed;
  }
}

void remove(Worker& w, unsigned admin) {
  const unsigned id = pick(w);
  if (id == 0) return list(w, admin);
  const unsigned long before = tErrors;
  QuorErrC rc = QuorErr::kSuccess;
  {
    QUOR::RdbmsInterface db;
    rc = QuorNamedObj::remove(db, id, admin);
  }
  if (succeeded(rc == QuorErr::kSuccess, before)) {
    w.expected.groups.erase(id);
    w.expected.maybe.erase(id);
  } else {
    ++w.failed;
    w.expected.uncertain = true;
    w.expected.mayBeGone.insert(id);
  }
}

void BM_ConsoleLoad(benchmark::State& state) {
  const auto backend = static_cast<Backend>(state.range(0));
  if (state.thread_index() == 0) {
    gReady = false;
    prepare(backend);
    std::string problem = gEnvironment->problem;
    if (problem.empty()) {
      try {
        problem = reset(gEnvironment->database);
      } catch (const char* text) {
        problem = std::string("reset failed: ") + text;
      }
    }
    gCommitsBefore = -1;
    if (problem.empty() && backend == Backend::Postgres) {
      try {
        gCommitsBefore = serverCommits(gEnvironment->database, *gEnvironment->pool);
      } catch (const char* text) {
        std::fprintf(stderr, "counting commits failed: %s\n", text);
      }
    }
    if (problem.empty()) {
      gReady = true;
    } else {
      state.SkipWithError(problem.c_str());
    }
  }
  const int k = state.thread_index();
  const unsigned admin = kFirstAdmin + static_cast<unsigned>(k);
  Worker& w = gWorkers[static_cast<size_t>(k)];
  for (auto _ : state) {
    if (!gReady) {
      state.SkipWithError("setup failed");
      continue;
    }
    const auto start = std::chrono::steady_clock::now();
    int kind = 0;
    switch (w.ops++ % 6) {
      case 1:
        kind = 1;
        add(w, admin);
        break;
      case 3:
        kind = 2;
        modify(w, admin);
        break;
      case 5:
        kind = 3;
        remove(w, admin);
        break;
      default:
        list(w, admin);
        break;
    }
    const auto spent = std::chrono::steady_clock::now() - start;
    w.spent[kind] += spent;
    w.latencies.push_back(spent);
    ++w.done[kind];
  }
  state.SetItemsProcessed(static_cast<int64_t>(w.ops));
  state.counters["failed"] = static_cast<double>(w.failed);
  // Mean milliseconds per operation of each kind, over the threads.
  const char* const names[4] = {"getIds_ms", "add_ms", "modify_ms", "remove_ms"};
  for (int i = 0; i < 4; ++i) {
    const double ms = w.done[i] == 0 ? 0.0
                                     : std::chrono::duration<double, std::milli>(w.spent[i]).count() /
                                           static_cast<double>(w.done[i]);
    state.counters[names[i]] = benchmark::Counter(ms, benchmark::Counter::kAvgThreads);
  }
  if (k == 0) state.SetLabel(quor::test::backendName(backend));
  if (k == 0 && gReady && gCommitsBefore >= 0) {
    unsigned long ops = 0;
    for (int i = 0; i < state.threads(); ++i) ops += gWorkers[static_cast<size_t>(i)].ops;
    try {
      const long long commits =
          serverCommits(gEnvironment->database, *gEnvironment->pool) - gCommitsBefore - kPoolSize;
      if (ops > 0) {
        state.counters["commits_per_op"] = static_cast<double>(commits) / static_cast<double>(ops);
      }
    } catch (const char* text) {
      std::fprintf(stderr, "counting commits failed: %s\n", text);
    }
  }
  if (k == 0) {
    // Every thread has left the loop, so every latency is recorded. Set on
    // one thread only, so the sum over the threads is this value.
    std::vector<std::chrono::steady_clock::duration> all;
    for (int i = 0; i < state.threads(); ++i) {
      const auto& l = gWorkers[static_cast<size_t>(i)].latencies;
      all.insert(all.end(), l.begin(), l.end());
    }
    if (!all.empty()) {
      const size_t rank = (all.size() * 99 + 99) / 100 - 1;
      std::nth_element(all.begin(), all.begin() + static_cast<long>(rank), all.end());
      state.counters["p99_ms"] = std::chrono::duration<double, std::milli>(all[rank]).count();
    }
  }
  if (k == 0 && gReady) {
    // Every thread has left the loop (the loop ends on a barrier).
    std::string problems;
    for (size_t i = 0; i < gWorkers.size(); ++i) {
      if (!gWorkers[i].mismatch.empty()) problems += "thread " + std::to_string(i) + ": " + gWorkers[i].mismatch + "; ";
    }
    try {
      problems += check(gEnvironment->database);
    } catch (const char* text) {
      problems += std::string("reading the database failed: ") + text;
    }
    if (!problems.empty()) {
      std::fprintf(stderr, "console load check failed (%s, %d threads): %s\n", quor::test::backendName(backend),
                   state.threads(), problems.c_str());
      gCheckFailed = true;
      state.SkipWithError("the database does not hold what the successful operations left");
    }
  }
}

BENCHMARK(BM_ConsoleLoad)
    ->ArgName("postgres")
    ->Arg(static_cast<int>(Backend::Sqlite))
    ->Arg(static_cast<int>(Backend::Postgres))
    ->Threads(1)
    ->Threads(2)
    ->Threads(4)
    ->Threads(8)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  PolicyLog::setSink(sink, PolicyLog::Warning);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PolicyLog::setSink({});
  gEnvironment.reset();
  return gCheckFailed ? 1 : 0;
}
