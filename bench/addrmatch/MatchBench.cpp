// Address matching: ZoWildcardEmail::matchEmailAddress against hash tables
// and against a linear scan of glob patterns, on one generated workload.
//
// Before anything is timed, every query is decided by the trees and by the
// hash tables, and every subset query by trees of the subset and by the glob
// scan; the program stops with a message when any decision differs. The
// ratios reported as counters come from one untimed-by-the-framework pass of
// each method over its queries, made right after that check.
//
// Flags (before the benchmark library's own): --scale=F multiplies every size
// (also QUOR_BENCH_SCALE), --seed=N changes the workload (also
// QUOR_BENCH_SEED).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ZoWildcardEmail.h"
#include "bench/addrmatch/Baselines.h"
#include "bench/addrmatch/HeapCounter.h"
#include "bench/addrmatch/Workload.h"

namespace quor::bench {
namespace {

constexpr std::uint64_t kDefaultSeed = 20261205;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct TreeDeleter {
  void operator()(ZoWildcardNode* root) const { delete root; }
};
using TreePtr = std::unique_ptr<ZoWildcardNode, TreeDeleter>;

struct Fixture {
  Workload work;
  std::vector<TreePtr> owners;
  std::vector<ZoWildcardNode*> trees;
  std::vector<TreePtr> subsetOwners;
  std::vector<ZoWildcardNode*> subsetTrees;
  std::unique_ptr<HashTables> hash;
  std::unique_ptr<GlobScan> glob;

