#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "NaiveOracle.h"
#include "TreeHelpers.h"
#include "ZoWildcardEmail.h"
#include "support/LogCapture.h"

namespace {

using quor::test::LogCapture;
using quor::test::Mode;
using quor::test::NaiveTree;
using quor::test::TestTree;

using Strings = std::vector<std::string>;
const Mode kModes[] = {Mode::Floating, Mode::Unlocked, Mode::Locked};

Strings oracleMatches(const NaiveTree& oracle, const std::string& address) {
  Strings out;
  for (const auto* e : oracle.matches(address)) out.push_back(e->fullAddress);
  return out;
}

// Builds `patterns` in each of `modes`, with `others` in the table; the add
// results and the leaves found for each address must be the naive model's.
template <class Modes>
void expectLikeOracle(const Modes& modes, const std::vector<quor::test::Pattern>& patterns,
                      const Strings& addresses, const Strings& others = {}) {
  NaiveTree oracle;
  std::vector<bool> wantResults;
  for (const auto& p : patterns) wantResults.push_back(oracle.add(p.text, p.membership));
  std::vector<Strings> want;
  for (const auto& a : addresses) want.push_back(oracleMatches(oracle, a));
  for (Mode mode : modes) {
    TestTree tree(mode, patterns, others);
    ASSERT_EQ(wantResults, tree.addResults()) << quor::test::modeName(mode);
    for (size_t i = 0; i < addresses.size(); ++i) {
      SCOPED_TRACE(std::string(quor::test::modeName(mode)) + ": " + addresses[i].substr(0, 40));
      ASSERT_EQ(want[i], tree.matches(addresses[i].c_str()));
    }
  }
}

TEST(ZoWildcardNode, FindMatches_OrderIsDeepestFirstExactBeforeWildcard) {
  const std::vector<quor::test::Pattern> patterns = {{"*@*", 8},   {"u@*", 8},    {"*@a.b", 8},
                                                     {"u@a.b", 8}, {"*@*.b", 8},  {"u@*.b", 8},
                                                     {"v@a.b", 8}, {"u@x.a.b", 8}};
  struct Case {
    const char* address;
    Strings want;
  };
  const Case cases[] = {
      {"u@a.b", {"u@a.b", "*@a.b", "u@*.b", "*@*.b", "u@*", "*@*"}},
      {"v@a.b", {"v@a.b", "*@a.b", "*@*.b", "*@*"}},
      {"u@x.a.b", {"u@x.a.b", "u@*.b", "*@*.b", "u@*", "*@*"}},
      {"w@c", {"*@*"}},
      {"u@b", {"u@*", "*@*"}},
  };
  for (Mode mode : kModes) {
    TestTree tree(mode, patterns);
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(quor::test::modeName(mode)) + ": " + c.address);
      EXPECT_EQ(c.want, tree.matches(c.address));
    }
  }
}

TEST(ZoWildcardNode, AddAddressPattern_SameLeafMergesMembership) {
  struct Case {
    const char* name;
    std::vector<quor::test::Pattern> patterns;
    std::vector<bool> results;
    const char* address;
    const char* fullAddress;
    std::uint32_t membership;
  };
  // clang-format off
  const Case cases[] = {
      {"labels left of * share a leaf",
       {{"u@a.*.b", 1}, {"u@*.b", 16}}, {true, true}, "u@q.b", "u@a.*.b", 17},
      {"white then black refused",
       {{"u@a.b", 1}, {"u@a.b", 2}}, {true, false}, "u@a.b", "u@a.b", 1},
      {"case differences share a leaf",
       {{"U@A.B", 8}, {"u@a.b", 32}}, {true, true}, "u@a.b", "u@a.b", 40},
      {"star is star@star", {{"*", 4}, {"*@*", 16}}, {true, true}, "x@y", "*", 20},
      {"overrideable pair refused", {{"*@a", 4}, {"*@a", 8}}, {true, false}, "x@a", "*@a", 4},
  };
  // clang-format on
  for (Mode mode : kModes) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(quor::test::modeName(mode)) + ": " + c.name);
      TestTree tree(mode, c.patterns);
      EXPECT_EQ(c.results, tree.addResults());
      std::vector<ZoListedEmailAddress*> leaves;
      tree.root()->findMatches(c.address, leaves);
      ASSERT_EQ(1u, leaves.size());
      EXPECT_STREQ(c.fullAddress, leaves[0]->getFullAddressAsStr());
      EXPECT_EQ(c.membership, static_cast<std::uint32_t>(leaves[0]->getMembership()));
    }
  }
}

