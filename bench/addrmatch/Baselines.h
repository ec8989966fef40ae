// The two baselines of the address-matching benchmark. Both reach the same
// black/white decision as the pattern tree by the same rules (for the
// memberships the workload uses: 1, 2, 4 and 8; subtractions are not
// modelled), by other means:
//  - HashTables: per list, hash tables keyed by the full address, by the
//    domain (for *@domain), by each parent domain (for *@*.domain) and by the
//    user part (for user@*), consulted the way a mail server consults its
//    access tables;
//  - GlobScan: per list, every pattern tried in turn as a glob in which "*"
//    matches any run of characters.
// Both are read-only after construction and may be used from several threads.
#ifndef QUORPOLICY_BENCH_ADDRMATCH_BASELINES_H_
#define QUORPOLICY_BENCH_ADDRMATCH_BASELINES_H_

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "bench/addrmatch/Workload.h"

namespace quor::bench {

// The black/white decision over entries collected list by list.
class Decision {
 public:
  // One covering entry of the current list.
  void add(std::uint32_t membership, std::uint32_t weight);
  // True once a non-overrideable entry has matched: later lists are not
  // consulted.
  bool settled() const { return _bestWhite > 0 || _bestBlack > 0; }
  // 0 not listed, 1 white, 2 black, 9 equal weights (white), plus 128 when
  // both non-overrideable sides matched.
  std::uint32_t result() const;

 private:
  std::uint32_t _bestWhite = 0;
  std::uint32_t _bestBlack = 0;
  std::uint32_t _maxOverrideableBlack = 0;
  std::uint32_t _maxOverrideableWhite = 0;
};

using Lists = std::array<std::vector<BenchEntry>, 3>;

class HashTables {
 public:
  explicit HashTables(const Lists& lists);
  std::uint32_t decide(std::string_view address) const;

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  struct Hit {
    std::uint32_t membership;
    std::uint32_t weight;
  };
  using Map = std::unordered_map<std::string, Hit, Hash, std::equal_to<>>;
  struct Tables {
    Map exact;     // user@domain
    Map byDomain;  // *@domain
    Map byParent;  // *@*.domain, keyed by domain
    Map byUser;    // user@*, keyed by user
  };
  std::vector<Tables> _lists;
};

class GlobScan {
 public:
  explicit GlobScan(const Lists& lists);
  std::uint32_t decide(std::string_view address) const;
  // "*" matches any run of characters (also none); everything else itself.
  static bool globMatch(std::string_view pattern, std::string_view text);

 private:
  struct Glob {
    std::string pattern;
    std::uint32_t membership;
    std::uint32_t weight;
  };
  std::vector<std::vector<Glob>> _lists;
};

}  // namespace quor::bench

#endif  // QUORPOLICY_BENCH_ADDRMATCH_BASELINES_H_
