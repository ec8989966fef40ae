// Helpers shared by the pattern tree and matcher tests.
#ifndef QUORPOLICY_TESTS_ADDRMATCH_TREEHELPERS_H_
#define QUORPOLICY_TESTS_ADDRMATCH_TREEHELPERS_H_

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ZoWildcardEmail.h"

namespace quor::test {

// How a tree under test is built: without a table, with an unlocked table,
// or with a table and nodes locked through the lock-on-init queue.
enum class Mode { Floating, Unlocked, Locked };

inline const char* modeName(Mode m) {
  return m == Mode::Floating ? "floating" : (m == Mode::Unlocked ? "unlocked" : "locked");
}

struct Pattern {
  std::string text;
  std::uint32_t membership;
};

// A tree with its own table (unless floating).
class TestTree {
 public:
  TestTree(Mode mode, const std::vector<Pattern>& patterns) {
    if (mode != Mode::Floating) {
      ZoWildcardEmail::clearLockOnInitQueue();
      _table = std::make_unique<ZoStringtable>();
    }
    _root = std::make_unique<ZoWildcardRootNode>(_table.get(),
                                                 ZoStringtable::getConstEmptyIndexedString());
    for (const auto& p : patterns) {
      _results.push_back(_root->addAddressPattern(
          p.text.c_str(), static_cast<ZoEmailBelongsTo>(p.membership), nullptr, nullptr));
    }
    if (mode == Mode::Locked) ZoWildcardEmail::initScanTimeMode();
  }
  ZoWildcardNode* root() { return _root.get(); }
  const std::vector<bool>& addResults() const { return _results; }

  // Full addresses of the leaves that cover `address`, in walk order.
  std::vector<std::string> matches(const char* address) {
    std::vector<ZoListedEmailAddress*> leaves;
    _root->findMatches(address, leaves);
    std::vector<std::string> out;
    for (auto* l : leaves) out.emplace_back(l->getFullAddressAsStr());
    return out;
  }

 private:
  std::unique_ptr<ZoStringtable> _table;  // declared first: outlives the tree
  std::unique_ptr<ZoWildcardNode> _root;
  std::vector<bool> _results;
};

}  // namespace quor::test

#endif  // QUORPOLICY_TESTS_ADDRMATCH_TREEHELPERS_H_
