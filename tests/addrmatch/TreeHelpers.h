// Helpers shared by the pattern tree and matcher tests.
#ifndef QUORPOLICY_TESTS_ADDRMATCH_TREEHELPERS_H_
#define QUORPOLICY_TESTS_ADDRMATCH_TREEHELPERS_H_

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "NaiveOracle.h"
#include "ZoWildcardEmail.h"

namespace quor::test {

// How a tree under test is built: without a table; with an unlocked table;
// with a table and nodes locked through the lock-on-init queue; on a table
// locked before the tree, which holds the users and labels whose last byte
// is even (the others get private copies); or with the odd-numbered
// patterns added after the lock, their texts in the table (they must not
// merge into a leaf of an even-numbered one: a locked leaf refuses a new
// membership; a locked node knows a text with no ordinal is none of its
// own).
enum class Mode { Floating, Unlocked, Locked, EarlyTable, LateAdds };

inline const char* modeName(Mode m) {
  static const char* const names[] = {"floating", "unlocked", "locked", "early table", "late adds"};
  return names[static_cast<int>(m)];
}

struct Pattern {
  std::string text;
  std::uint32_t membership;
};

// A tree with its own table (unless floating). `others` are interned into
// the table before the patterns are added: texts with ordinals between the
// tree's own.
class TestTree {
 public:
  TestTree(Mode mode, const std::vector<Pattern>& patterns,
           const std::vector<std::string>& others = {}) {
    if (mode != Mode::Floating) {
      ZoWildcardEmail::clearLockOnInitQueue();
      _table = std::make_unique<ZoStringtable>();
      for (const auto& t : others) _table->getStringtableRef(t.c_str());
    }
    if (mode == Mode::EarlyTable || mode == Mode::LateAdds) {
      for (const auto& p : patterns) {
        auto [user, labels] = naiveParse(p.text);
        labels.push_back(user);
        for (const auto& t : labels) {
          if (mode == Mode::LateAdds || (!t.empty() && t.back() % 2 == 0))
            _table->getStringtableRef(t.c_str());
        }
      }
      if (mode == Mode::EarlyTable) ZoWildcardEmail::initScanTimeMode();
    }
    _root = std::make_unique<ZoWildcardRootNode>(_table.get(),
                                                 ZoStringtable::getConstEmptyIndexedString());
    _results.resize(patterns.size());
    auto add = [&](size_t first, size_t step) {
      for (size_t i = first; i < patterns.size(); i += step) {
        _results[i] = _root->addAddressPattern(
            patterns[i].text.c_str(), static_cast<ZoEmailBelongsTo>(patterns[i].membership),
            nullptr, nullptr);
      }
    };
    if (mode == Mode::LateAdds) {
      add(0, 2);
      ZoWildcardEmail::initScanTimeMode();
      add(1, 2);
    } else {
      add(0, 1);
    }
    if (mode == Mode::Locked || mode == Mode::EarlyTable) ZoWildcardEmail::initScanTimeMode();
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
