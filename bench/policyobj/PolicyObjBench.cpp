// getIds for a non-root administrator with wildcard entities, on SQLite.
//
// The database holds E wildcard entities and N address groups:
//   entity 1           *@*.example            parent of every administrator entity
//   entities 2..A+1    *@*.d<k>.example       the administrator's, k = 0..A-1
//   entities A+2..E    *@h<j>.d<j mod 2A>.example
//                                             children of the administrator's
//                                             entities when j mod 2A < A
//   group i (0..N-1)   linked to entity (i mod E) + 1
// Arguments: N, E, A and the path: 0 the step-by-step walk (forced, as a
// baseline), 1 the path a host that does not read the progress trace gets.
// Both run with a sink that asks for errors and warnings only. The answer is
// checked against a count made without the code under test before timing,
// and the two paths' lists are compared with each other.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "PolicyLog.h"
#include "QuorNamedObj.h"
#include "RdbmsInterface.h"
#include "db/RdbmsTestSupport.h"
#include "policyobj/detail/ListPath.h"

namespace {

using quor::test::Backend;
using quor::test::InstallRoot;
using quor::test::TestDatabase;

struct Expected {
  size_t listed = 0;
  size_t editable = 0;
};

// Which groups the administrator sees and may edit, from the layout alone.
Expected oracle(long n, long e, long a) {
  Expected want;
  for (long i = 0; i < n; ++i) {
    const long entity = i % e + 1;
    bool own = entity >= 2 && entity <= a + 1;
    bool child = false;
    if (entity >= a + 2) {
      const long j = entity - (a + 2);
      child = j % (2 * a) < a;
    }
    const bool parent = entity == 1;
    if (own || child || parent) ++want.listed;
    if (own || child) ++want.editable;
  }
  return want;
}

void fill(const TestDatabase& db, long n, long e, long a) {
  const std::string count = "WITH RECURSIVE c(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM c WHERE i < ";
  db.exec("INSERT INTO administrators (admin_id, admin_name, is_root) VALUES (1, 'root', 1), (2, 'bench', 0)");
  db.exec("INSERT INTO entities (entity_id, entity_name, entity_type) " + count + std::to_string(e - 1) +
          ") SELECT i + 1, CASE WHEN i = 0 THEN '*@*.example'"
          " WHEN i <= " + std::to_string(a) + " THEN '*@*.d' || (i - 1) || '.example'"
          " ELSE '*@h' || (i - " + std::to_string(a + 1) + ") || '.d' || ((i - " + std::to_string(a + 1) + ") % " +
          std::to_string(2 * a) + ") || '.example' END, 6 FROM c");
  db.exec("INSERT INTO admin_entities (admin_id, entity_id, position) SELECT 2, entity_id, entity_id FROM entities"
          " WHERE entity_id BETWEEN 2 AND " + std::to_string(a + 1));
  db.exec("INSERT INTO named_objects (object_id, kind, name, content) " + count + std::to_string(n - 1) +
          ") SELECT i + 1, 5, 'group ' || i, '' FROM c");
  db.exec("INSERT INTO entity_named_objects (entity_id, object_id, kind) " + count + std::to_string(n - 1) +
          ") SELECT i % " + std::to_string(e) + " + 1, i + 1, 5 FROM c");
}

void BM_GetIdsNonRootWildcard(benchmark::State& state) {
  const long n = state.range(0);
  const long e = state.range(1);
  const long a = state.range(2);
  TestDatabase database(Backend::Sqlite, "bench_" + std::to_string(n) + "_" + std::to_string(e) + "_" + std::to_string(a));
  InstallRoot root(Backend::Sqlite, &database);
  root.writeDatabaseIni(root.standardIni());
  if (!QUOR::RdbmsInterface::Init(nullptr, nullptr, nullptr, nullptr)) {
    state.SkipWithError("database not reachable");
    return;
  }
  fill(database, n, e, a);
  size_t errors = 0;
  PolicyLog::setSink([&](int level, const std::string&) { errors += level == PolicyLog::Error ? 1 : 0; },
                     PolicyLog::Warning);
  const bool stepwise = state.range(3) == 0;
  auto list = [](bool forced, std::vector<SummaryNamedObject>& summaries) {
    quor::policyobj::detail::forceStepwiseLists(forced);
    QUOR::RdbmsInterface db;
    const bool ok = QuorNamedObj::getIds(db, 2, QuorNamedObj::AddressGroupList, summaries);
    quor::policyobj::detail::forceStepwiseLists(false);
    return ok;
  };
  const Expected want = oracle(n, e, a);
  {
    std::vector<SummaryNamedObject> summaries;
    std::vector<SummaryNamedObject> other;
    size_t editable = 0;
    const bool ok = list(stepwise, summaries) && (n > 20000 || list(!stepwise, other));
    for (const SummaryNamedObject& s : summaries) editable += s.editable ? 1 : 0;
    bool same = n > 20000 || other.size() == summaries.size();
    for (size_t i = 0; same && i < other.size(); ++i) {
      same = other[i].id == summaries[i].id && other[i].editable == summaries[i].editable &&
             other[i].deletable == summaries[i].deletable && other[i].name == summaries[i].name;
    }
    if (!ok || errors != 0 || summaries.size() != want.listed || editable != want.editable || !same) {
      PolicyLog::setSink({});
      state.SkipWithError("getIds disagrees with the layout or with the other path");
      return;
    }
  }
  for (auto _ : state) {
    std::vector<SummaryNamedObject> summaries;
    benchmark::DoNotOptimize(list(stepwise, summaries));
  }
  PolicyLog::setSink({});
  state.counters["listed"] = static_cast<double>(want.listed);
}

// The base size, three rows that each double one count, and 100,000 objects;
// each row on both paths.
BENCHMARK(BM_GetIdsNonRootWildcard)
    ->ArgNames({"objects", "entities", "admin", "fast"})
    ->ArgsProduct({{20000}, {2000}, {200}, {0, 1}})
    ->ArgsProduct({{40000}, {2000}, {200}, {0, 1}})
    ->ArgsProduct({{20000}, {4000}, {200}, {0, 1}})
    ->ArgsProduct({{20000}, {2000}, {400}, {0, 1}})
    ->ArgsProduct({{100000}, {2000}, {200}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
