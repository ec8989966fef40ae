// Fuzz target for the address pattern trees and the black/white decision.
//
// Input: lines. The first byte of the input picks trees with their own
// string table (even) or floating trees (odd). In every further line the
// first byte is a selector: odd adds the rest of the line as a pattern to
// tree (selector >> 4) % 3 with membership {0,1,2,4,8,16,32}[(selector >> 1) % 7];
// even matches the rest of the line as an address after all patterns are in.
// The trees are locked through the lock-on-init queue, as a scanning process
// does. Every answer must agree with the naive model of the rules.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "PolicyLog.h"
#include "ZoWildcardEmail.h"
#include "addrmatch/NaiveOracle.h"

namespace {

void check(bool ok, const char* what, const std::string& address) {
  if (ok) return;
  std::fprintf(stderr, "addrmatch fuzz: %s for address \"%s\"\n", what, address.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // Nothing here may log an error: valid calls on any text never do.
  static const bool sinkSet = [] {
    PolicyLog::setSink([](int level, const std::string& message) {
      if (level == PolicyLog::Error) {
        std::fprintf(stderr, "addrmatch fuzz: unexpected error message: %s\n", message.c_str());
        std::abort();
      }
    });
    return true;
  }();
  (void)sinkSet;
  const bool floating = (data[0] & 1) != 0;

  std::vector<std::pair<std::uint8_t, std::string>> lines;
  size_t start = 1;
  for (size_t i = 1; i <= size; ++i) {
    if (i == size || data[i] == '\n') {
      if (i > start) {
        std::string text(reinterpret_cast<const char*>(data) + start + 1, i - start - 1);
        text = text.substr(0, text.find('\0'));  // the interface takes C strings
        lines.emplace_back(data[start], text);
      }
      start = i + 1;
    }
  }

  static const std::uint32_t kMemberships[] = {0, 1, 2, 4, 8, 16, 32};
  ZoWildcardEmail::clearLockOnInitQueue();
  std::unique_ptr<ZoStringtable> table;
  if (!floating) table = std::make_unique<ZoStringtable>();
  std::vector<std::unique_ptr<ZoWildcardNode>> owned;
  std::vector<ZoWildcardNode*> trees;
  std::vector<quor::test::NaiveTree> oracles(3);
  for (int t = 0; t < 3; ++t) {
    owned.push_back(std::make_unique<ZoWildcardRootNode>(
        table.get(), ZoStringtable::getConstEmptyIndexedString()));
    trees.push_back(owned.back().get());
  }
  for (const auto& [selector, text] : lines) {
    if ((selector & 1) == 0) continue;
    const int t = (selector >> 4) % 3;
    const std::uint32_t m = kMemberships[(selector >> 1) % 7];
    const bool ok = trees[t]->addAddressPattern(text.c_str(), static_cast<ZoEmailBelongsTo>(m),
                                                nullptr, nullptr);
    check(ok == oracles[t].add(text, m), "addAddressPattern disagrees with the model", text);
  }
  ZoWildcardEmail::initScanTimeMode();

  std::vector<const quor::test::NaiveTree*> oraclePtrs = {&oracles[0], &oracles[1], &oracles[2]};
  for (const auto& [selector, address] : lines) {
    if ((selector & 1) != 0) continue;
    unsigned long tree = 99;
    const char* pattern = "unset";
    auto membership = static_cast<ZoEmailBelongsTo>(99);
    const std::uint32_t r =
        ZoWildcardEmail::matchEmailAddress(address.c_str(), trees, &tree, &pattern, &membership);
    const quor::test::NaiveDecision want = quor::test::naiveDecide(oraclePtrs, address);
    check(want.result == r, "result disagrees with the model", address);
    check(want.tree == tree, "tree disagrees with the model", address);
    check(want.membership == static_cast<std::uint32_t>(membership),
          "membership disagrees with the model", address);
    check(want.hasPattern ? (pattern != nullptr && want.pattern == pattern) : pattern == nullptr,
          "pattern disagrees with the model", address);
  }
  return 0;
}