TEST(ZoWildcardNode, AddAddressPattern_OwnerAndOriginalAddress) {
  ZoWildcardEmail::clearLockOnInitQueue();
  std::unique_ptr<ZoWildcardNode> root(ZoWildcardEmail::makeNewFloatingTree());
  std::string owner = "p1";
  EXPECT_FALSE(root->addAddressPattern(nullptr, NonOverrideableWhitelist, nullptr, nullptr));
  EXPECT_TRUE(root->addAddressPattern("*@A.b", OverrideableWhitelist, "*@A.b", &owner));
  EXPECT_TRUE(root->addAddressPattern("u@a.b", OverrideableWhitelist, "U@a.b", &owner));
  EXPECT_TRUE(root->addAddressPattern("u@a.b", OverrideableWhitelist, nullptr, nullptr));
  std::vector<ZoListedEmailAddress*> leaves;
  root->findMatches("u@a.b", leaves);
  ASSERT_EQ(2u, leaves.size());
  EXPECT_STREQ("U@a.b", leaves[0]->getOriginalAddress());  // kept: the later call gave none
  EXPECT_TRUE(leaves[0]->getRelatedPolicyOwners()->empty());
  EXPECT_STREQ("*@A.b", leaves[1]->getOriginalAddress());
  ASSERT_EQ(1u, leaves[1]->getRelatedPolicyOwners()->size());
  EXPECT_EQ(&owner, leaves[1]->getRelatedPolicyOwners()->front());
  EXPECT_STREQ("*@a.b", leaves[1]->getFullAddressAsStr());
  // The wildcard leaf becomes a direct entry again when added without owner.
  leaves[1]->setDirectPolicyOwner(false);
  EXPECT_TRUE(root->addAddressPattern("*@a.b", OverrideableWhitelist, nullptr, nullptr));
  EXPECT_TRUE(leaves[1]->getDirectPolicyOwner());
  // Floating trees keep private copies.
  EXPECT_EQ(0xFFFFFFFFu, leaves[0]->getFullAddressAsPtr()->getIndex());
  // The labels handed in come back as they were.
  ZoWildcardNode::stack pieces;
  char* buffer = ZoWildcardEmail::allocateNewEmailAddressString("v@a.b");
  ZoWildcardNode::parseAddress(nullptr, "v@a.b", buffer, pieces);
  const ZoIndexedString* user = ZoWildcardNode::getEmailAddressName(pieces);
  const ZoIndexedString* top = pieces.top();
  const ZoIndexedString full("v@a.b");
  EXPECT_TRUE(
      root->addAddressPattern(&full, user, pieces, OverrideableWhitelist, nullptr, nullptr));
  ASSERT_EQ(2u, pieces.size());
  EXPECT_EQ(top, pieces.top());
  pieces.push(user);
  ZoWildcardEmail::cleanupDomainStack(&pieces, nullptr);
  ZoWildcardEmail::freeEmailAddressString(buffer);
}

// Exposes the children and the protected search of a root.
class InspectableRoot : public ZoWildcardRootNode {
 public:
  using ZoWildcardRootNode::ZoWildcardRootNode;
  Strings childLabels() const {
    Strings out;
    for (const auto* c : _children) out.emplace_back(c->getNameAsStr());
    return out;
  }
  const ZoWildcardNode* child(const ZoIndexedString& label) { return _findMatchingChild(label); }
  bool childrenIndexed() const { return _childrenIndexed; }
  using ZoWildcardRootNode::_addToChildVector;
  using ZoWildcardRootNode::_addToLeafVector;
};