  std::size_t refused = 0;
  double buildSeconds = 0;
  double lockSeconds = 0;
  std::int64_t treeNewBytes = 0;
  std::int64_t treeMallocBytes = 0;
  std::int64_t hashNewBytes = 0;
  std::size_t covered = 0;
  double treeNs = 0;
  double hashNs = 0;
  double globNs = 0;
  double subsetTreeNs = 0;
};

Fixture* gFixture = nullptr;

std::uint32_t treeDecision(std::vector<ZoWildcardNode*>& trees, const std::string& address) {
  unsigned long index = 0;
  const char* pattern = nullptr;
  ZoEmailBelongsTo membership{};
  return ZoWildcardEmail::matchEmailAddress(address.c_str(), trees, &index, &pattern, &membership);
}

std::vector<ZoWildcardNode*> buildTrees(const Lists& lists, bool floating, std::vector<TreePtr>& owners,
                                        std::size_t& refused) {
  std::vector<ZoWildcardNode*> roots;
  for (const auto& list : lists) {
    ZoWildcardNode* root = floating ? ZoWildcardEmail::makeNewFloatingTree() : ZoWildcardEmail::makeNewTree();
    if (root == nullptr) {
      std::fprintf(stderr, "addrmatch_bench: cannot make a tree\n");
      std::exit(1);
    }
    owners.emplace_back(root);
    roots.push_back(root);
    for (const BenchEntry& e : list) {
      if (!root->addAddressPattern(e.pattern.c_str(), static_cast<ZoEmailBelongsTo>(e.membership), nullptr,
                                   nullptr)) {
        ++refused;
      }
    }
  }
  return roots;
}

template <class Decide>
double nsPerCall(const std::vector<std::string>& queries, Decide&& decide) {
  std::uint64_t sink = 0;
  const auto start = Clock::now();
  for (const std::string& q : queries) sink += decide(q);
  const double seconds = secondsSince(start);
  benchmark::DoNotOptimize(sink);
  return queries.empty() ? 0 : seconds * 1e9 / static_cast<double>(queries.size());
}

void setUp(const WorkloadSize& size, std::uint64_t seed) {
  auto f = std::make_unique<Fixture>();
  f->work = makeWorkload(size, seed);

  const std::int64_t newBefore = liveNewBytes();
  const std::int64_t mallocBefore = mallocInUse();
  const auto buildStart = Clock::now();
  f->trees = buildTrees(f->work.lists, false, f->owners, f->refused);
  f->buildSeconds = secondsSince(buildStart);
  const auto lockStart = Clock::now();
  ZoWildcardEmail::initScanTimeMode();
  f->lockSeconds = secondsSince(lockStart);
  f->treeNewBytes = liveNewBytes() - newBefore;
  f->treeMallocBytes = mallocInUse() - mallocBefore;

  std::size_t subsetRefused = 0;
  f->subsetTrees = buildTrees(f->work.subsetLists, true, f->subsetOwners, subsetRefused);

  const std::int64_t hashBefore = liveNewBytes();
  f->hash = std::make_unique<HashTables>(f->work.lists);
  f->hashNewBytes = liveNewBytes() - hashBefore;
  f->glob = std::make_unique<GlobScan>(f->work.subsetLists);

  // The correctness check: every decision must agree before anything is timed.
  for (const std::string& q : f->work.queries) {
    const std::uint32_t tree = treeDecision(f->trees, q);
    const std::uint32_t table = f->hash->decide(q);
    if (tree != table) {
      std::fprintf(stderr, "addrmatch_bench: decisions differ for %s: matchEmailAddress %u, hash tables %u\n",
                   q.c_str(), tree, table);
      std::abort();
    }
    if (tree != 0) ++f->covered;
  }
  for (const std::string& q : f->work.subsetQueries) {
    const std::uint32_t tree = treeDecision(f->subsetTrees, q);
    const std::uint32_t scan = f->glob->decide(q);
    if (tree != scan) {
      std::fprintf(stderr, "addrmatch_bench: decisions differ for %s: matchEmailAddress %u, glob scan %u\n",
                   q.c_str(), tree, scan);
      std::abort();
    }
  }

  f->treeNs = nsPerCall(f->work.queries, [&](const std::string& q) { return treeDecision(f->trees, q); });
  f->hashNs = nsPerCall(f->work.queries, [&](const std::string& q) { return f->hash->decide(q); });
  f->globNs = nsPerCall(f->work.subsetQueries, [&](const std::string& q) { return f->glob->decide(q); });

  const double entries = static_cast<double>(f->work.entryCount());
  std::fprintf(stderr,
               "workload: seed %llu, lists %zu/%zu/%zu entries, %zu queries (%.1f%% listed), subset %zu entries "
               "and %zu queries; %zu entries refused\n",
               static_cast<unsigned long long>(seed), f->work.lists[0].size(), f->work.lists[1].size(),
               f->work.lists[2].size(), f->work.queries.size(),
               100.0 * static_cast<double>(f->covered) / static_cast<double>(f->work.queries.size()),
               f->work.subsetEntryCount(), f->work.subsetQueries.size(), f->refused);
  std::fprintf(stderr,
               "build %.3f s, lock %.3f s; heap per entry: %.1f B by operator new (%.1f B beyond the pattern "
               "texts), %.1f B by malloc; hash tables %.1f B\n",
               f->buildSeconds, f->lockSeconds, static_cast<double>(f->treeNewBytes) / entries,
               static_cast<double>(f->treeNewBytes - static_cast<std::int64_t>(f->work.patternTextBytes())) / entries,
               static_cast<double>(f->treeMallocBytes) / entries, static_cast<double>(f->hashNewBytes) / entries);
  std::fprintf(stderr,
               "one pass each: matchEmailAddress %.0f ns/call, hash tables %.0f ns/call, glob scan of %zu "
               "patterns %.0f ns/call (scaled to %zu: %.0f ns/call)\n",
               f->treeNs, f->hashNs, f->work.subsetEntryCount(), f->globNs, f->work.entryCount(),
               f->globNs * entries / static_cast<double>(f->work.subsetEntryCount()));
  gFixture = f.release();
}

void BM_BuildAndLock(benchmark::State& state) {
  const Fixture& f = *gFixture;
  for (auto _ : state) state.SetIterationTime(f.buildSeconds + f.lockSeconds);
  const double entries = static_cast<double>(f.work.entryCount());
  state.counters["entries"] = entries;
  state.counters["build_s"] = f.buildSeconds;
  state.counters["lock_s"] = f.lockSeconds;
  state.counters["heap_B_per_entry"] = static_cast<double>(f.treeNewBytes) / entries;
  state.counters["heap_B_per_entry_beyond_text"] =
      static_cast<double>(f.treeNewBytes - static_cast<std::int64_t>(f.work.patternTextBytes())) / entries;
  state.counters["malloc_B_per_entry"] = static_cast<double>(f.treeMallocBytes) / entries;
  state.counters["hash_heap_B_per_entry"] = static_cast<double>(f.hashNewBytes) / entries;
}

void BM_MatchEmailAddress(benchmark::State& state) {
  Fixture& f = *gFixture;
  const auto& queries = f.work.queries;
  std::size_t i = queries.size() * static_cast<std::size_t>(state.thread_index()) /
                  static_cast<std::size_t>(state.threads());
  for (auto _ : state) {
    benchmark::DoNotOptimize(treeDecision(f.trees, queries[i]));
    if (++i == queries.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) state.counters["ns_per_call_one_pass"] = f.treeNs;
}

void BM_HashTables(benchmark::State& state) {
  const Fixture& f = *gFixture;
  const auto& queries = f.work.queries;
  std::size_t i = queries.size() * static_cast<std::size_t>(state.thread_index()) /
                  static_cast<std::size_t>(state.threads());
  for (auto _ : state) {
    benchmark::DoNotOptimize(f.hash->decide(queries[i]));
    if (++i == queries.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) {
    state.counters["ns_per_call_one_pass"] = f.hashNs;
    state.counters["ratio_to_tree"] = f.hashNs / f.treeNs;
  }
}

void BM_GlobScanSubset(benchmark::State& state) {
  const Fixture& f = *gFixture;
  const auto& queries = f.work.subsetQueries;
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(f.glob->decide(queries[i]));
    if (++i == queries.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
  const double scale =
      static_cast<double>(f.work.entryCount()) / static_cast<double>(f.work.subsetEntryCount());
  state.counters["patterns"] = static_cast<double>(f.work.subsetEntryCount());
  state.counters["ns_per_call_one_pass"] = f.globNs;
  state.counters["scaled_ns_per_call"] = f.globNs * scale;
  state.counters["scaled_ratio_to_tree"] = f.globNs * scale / f.treeNs;
}

BENCHMARK(BM_BuildAndLock)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MatchEmailAddress)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_HashTables)->Threads(1)->Threads(2)->UseRealTime();
BENCHMARK(BM_GlobScanSubset)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Takes --name=value out of argv; returns the value or null.
const char* takeFlag(int& argc, char** argv, const char* name) {
  const std::size_t len = std::strlen(name);
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], name, len) == 0 && argv[i][len] == '=') {
      const char* value = argv[i] + len + 1;
      for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
      --argc;
      return value;
    }
  }
  return nullptr;
}

}  // namespace
}  // namespace quor::bench

int main(int argc, char** argv) {
  using namespace quor::bench;
  const char* scaleText = takeFlag(argc, argv, "--scale");
  if (scaleText == nullptr) scaleText = std::getenv("QUOR_BENCH_SCALE");
  const char* seedText = takeFlag(argc, argv, "--seed");
  if (seedText == nullptr) seedText = std::getenv("QUOR_BENCH_SEED");
  const double scale = scaleText != nullptr ? std::strtod(scaleText, nullptr) : 1.0;
  if (!(scale > 0.0 && scale <= 10.0)) {
    std::fprintf(stderr, "addrmatch_bench: --scale must be above 0 and at most 10\n");
    return 2;
  }
  const std::uint64_t seed = seedText != nullptr ? std::strtoull(seedText, nullptr, 10) : kDefaultSeed;

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
  setUp(WorkloadSize::scaled(scale), seed);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  // The trees go before the library's static string table does.
  delete gFixture;
  gFixture = nullptr;
  return 0;
}
