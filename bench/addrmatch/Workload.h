// The generated workload of the address-matching benchmark.
//
// Three lists in precedence order: non-overrideable white entries, then
// overrideable black entries, then overrideable white entries. Each entry is
// one of four kinds (exact address 60%, *@domain 25%, *@*.domain 10%,
// user@* 5%) over a pool of domains of two to four labels. Queries are
// shuffled; about half are made to be covered by a random entry. Everything
// follows from the seed through a generator of our own, so the same seed
// gives the same workload on every platform.
#ifndef QUORPOLICY_BENCH_ADDRMATCH_WORKLOAD_H_
#define QUORPOLICY_BENCH_ADDRMATCH_WORKLOAD_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quor::bench {

enum class PatternKind { Exact, AnyUser, AnySubdomain, AnyDomain };

struct BenchEntry {
  PatternKind kind;
  std::string user;     // empty for AnyUser and AnySubdomain
  std::string domain;   // empty for AnyDomain
  std::string pattern;  // the text added to the tree
  std::uint32_t membership;
  std::uint32_t weight;  // how specific the pattern is, computed independently of the matcher
};

struct WorkloadSize {
  std::size_t domains = 100'000;
  std::array<std::size_t, 3> entries = {10'000, 500'000, 500'000};
  std::size_t queries = 1'000'000;
  std::size_t subsetEntries = 10'000;  // for the linear-scan baseline
  std::size_t subsetQueries = 10'000;

  // Every size multiplied by `factor` (at least one of each).
  static WorkloadSize scaled(double factor);
};

struct Workload {
  std::uint64_t seed = 0;
  std::array<std::vector<BenchEntry>, 3> lists;
  std::vector<std::string> queries;
  // A proportional subset of the lists and queries made for that subset.
  std::array<std::vector<BenchEntry>, 3> subsetLists;
  std::vector<std::string> subsetQueries;

  std::size_t entryCount() const;
  std::size_t subsetEntryCount() const;
  // Sum of the pattern lengths plus terminators of the full lists.
  std::size_t patternTextBytes() const;
};

// Memberships of the three lists, strongest first.
inline constexpr std::array<std::uint32_t, 3> kListMemberships = {1, 4, 8};

Workload makeWorkload(const WorkloadSize& size, std::uint64_t seed);

}  // namespace quor::bench

#endif  // QUORPOLICY_BENCH_ADDRMATCH_WORKLOAD_H_
