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

// Threads matching the same locked trees at once give exactly the answers
// of a single-threaded run.
TEST(ZoWildcardEmail, MatchEmailAddress_ConcurrentReadersAgreeWithSingleThread) {
  std::mt19937 rng(4242);
  auto user = [&rng] { return "u" + std::to_string(rng() % 300); };
  auto domain = [&rng] { return "d" + std::to_string(rng() % 400) + ".com"; };
  std::vector<std::unique_ptr<ZoWildcardNode>> owned;
  std::vector<ZoWildcardNode*> trees;
  for (const ZoEmailBelongsTo m :
       {NonOverrideableBlacklist, OverrideableBlacklist, OverrideableWhitelist}) {
    owned.emplace_back(ZoWildcardEmail::makeNewTree());
    trees.push_back(owned.back().get());
    for (int i = 0; i < 2000; ++i) {
      const std::string pattern = (rng() % 4 == 0 ? std::string("*") : user()) + "@" + domain();
      trees.back()->addAddressPattern(pattern.c_str(), m, nullptr, nullptr);
    }
  }
  ZoWildcardEmail::initScanTimeMode();
  std::vector<std::string> queries;
  for (int i = 0; i < 20000; ++i) queries.push_back(user() + "@" + domain());
  std::vector<Answer> expected;
  for (const auto& q : queries) expected.push_back(matchOne(q, trees));
  std::vector<std::vector<Answer>> got(4, std::vector<Answer>(queries.size()));
  std::vector<std::thread> threads;
  for (size_t t = 0; t < got.size(); ++t) {
    threads.emplace_back([&, t] {
      for (size_t k = 0; k < queries.size(); ++k) {
        const size_t i = (k + t * queries.size() / got.size()) % queries.size();
        got[t][i] = matchOne(queries[i], trees);
      }
    });
  }
  for (auto& th : threads) th.join();
  for (const auto& answers : got) EXPECT_TRUE(answers == expected);
}

}  // namespace
