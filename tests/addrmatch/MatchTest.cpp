#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "TreeHelpers.h"
#include "ZoWildcardEmail.h"
#include "strings/detail/LockOnInitQueue.h"

// Reaches the default table, which the other tests' clearing of the
// lock-on-init queue would otherwise leave unlocked.
class ZoWildcardEmailTestPeer {
 public:
  // Taken off the queue first: a process that runs this test alone still has
  // the table registered, and a second lock would be reported.
  static void lockDefaultTable() {
    ZoStringtable& table = ZoWildcardEmail::_defaultScanTimeStringtable;
    quor::detail::LockOnInitQueue::remove(&table);
    if (!table.isLocked()) table.lock();
  }
};

namespace {

using quor::test::Pattern;

// How the trees of a case are made: all on the default table, all floating,
// or mixed (the even-numbered ones floating), so that one parse of the
// address cannot serve trees of different tables.
enum class Kind { Default, Floating, Mixed };

// Several trees, locked together.
class Trees {
 public:
  Trees(const std::vector<std::vector<Pattern>>& lists, Kind kind = Kind::Default) {
    for (const auto& list : lists) {
      const bool floating =
          kind == Kind::Floating || (kind == Kind::Mixed && _roots.size() % 2 == 0);
      ZoWildcardNode* root =
          floating ? ZoWildcardEmail::makeNewFloatingTree() : ZoWildcardEmail::makeNewTree();
      _owned.emplace_back(root);
      _roots.push_back(root);
      for (const auto& p : list) {
        root->addAddressPattern(p.text.c_str(), static_cast<ZoEmailBelongsTo>(p.membership),
                                nullptr, nullptr);
      }
    }
    // Locked as a server locks it: later trees find the texts of the first
    // by ordinal.
    ZoWildcardEmailTestPeer::lockDefaultTable();
    ZoWildcardEmail::initScanTimeMode();
  }
  std::vector<ZoWildcardNode*>& roots() { return _roots; }