TEST(ZoWildcardNode, Children_SortedAndLockedShortCut) {
  ZoWildcardEmail::clearLockOnInitQueue();
  ZoStringtable table;
  InspectableRoot root(&table, ZoStringtable::getConstEmptyIndexedString());
  for (const char* p : {"u@c", "u@a", "u@b", "u@B", "u@\xE9"})
    ASSERT_TRUE(root.addAddressPattern(p, NonOverrideableWhitelist, nullptr, nullptr));
  EXPECT_EQ((Strings{"a", "b", "c", "\xE9"}), root.childLabels());
  const ZoIndexedString wrapper("b");
  EXPECT_NE(nullptr, root.child(wrapper));  // unlocked: found by text
  EXPECT_FALSE(root.childrenIndexed());
  ZoWildcardEmail::initScanTimeMode();
  EXPECT_TRUE(root.childrenIndexed());
  EXPECT_TRUE(root.isLocked());
  // Locked: a key in no table is known to differ from every child without
  // any text comparison, even when the text is the same.
  EXPECT_EQ(nullptr, root.child(wrapper));
  EXPECT_FALSE(root._addToChildVector(nullptr));
  EXPECT_FALSE(root._addToLeafVector(nullptr));
  // A plain node given no labels has nothing to pop: refused.
  ZoWildcardNode plain(&table, table.getRef("b"));
  ZoWildcardNode::stack none;
  const ZoIndexedString full("u@b");
  EXPECT_FALSE(plain.addAddressPattern(&full, table.getRef("u"), none, NonOverrideableWhitelist,
                                       nullptr, nullptr));
  const ZoIndexedString* element = table.getRef("b");
  ASSERT_TRUE(element->isIndexed());
  ASSERT_NE(nullptr, root.child(*element));
  EXPECT_STREQ("b", root.child(*element)->getNameAsStr());
  EXPECT_STREQ("\xE9", root.child(*table.getRef("\xE9"))->getNameAsStr());
}

// Labels are pushed left to right, then the user; a text without at-sign
// gets the shared empty handle as its leftmost label.
TEST(ZoWildcardNode, ParseAddress_PushesLabelsThenUser) {
  ZoWildcardEmail::clearLockOnInitQueue();
  ZoStringtable table;
  table.getStringtableRef("u");
  table.lock();
  struct Case {
    const char* address;
    Strings topToBottom;
  };
  const Case cases[] = {
      {"U@A.b", {"U", "b", "a"}},  // labels lower-cased by the parser, the user part not
      {"*", {"*", "*"}},           {"u", {"u", "u", ""}},   {"u@", {"u", ""}},
      {"@.x.", {"", "", "x", ""}}, {"a@b@c", {"a", "b@c"}},
  };
  for (ZoStringtable* t : {&table, static_cast<ZoStringtable*>(nullptr)}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(t ? "table: " : "no table: ") + c.address);
      ZoWildcardNode::stack pieces;
      char* buffer = ZoWildcardEmail::allocateNewEmailAddressString(c.address);
      ZoWildcardNode::parseAddress(t, c.address, buffer, pieces);
      std::vector<const ZoIndexedString*> popped;
      while (!pieces.empty()) popped.push_back(ZoWildcardNode::getEmailAddressName(pieces));
      EXPECT_EQ(nullptr, ZoWildcardNode::getEmailAddressName(pieces));
      Strings got;
      for (const auto* p : popped) got.emplace_back(p->getIdentifier());
      EXPECT_EQ(c.topToBottom, got);
      if (t != nullptr && std::string(c.address) == "u") {
        EXPECT_EQ(table.getRef("u"), popped[0]);
        EXPECT_EQ(ZoStringtable::getConstEmptyIndexedString(), popped[2]);
      }
      for (auto it = popped.rbegin(); it != popped.rend(); ++it) pieces.push(*it);
      ZoWildcardEmail::cleanupDomainStack(&pieces, t);
      EXPECT_TRUE(pieces.empty());
      ZoWildcardEmail::freeEmailAddressString(buffer);
    }
  }
  EXPECT_STREQ("", ZoStringtable::getConstEmptyIndexedString()->getIdentifier());
}

