#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "ZoWildcardEmail.h"

namespace {

// result, tree, pattern (compared by address: the same leaf), membership.
using Answer = std::tuple<std::uint32_t, unsigned long, const char*, std::uint32_t>;

Answer matchOne(const std::string& address, std::vector<ZoWildcardNode*>& trees) {
  unsigned long tree = 0;
  const char* pattern = nullptr;
  ZoEmailBelongsTo m{};
  const auto r = ZoWildcardEmail::matchEmailAddress(address.c_str(), trees, &tree, &pattern, &m);
  return {r, tree, pattern, m};
}

// Many threads matching the same locked trees at once give exactly the
// answers of a single-threaded run.
TEST(ZoWildcardEmail, MatchEmailAddress_ConcurrentReadersAgreeWithSingleThread) {
  std::mt19937 rng(4242);
  auto domain = [&rng] {
    return "d" + std::to_string(rng() % 400) + (rng() % 2 ? ".com" : ".org");
  };
  auto user = [&rng] { return "u" + std::to_string(rng() % 300); };

  std::vector<std::unique_ptr<ZoWildcardNode>> owned;
  std::vector<ZoWildcardNode*> trees;
  const ZoEmailBelongsTo memberships[3][2] = {{NonOverrideableWhitelist, NonOverrideableBlacklist},
                                              {OverrideableBlacklist, BlacklistSubtraction},
                                              {OverrideableWhitelist, WhitelistSubtraction}};
  for (int t = 0; t < 3; ++t) {
    owned.emplace_back(ZoWildcardEmail::makeNewTree());
    trees.push_back(owned.back().get());
    const int entries = t == 0 ? 300 : 4000;
    for (int i = 0; i < entries; ++i) {
      // Out of 20: one user@*, two *@*.domain, five *@domain, the rest user@domain.
      const unsigned kind = rng() % 20;
      const std::string pattern = kind == 0  ? user() + "@*"
                                  : kind < 3 ? "*@*." + domain()
                                  : kind < 8 ? "*@" + domain()
                                             : user() + "@" + domain();
      const ZoEmailBelongsTo m = memberships[t][rng() % 10 == 0 ? 1 : 0];
      trees.back()->addAddressPattern(pattern.c_str(), m, nullptr, nullptr);
    }
  }
  ZoWildcardEmail::initScanTimeMode();

  std::vector<std::string> queries;
  for (int i = 0; i < 20000; ++i) {
    const unsigned kind = rng() % 4;
    queries.push_back(kind == 0   ? user() + "@x." + domain()
                      : kind == 1 ? "U" + user().substr(1) + "@" + domain()
                                  : user() + "@" + domain());
  }
  std::vector<Answer> expected;
  for (const auto& q : queries) expected.push_back(matchOne(q, trees));
  // The workload must exercise every kind of answer worth checking.
  int listed = 0;
  for (const auto& a : expected) listed += std::get<0>(a) != 0;
  ASSERT_GT(listed, 1000);

  constexpr int kThreads = 4;
  std::vector<std::vector<Answer>> got(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      // Each thread walks the queries from a different starting point.
      std::vector<Answer>& mine = got[t];
      mine.resize(queries.size());
      for (size_t k = 0; k < queries.size(); ++k) {
        const size_t i = (k + static_cast<size_t>(t) * queries.size() / kThreads) % queries.size();
        mine[i] = matchOne(queries[i], trees);
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) {
    size_t mismatches = 0;
    for (size_t i = 0; i < queries.size(); ++i) mismatches += !(got[t][i] == expected[i]);
    EXPECT_EQ(0u, mismatches) << "thread " << t;
  }
}

}  // namespace