 private:
  std::vector<std::unique_ptr<ZoWildcardNode>> _owned;
  std::vector<ZoWildcardNode*> _roots;
};

// result, tree, pattern ("(null)" for a null pattern), membership.
using Outcome = std::tuple<std::uint32_t, unsigned long, std::string, std::uint32_t>;

Outcome match(const char* address, std::vector<ZoWildcardNode*>& trees) {
  unsigned long tree = 77;
  const char* pattern = "unset";
  auto membership = static_cast<ZoEmailBelongsTo>(77);
  const ZoBlackWhiteListResult r =
      ZoWildcardEmail::matchEmailAddress(address, trees, &tree, &pattern, &membership);
  return {static_cast<std::uint32_t>(r), tree, pattern != nullptr ? pattern : "(null)",
          static_cast<std::uint32_t>(membership)};
}

TEST(ZoWildcardEmail, MatchEmailAddress_DecisionRules) {
  struct Case {
    const char* name;
    std::vector<std::vector<Pattern>> lists;
    const char* address;
    Outcome want;
  };
  // clang-format off
  const Case cases[] = {
      {"heavier overrideable black in a later tree",
       {{{"*@a.b", 8}}, {{"u@a.b", 4}}}, "u@a.b", {2, 1, "u@a.b", 4}},
      {"subtraction empties the pool",
       {{{"*@a.b", 8}}, {{"*@a.b", 16}}}, "u@a.b", {0, 0, "(null)", 0}},
      {"first tree with a non-overrideable match stops",
       {{{"*@a.b", 1}}, {{"u@a.b", 2}}}, "u@a.b", {1, 0, "*@a.b", 1}},
      {"both non-overrideable, black heavier",
       {{{"u@*", 1}, {"*@a.b", 2}}}, "u@a.b", {130, 0, "*@a.b", 2}},
      {"both non-overrideable, white heavier",
       {{{"u@a.b", 1}, {"*@a.b", 2}}}, "u@a.b", {129, 0, "u@a.b", 1}},
      {"later tree not consulted after a non-overrideable match",
       {{{"u@a.b", 1}}, {{"u@a.b", 2}}}, "u@a.b", {1, 0, "u@a.b", 1}},
      {"first of equal non-overrideable whites kept",
       {{{"u@x.*", 1}, {"u@*.b", 1}}}, "u@a.b", {1, 0, "u@*.b", 1}},
      {"first of equal non-overrideable blacks kept",
       {{{"u@x.*", 2}, {"u@*.b", 2}}}, "u@a.b", {2, 0, "u@*.b", 2}},
      {"equal non-overrideable weights",
       {{{"u@x.*", 2}, {"u@*.b", 1}}}, "u@a.b", {137, 0, "u@*.b", 1}},
      {"non-overrideable beats overrideable; merged leaf",
       {{{"u@*.b", 1}, {"u@*.b", 0}, {"u@x.*.b", 0}, {"v@*", 0}, {"u@a.b", 8}, {"*@*.b", 2}}},
       "u@a.b", {129, 0, "u@*.b", 1}},
      {"equal overrideable weights", {{{"*@a.b", 8}}, {{"*@a.b", 4}}}, "u@a.b", {9, 0, "*@a.b", 8}},
      {"non-overrideable white only", {{{"*", 1}}}, "x@y", {1, 0, "*", 1}},
      {"non-overrideable black only", {{{"*@*.y", 2}}}, "x@z.y", {2, 0, "*@*.y", 2}},
      {"overrideable white only", {{{"x@y", 8}}}, "X@Y", {1, 0, "x@y", 8}},
      {"membership 17 contributes nothing", {{{"u@a.b", 17}}}, "u@a.b", {0, 0, "(null)", 0}},
      {"membership 0 contributes nothing", {{{"u@a.b", 0}}}, "u@a.b", {0, 0, "(null)", 0}},
      {"only subtractions", {{{"u@a.b", 16}, {"*@a.b", 32}}}, "u@a.b", {0, 0, "(null)", 0}},
      {"white subtraction leaves a black of the same text",
       {{{"*@a.b", 4}}, {{"*@a.b", 16}}}, "u@a.b", {2, 0, "*@a.b", 4}},
      {"subtraction does not remove later candidates",
       {{{"*@a.b", 16}}, {{"*@a.b", 8}}}, "u@a.b", {1, 1, "*@a.b", 8}},
      {"subtraction removes only its own text",
       {{{"*@a.b", 8}, {"u@*", 8}}, {{"u@*", 16}}}, "u@a.b", {1, 0, "*@a.b", 8}},
      {"black subtraction from a later tree",
       {{{"u@a.b", 4}, {"*@*", 4}}, {{"u@a.b", 32}}}, "u@a.b", {2, 0, "*@*", 4}},
      {"first of equal heaviest kept",
       {{{"*@a.b", 4}}, {{"*@a.b", 4}}, {{"u@*", 8}}}, "u@a.b", {2, 0, "*@a.b", 4}},
      {"black subtraction lets white win",
       {{{"u@a.b", 4}, {"*@a.b", 8}}, {{"u@a.b", 32}}}, "u@a.b", {1, 0, "*@a.b", 8}},
      {"not listed", {{{"u@a.b", 1}}}, "v@a.b", {0, 0, "(null)", 0}},
      {"no trees", {}, "u@a.b", {0, 0, "(null)", 0}},
      {"one empty tree", {{}}, "u@a.b", {0, 0, "(null)", 0}},
      {"null address", {{}}, nullptr, {0, 0, "(null)", 0}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (Kind kind : {Kind::Default, Kind::Floating, Kind::Mixed}) {
      SCOPED_TRACE(static_cast<int>(kind));
      Trees trees(c.lists, kind);
      EXPECT_EQ(c.want, match(c.address, trees.roots()));
    }
  }
}

TEST(ZoWildcardEmail, MatchEmailAddress_NullOutParametersAreNotWritten) {
  Trees trees({{{"u@a.b", 2}}});
  unsigned long tree = 5;
  auto membership = static_cast<ZoEmailBelongsTo>(0);
  EXPECT_EQ(Blacklisted, ZoWildcardEmail::matchEmailAddress("u@a.b", trees.roots(), &tree, nullptr,
                                                            &membership));
  EXPECT_EQ(0u, tree);
  EXPECT_EQ(NonOverrideableBlacklist, membership);
  EXPECT_EQ(Blacklisted,
            ZoWildcardEmail::matchEmailAddress("u@a.b", trees.roots(), nullptr, nullptr, nullptr));
}

// More overrideable candidates for one address than the matcher keeps in
// place: the heaviest still decides, wherever it comes in the list.
TEST(ZoWildcardEmail, MatchEmailAddress_ManyCandidatesHeaviestDecides) {
  std::vector<std::vector<Pattern>> lists(12, std::vector<Pattern>{{"*@*", 4}});
  lists[10] = {{"u@x", 8}};
  Trees trees(lists);
  EXPECT_EQ(Outcome(Whitelisted, 10, "u@x", OverrideableWhitelist), match("u@x", trees.roots()));
  EXPECT_EQ(Outcome(Blacklisted, 0, "*@*", OverrideableBlacklist), match("v@x", trees.roots()));
}

TEST(ZoWildcardEmail, ResultPredicates_ReadTheBits) {
  struct Case {
    std::uint32_t r;
    bool white, black;
  };
  const Case cases[] = {{0, false, false}, {1, true, false}, {2, false, true}, {137, true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.r);
    EXPECT_EQ(c.white, ZoWildcardEmail::isWhitelisted(static_cast<ZoBlackWhiteListResult>(c.r)));
    EXPECT_EQ(c.black, ZoWildcardEmail::isBlacklisted(static_cast<ZoBlackWhiteListResult>(c.r)));
  }
}

TEST(ZoWildcardEmail, MakeNewTree_InternsIntoTheDefaultTable) {
  for (bool floating : {false, true}) {
    SCOPED_TRACE(floating ? "floating" : "default table");
    std::unique_ptr<ZoWildcardNode> tree(floating ? ZoWildcardEmail::makeNewFloatingTree()
                                                  : ZoWildcardEmail::makeNewTree());
    ASSERT_TRUE(tree->addAddressPattern("u@a.b", NonOverrideableWhitelist, nullptr, nullptr));
    std::vector<ZoListedEmailAddress*> leaves;
    tree->findMatches("u@a.b", leaves);
    ASSERT_EQ(1u, leaves.size());
    EXPECT_EQ(!floating, leaves[0]->getFullAddressAsPtr()->isInStringtable());
    EXPECT_EQ(floating, leaves[0]->getFullAddressAsPtr()->hasPrivateDataCopy());
    tree.reset();  // destroying a registered tree before the queue is drained is safe
  }
  ZoWildcardEmail::initScanTimeMode();
}

}  // namespace