TEST(ZoWildcardNode, ParseAddress_AllocatingModeIsLogged) {
  LogCapture capture;
  ZoWildcardNode::stack pieces;
  ZoWildcardNode::parseAddress(nullptr, "*", nullptr, pieces);
  const Strings logged = capture.texts(1);
  ASSERT_EQ(2u, logged.size());
  EXPECT_EQ(
      "ZoWildcardNode::parseAddress forced to allocate new string space: emailAddress = \"*\" "
      "allStrings = \"0\". Memory leak likely as a result; continuing...",
      logged[0]);
  EXPECT_NE(std::string::npos, logged[1].find("emailAddress = \"*@*\""));
  ASSERT_EQ(2u, pieces.size());
  // The arrays behind the pieces are the caller's to free in this mode.
  while (!pieces.empty()) {
    const ZoIndexedString* p = pieces.top();
    pieces.pop();
    EXPECT_STREQ("*", p->getIdentifier());
    delete[] p->getIdentifier();
    ZoStringtable::cleanupReference(p);
  }
}

TEST(ZoWildcardEmail, CleanupDomainStack_FreesOnlyHandlesMadeForTheParse) {
  ZoWildcardEmail::clearLockOnInitQueue();
  ZoStringtable table;
  const ZoIndexedString* element = table.getStringtableRef("e");
  ZoWildcardNode::stack pieces;
  pieces.push(element);
  pieces.push(new ZoIndexedString("wrapper"));
  pieces.push(ZoStringtable::getConstEmptyIndexedString());
  pieces.push(nullptr);
  pieces.push(ZoStringtable::getConstWildcardIndexedString());
  const ZoIndexedString source("copy");
  pieces.push(ZoIndexedString::deepCopy(&source));
  ZoWildcardEmail::cleanupDomainStack(&pieces, nullptr);
  EXPECT_TRUE(pieces.empty());
  EXPECT_STREQ("e", element->getIdentifier());
  EXPECT_STREQ("*", ZoStringtable::getConstWildcardIndexedString()->getIdentifier());
  ZoWildcardEmail::cleanupDomainStack(nullptr, nullptr);
}

// Whole labels only: a "*" stands for one or more labels at the left end of the
// domain, labels left of it are ignored, and a star inside a label or a user
// part is a literal; ASCII letters fold, high bytes do not; a text without
// at-sign reads as text@.text. Odd texts match as they parse.
TEST(ZoWildcardNode, FindMatches_AgreeWithTheModel) {
  const std::string longLabel(5000, 'x');
  std::string manyDots = "u@";
  for (int i = 0; i < 2000; ++i) manyDots += "a.";
  manyDots += "b";
  const Strings addresses = {
      "",          "@",      "@@",    "a@b@c", ".a.",     "a@..",   "a@.b.",
      "\xFF@\xFE", "\xE9",   "*",     "*@",    "@*",      "u@*.a",  "u@" + longLabel,
      manyDots,    "u@a.b.", "U@A.B", "..@..", "*.*@*.*", "u@a..b", " u @ a . b ",
      // the longest text parsed in place, and the two after it
      "u@a." + std::string(251, 'x'), "u@a." + std::string(252, 'x'), "u@a." + std::string(253, 'x'),
      "u@a.b",     "u@x.a.b", "v@a.b", "*@*.a.b", "u@c.*.a.b", "u@zz.a.b", "a@b*.c", "a@bx.c",
      "a*@b.c",    "ab@b.c",  "u",     "u@",      "u@a@b.c",   "\xC3\xA9@x.y", "\xC3\x89@x.y"};
  // Patterns built from the same odd texts, plus ordinary ones.
  std::vector<quor::test::Pattern> patterns;
  for (size_t i = 0; i < addresses.size(); ++i) patterns.push_back({addresses[i], 1u << (i % 6)});
  patterns.push_back({"*", 8});
  patterns.push_back({"u@*", 4});
  expectLikeOracle(kModes, patterns, addresses);
}

