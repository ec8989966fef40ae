// Generation of the benchmark workload.
#include "bench/addrmatch/Workload.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <unordered_set>

namespace quor::bench {
namespace {

// splitmix64: small, fast and the same everywhere, unlike the distributions
// of the standard library.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : _state(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, n). REQUIRES: n > 0.
  std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
  // True with probability percent/100.
  bool chance(unsigned percent) { return below(100) < percent; }

 private:
  std::uint64_t _state;
};

constexpr std::string_view kTlds[] = {"com", "com", "com", "com", "net", "net", "org", "de", "uk",
                                      "fr",  "io",  "nl",  "it",  "jp",  "br",  "ru", "info", "biz"};
constexpr std::string_view kSubLabels[] = {"mail", "mx", "smtp", "eu", "us", "corp", "lists", "news",
                                           "info", "de", "uk", "mx1", "mx2", "relay", "out", "in"};

std::string randomLabel(Rng& rng, std::size_t minLen, std::size_t maxLen) {
  static constexpr std::string_view kChars = "abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuvwxyz0123456789";
  const std::size_t len = minLen + rng.below(maxLen - minLen + 1);
  std::string s;
  s.reserve(len);
  for (std::size_t i = 0; i < len; ++i) s += kChars[rng.below(kChars.size())];
  return s;
}

std::string randomUser(Rng& rng) {
  std::string user = randomLabel(rng, 3, 8);
  if (rng.chance(50)) user += "." + randomLabel(rng, 3, 8);
  return user;
}

// A user part no entry has: entries' users are at most 8 characters without
// a dot or contain a dot.
std::string freshUser(Rng& rng) { return randomLabel(rng, 11, 14); }

std::size_t labelCount(std::string_view domain) {
  return static_cast<std::size_t>(std::count(domain.begin(), domain.end(), '.')) + 1;
}

std::vector<std::string> makeDomains(Rng& rng, std::size_t count) {
  std::vector<std::string> domains;
  std::unordered_set<std::string> seen;
  domains.reserve(count);
  auto add = [&](std::string d) {
    if (seen.insert(d).second) domains.push_back(std::move(d));
  };
  const std::size_t two = std::max<std::size_t>(1, count / 2);
  const std::size_t three = count * 35 / 100;
  while (domains.size() < two) {
    add(randomLabel(rng, 3, 10) + "." + std::string(kTlds[rng.below(std::size(kTlds))]));
  }
  const std::size_t twoEnd = domains.size();
  // Subdomains of existing organisations: a common or a random label in front.
  auto prefix = [&](std::size_t from, std::size_t to) {
    const std::string& base = domains[from + rng.below(to - from)];
    std::string sub = rng.chance(50) ? std::string(kSubLabels[rng.below(std::size(kSubLabels))])
                                     : randomLabel(rng, 2, 8);
    return sub + "." + base;
  };
  while (domains.size() < twoEnd + three && domains.size() < count) add(prefix(0, twoEnd));
  const std::size_t threeEnd = domains.size();
  while (domains.size() < count) add(threeEnd > twoEnd ? prefix(twoEnd, threeEnd) : prefix(0, twoEnd));
  return domains;
}

BenchEntry makeEntry(Rng& rng, const std::vector<std::string>& domains, std::uint32_t membership) {
  BenchEntry e;
  e.membership = membership;
  const std::size_t roll = rng.below(100);
  const std::string& domain = domains[rng.below(domains.size())];
  const auto labels = static_cast<std::uint32_t>(labelCount(domain));
  if (roll < 60) {
    e.kind = PatternKind::Exact;
    e.user = randomUser(rng);
    e.domain = domain;
    e.pattern = e.user + "@" + domain;
    e.weight = 5001 + labels;
  } else if (roll < 85) {
    e.kind = PatternKind::AnyUser;
    e.domain = domain;
    e.pattern = "*@" + domain;
    e.weight = 4001 + labels;
  } else if (roll < 95) {
    e.kind = PatternKind::AnySubdomain;
    e.domain = domain;
    e.pattern = "*@*." + domain;
    e.weight = 2001 + labels;
  } else {
    e.kind = PatternKind::AnyDomain;
    e.user = randomUser(rng);
    e.pattern = e.user + "@*";
    e.weight = 1001;
  }
  return e;
}

// An address that `e` covers.
std::string coveredBy(Rng& rng, const BenchEntry& e, const std::vector<std::string>& domains) {
  switch (e.kind) {
    case PatternKind::Exact:
      return e.pattern;
    case PatternKind::AnyUser:
      return randomUser(rng) + "@" + e.domain;
    case PatternKind::AnySubdomain:
      return randomUser(rng) + "@" + randomLabel(rng, 2, 8) + "." + e.domain;
    case PatternKind::AnyDomain:
      return e.user + "@" + (rng.chance(50) ? domains[rng.below(domains.size())]
                                            : randomLabel(rng, 11, 14) + ".com");
  }
  return {};
}

// Half the queries are made from a random entry; the other half have a user
// no entry names, at an unknown domain of a known top-level label or at a
// known domain moved to another top-level label (which an entry may still
// cover by chance).
std::vector<std::string> makeQueries(Rng& rng, const std::array<std::vector<BenchEntry>, 3>& lists,
                                     const std::vector<std::string>& domains, std::size_t count) {
  std::size_t total = 0;
  for (const auto& l : lists) total += l.size();
  std::vector<std::string> queries;
  queries.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    if (total > 0 && rng.chance(50)) {
      std::size_t pick = rng.below(total);
      std::size_t t = 0;
      while (pick >= lists[t].size()) pick -= lists[t++].size();
      queries.push_back(coveredBy(rng, lists[t][pick], domains));
    } else if (rng.chance(50)) {
      queries.push_back(freshUser(rng) + "@" + randomLabel(rng, 11, 14) + "." +
                        std::string(kTlds[rng.below(std::size(kTlds))]));
    } else {
      // A near miss: a known domain under another top-level label, so that
      // the walk goes past the first level on interned labels.
      std::string domain = domains[rng.below(domains.size())];
      domain.resize(domain.rfind('.') + 1);
      queries.push_back(freshUser(rng) + "@" + domain + std::string(kTlds[rng.below(std::size(kTlds))]));
    }
  }
  for (std::size_t i = queries.size(); i > 1; --i) std::swap(queries[i - 1], queries[rng.below(i)]);
  return queries;
}

}  // namespace

