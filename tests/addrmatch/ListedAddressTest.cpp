#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "NaiveOracle.h"
#include "ZoListedEmailAddress.h"
#include "ZoWildcardEmail.h"
#include "support/LogCapture.h"

namespace {

using quor::test::LogCapture;

ZoEmailBelongsTo m(std::uint32_t v) { return static_cast<ZoEmailBelongsTo>(v); }

TEST(ZoListedEmailAddress, Weight_RanksSpecificity) {
  struct Case {
    const char* pattern;
    std::uint32_t want;
  };
  const Case cases[] = {
      {"u@a.b", 5003},   {"*@a.b", 4003}, {"u@*.a.b", 3003},   {"*@*.a.b", 2003}, {"u@*", 1001},
      {"*@*", 1},        {"*", 1},        {"u@c.*.a.b", 3004}, {"plain", 5003},   {"u@", 5002},
      {"x*@a*.b", 5003}, {"*@*.*", 1},    {"@", 5002},
  };
  ZoStringtable table;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    ZoListedEmailAddress floating(nullptr, c.pattern, "u");
    EXPECT_EQ(c.want, floating.getWeight());
    EXPECT_EQ(quor::test::naiveWeight(c.pattern), floating.getWeight());
    ZoListedEmailAddress interned(&table, c.pattern, "u");
    EXPECT_EQ(c.want, interned.getWeight());
  }
  ZoWildcardEmail::clearLockOnInitQueue();
}

TEST(ZoListedEmailAddress, IsStateAllowed_MatchesTheListOfStates) {
  const std::vector<std::uint32_t> allowed = {0, 1, 2, 4, 8, 16, 32, 17, 33, 18, 34, 20, 40, 48};
  for (std::uint32_t s = 0; s < 256; ++s) {
    SCOPED_TRACE(s);
    const bool want = std::find(allowed.begin(), allowed.end(), s) != allowed.end();
    EXPECT_EQ(want, ZoListedEmailAddress::isStateAllowed(m(s)));
  }
}