// Nodes with more children and leaves than are searched without an index
// (the root's wildcard node, a domain's leaves, a label's children, hundreds
// of children with unevenly spread ordinals and labels met again), built in
// every mode: on a table locked early some have private copies among
// numbered ones, and late additions take places among numbered ones.
TEST(ZoWildcardNode, FindMatches_IndexedNodesAgreeWithTheModel) {
  std::vector<quor::test::Pattern> patterns;
  Strings addresses = {"w40@a.b", "w@c40.b", "w@b"}, others, present;
  for (int i = 0; i < 30; ++i) {
    const std::string n = std::to_string(i);
    patterns.push_back({"w" + n + "@*", 1u << (i % 6)});
    patterns.push_back({"w" + n + "@a.b", 1u << ((i + 1) % 6)});
    patterns.push_back({"w@c" + n + ".b", 1u << ((i + 2) % 6)});
    // On the early table the first twenty labels under "e" carry ordinals, the
    // rest are private copies, each met again at once.
    const std::string label = "d" + n + (i < 20 ? "0" : "1");
    patterns.push_back({"w@" + label + ".e", 1});
    patterns.push_back({"x@" + label + ".e", 2});
    addresses.insert(addresses.end(), {"w" + n + "@a.b", "w" + n + "@x.y", "w@c" + n + ".b",
                                       "w@" + label + ".e", "x@" + label + ".e"});
  }
  // Clusters of similar labels, with texts that no child has between them.
  for (int i = 0; i < 600; ++i) {
    const std::string label =
        (i % 7 == 0 ? "a" : (i % 5 == 0 ? "zz" : "m")) + std::to_string(i * 37 % 600);
    (i % 3 == 0 ? present : others).push_back(label);
    for (const char* prefix : {"a", "zz", "m", "b"})
      addresses.push_back("u@" + std::string(prefix) + std::to_string(i) + ".com");
  }
  for (const char* user : {"u@", "v@"})
    for (const auto& label : present) patterns.push_back({user + label + ".com", 1});
  for (const auto& label : present) addresses.push_back("v@" + label + ".com");
  const Mode modes[] = {Mode::Floating, Mode::Unlocked, Mode::Locked, Mode::EarlyTable,
                        Mode::LateAdds};
  expectLikeOracle(modes, patterns, addresses, others);
}

// A node with many children or leaves finds them by name while it is being
// built; pieces a caller parsed without a table (private copies of the
// texts) must still reach the existing child and leaf, not add twins.
TEST(ZoWildcardNode, AddAddressPattern_CallerPiecesReachIndexedElements) {
  ZoWildcardEmail::clearLockOnInitQueue();
  ZoStringtable table;
  ZoWildcardRootNode root(&table, ZoStringtable::getConstEmptyIndexedString());
  for (int i = 0; i < 40; ++i) {  // many children of the root, many leaves of d0
    for (const std::string& a : {"u@d" + std::to_string(i), "u" + std::to_string(i) + "@d0"})
      ASSERT_TRUE(root.addAddressPattern(a.c_str(), NonOverrideableWhitelist, nullptr, nullptr));
  }
  for (const char* address : {"u@d7", "u7@d0"}) {
    ZoWildcardNode::stack pieces;
    char* buffer = ZoWildcardEmail::allocateNewEmailAddressString(address);
    ZoWildcardNode::parseAddress(nullptr, address, buffer, pieces);
    const ZoIndexedString* user = ZoWildcardNode::getEmailAddressName(pieces);
    const ZoIndexedString full(address);
    EXPECT_TRUE(
        root.addAddressPattern(&full, user, pieces, BlacklistSubtraction, nullptr, nullptr));
    pieces.push(user);
    ZoWildcardEmail::cleanupDomainStack(&pieces, nullptr);
    ZoWildcardEmail::freeEmailAddressString(buffer);
  }
  ZoWildcardEmail::initScanTimeMode();
  for (const char* address : {"u@d7", "u7@d0"}) {
    std::vector<ZoListedEmailAddress*> leaves;
    ASSERT_EQ(1u, root.findMatches(address, leaves).size()) << address;
    EXPECT_EQ(NonOverrideableWhitelist | BlacklistSubtraction, leaves[0]->getMembership())
        << address;
  }
}

}  // namespace