WorkloadSize WorkloadSize::scaled(double factor) {
  WorkloadSize s;
  auto scale = [factor](std::size_t n) {
    return std::max<std::size_t>(1, static_cast<std::size_t>(std::llround(static_cast<double>(n) * factor)));
  };
  s.domains = scale(s.domains);
  for (auto& n : s.entries) n = scale(n);
  s.queries = scale(s.queries);
  if (factor < 1.0) {
    s.subsetEntries = scale(s.subsetEntries);
    s.subsetQueries = scale(s.subsetQueries);
  }
  return s;
}

std::size_t Workload::entryCount() const {
  std::size_t n = 0;
  for (const auto& l : lists) n += l.size();
  return n;
}

std::size_t Workload::subsetEntryCount() const {
  std::size_t n = 0;
  for (const auto& l : subsetLists) n += l.size();
  return n;
}

std::size_t Workload::patternTextBytes() const {
  std::size_t n = 0;
  for (const auto& l : lists) {
    for (const auto& e : l) n += e.pattern.size() + 1;
  }
  return n;
}

Workload makeWorkload(const WorkloadSize& size, std::uint64_t seed) {
  Rng rng(seed);
  Workload w;
  w.seed = seed;
  const std::vector<std::string> domains = makeDomains(rng, size.domains);
  for (std::size_t t = 0; t < w.lists.size(); ++t) {
    w.lists[t].reserve(size.entries[t]);
    for (std::size_t i = 0; i < size.entries[t]; ++i) {
      w.lists[t].push_back(makeEntry(rng, domains, kListMemberships[t]));
    }
  }
  w.queries = makeQueries(rng, w.lists, domains, size.queries);

  const std::size_t total = w.entryCount();
  for (std::size_t t = 0; t < w.lists.size(); ++t) {
    std::size_t take = total == 0 ? 0 : size.subsetEntries * w.lists[t].size() / total;
    if (take == 0 && !w.lists[t].empty()) take = 1;
    take = std::min(take, w.lists[t].size());
    w.subsetLists[t].assign(w.lists[t].begin(), w.lists[t].begin() + static_cast<std::ptrdiff_t>(take));
  }
  w.subsetQueries = makeQueries(rng, w.subsetLists, domains, size.subsetQueries);
  return w;
}

}  // namespace quor::bench
