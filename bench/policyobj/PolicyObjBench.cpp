// getIds for a non-root administrator with wildcard entities, on SQLite.
//
// The database holds E wildcard entities and N address groups:
//   entity 1           *@*.example            parent of every administrator entity
//   entities 2..A+1    *@*.d<k>.example       the administrator's, k = 0..A-1
//   entities A+2..E    *@h<j>.d<j mod 2A>.example
//                                             children of the administrator's
//                                             entities when j mod 2A < A
//   group i (0..N-1)   linked to entity (i mod E) + 1
// Arguments: N, E, A. The answer is checked against a count made without the
// code under test before timing. Progress messages go to a sink that drops
// them, so the cost of formatting them is part of the figure.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "PolicyLog.h"
#include "QuorNamedObj.h"
#include "RdbmsInterface.h"
#include "db/RdbmsTestSupport.h"

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
  // The default sink: errors and warnings reach standard error, and the
  // progress trace nobody reads is neither formatted nor walked twice.
  const Expected want = oracle(n, e, a);
  {
    QUOR::RdbmsInterface db;
    std::vector<SummaryNamedObject> summaries;
    size_t editable = 0;
    const bool ok = QuorNamedObj::getIds(db, 2, QuorNamedObj::AddressGroupList, summaries);
    for (const SummaryNamedObject& s : summaries) editable += s.editable ? 1 : 0;
    if (!ok || summaries.size() != want.listed || editable != want.editable) {
      state.SkipWithError("getIds disagrees with the layout");
      return;
    }
  }
  for (auto _ : state) {
    QUOR::RdbmsInterface db;
    std::vector<SummaryNamedObject> summaries;
    benchmark::DoNotOptimize(QuorNamedObj::getIds(db, 2, QuorNamedObj::AddressGroupList, summaries));
  }
  state.counters["listed"] = static_cast<double>(want.listed);
}

// A quarter-size row for quick runs; then the size asked for; then three rows
// that each double one count.
BENCHMARK(BM_GetIdsNonRootWildcard)
    ->ArgNames({"objects", "entities", "admin"})
    ->Args({5000, 500, 50})
    ->Args({20000, 2000, 200})
    ->Args({40000, 2000, 200})
    ->Args({20000, 4000, 200})
    ->Args({20000, 2000, 400})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