TEST(ZoListedEmailAddress, Membership_MergesOnlyIntoAllowedStates) {
  struct Step {
    std::uint32_t add;
    bool ok;
    std::uint32_t after;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"1 then 16 then 2", {{1, true, 1}, {16, true, 17}, {2, false, 17}}},
      {"4 then 32", {{4, true, 4}, {32, false, 4}}},
      {"8 then 16", {{8, true, 8}, {16, false, 8}}},
      {"white then black", {{1, true, 1}, {2, false, 1}}},
      {"overrideable pair", {{4, true, 4}, {8, false, 4}}},
      {"64 never", {{64, false, 0}, {65, false, 0}}},
      {"0 changes nothing", {{0, true, 0}, {8, true, 8}, {0, true, 8}}},
      {"subtractions", {{16, true, 16}, {32, true, 48}, {1, false, 48}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ZoListedEmailAddress leaf(nullptr, "u@a.b", "u");
    for (const auto& s : c.steps) {
      EXPECT_EQ(s.ok, leaf.addMembership(m(s.add))) << s.add;
      EXPECT_EQ(s.after, static_cast<std::uint32_t>(leaf.getMembership()));
    }
  }
}

TEST(ZoListedEmailAddress, Membership_RemoveAndLock) {
  ZoListedEmailAddress leaf(nullptr, "u@a.b", "u");
  ASSERT_TRUE(leaf.addMembership(m(17)));
  EXPECT_TRUE(leaf.removeMembership(m(16)));
  EXPECT_EQ(1u, static_cast<std::uint32_t>(leaf.getMembership()));
  leaf.lock();
  EXPECT_FALSE(leaf.addMembership(m(16)));
  EXPECT_FALSE(leaf.removeMembership(m(1)));
  EXPECT_FALSE(leaf.addMembership(m(0)));
  EXPECT_EQ(1u, static_cast<std::uint32_t>(leaf.getMembership()));
}

TEST(ZoListedEmailAddress, MembershipTests_EachAnswersForItsOwnBit) {
  const std::uint32_t bits[] = {1, 2, 4, 8, 16, 32};
  for (std::uint32_t bit : bits) {
    SCOPED_TRACE(bit);
    ZoListedEmailAddress leaf(nullptr, "u@a.b", "u");
    ASSERT_TRUE(leaf.addMembership(m(bit)));
    EXPECT_EQ(bit == 1, leaf.inNonOverrideableWhitelist());
    EXPECT_EQ(bit == 2, leaf.inNonOverrideableBlacklist());
    EXPECT_EQ(bit == 4, leaf.inOverrideableBlacklist());
    EXPECT_EQ(bit == 8, leaf.inOverrideableWhitelist());
    EXPECT_EQ(bit == 16, leaf.inWhitelistSubtraction());
    EXPECT_EQ(bit == 32, leaf.inBlacklistSubraction());
  }
}

TEST(ZoListedEmailAddress, MatchName_PlainLeafMatchesUserOrPattern) {
  ZoListedEmailAddress plain(nullptr, "u@a.b", "u");
  ZoWildcardedEmailAddress wild(nullptr, "*@a.b", "*");
  struct Case {
    const char* name;
    bool plain;
  };
  const Case cases[] = {{"u", true},  {"u@a.b", true}, {"v", false},
                        {"U", false}, {"", false},     {"a.b", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ZoIndexedString h(c.name);
    EXPECT_EQ(c.plain, plain.matchName(c.name));
    EXPECT_EQ(c.plain, plain.matchName(h));
    EXPECT_TRUE(wild.matchName(c.name));
    EXPECT_TRUE(wild.matchName(h));
  }
  // Through the base class, the wildcard leaf still matches anything.
  const ZoListedEmailAddress& base = wild;
  EXPECT_TRUE(base.matchName("anyone"));
}

TEST(ZoListedEmailAddress, Texts_OwnedAndCompared) {
  ZoListedEmailAddress a(nullptr, "u@a.b", "u");
  ZoListedEmailAddress b(nullptr, "u@a.b", "x");
  EXPECT_TRUE(a == b);  // same full address
  EXPECT_TRUE(a == "u");
  EXPECT_FALSE(b == "u");
  EXPECT_STREQ("u@a.b", a.getFullAddressAsStr());
  EXPECT_EQ(0xFFFFFFFFu, a.getFullAddressAsPtr()->getIndex());
  EXPECT_TRUE(a.getDirectPolicyOwner());
  EXPECT_STREQ("", a.getOriginalAddress());
  a.setOriginalAddress("U@A.B");
  a.setOriginalAddress(nullptr);
  EXPECT_STREQ("U@A.B", a.getOriginalAddress());
}

TEST(ZoListedEmailAddress, AddRelatedPolicyOwner_LogsAtLevelFour) {
  ZoListedEmailAddress leaf(nullptr, "*@a.b", "*");
  std::string owner = "policy-1";
  LogCapture capture;
  leaf.addRelatedPolicyOwner(nullptr);
  leaf.addRelatedPolicyOwner(&owner);
  leaf.addRelatedPolicyOwner(&owner);
  const std::vector<std::string> want = {
      "ZoListedEmailAddress::addRelatedPolicyOwner() pNewPolicyOwner is null",
      "ZoListedEmailAddress::addRelatedPolicyOwner() pNewPolicyOwner=policy-1",
      "ZoListedEmailAddress::addRelatedPolicyOwner() pNewPolicyOwner=policy-1"};
  EXPECT_EQ(want, capture.texts(4));
  ASSERT_EQ(2u, leaf.getRelatedPolicyOwners()->size());
  EXPECT_EQ(&owner, (*leaf.getRelatedPolicyOwners())[1]);
}

}  // namespace
