#include <gtest/gtest.h>

#include <string>
#include <utility>
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
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pattern);
    EXPECT_EQ(c.want, ZoListedEmailAddress(nullptr, c.pattern, "u").getWeight());
  }
}

TEST(ZoListedEmailAddress, IsStateAllowed_MatchesTheListOfStates) {
  for (std::uint32_t s = 0; s < 256; ++s) {
    SCOPED_TRACE(s);
    EXPECT_EQ(quor::test::naiveStateAllowed(s), ZoListedEmailAddress::isStateAllowed(m(s)));
  }
}

// Steps of add ('+'), remove ('-') or lock ('L'); after each, the state and
// the six per-bit predicates are checked.
TEST(ZoListedEmailAddress, Membership_MergesOnlyIntoAllowedStates) {
  struct Step {
    char op;
    std::uint32_t value;
    bool ok;
    std::uint32_t after;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"1 then 16 then 2", {{'+', 1, true, 1}, {'+', 16, true, 17}, {'+', 2, false, 17}}},
      {"4 then 32", {{'+', 4, true, 4}, {'+', 32, false, 4}}},
      {"64 never", {{'+', 64, false, 0}, {'+', 65, false, 0}}},
      {"0 changes nothing", {{'+', 0, true, 0}, {'+', 8, true, 8}, {'+', 0, true, 8}}},
      {"subtractions", {{'+', 16, true, 16}, {'+', 32, true, 48}, {'+', 1, false, 48}}},
      {"remove, then locked",
       {{'+', 17, true, 17},
        {'-', 16, true, 1},
        {'L', 0, true, 1},
        {'+', 16, false, 1},
        {'-', 1, false, 1},
        {'+', 0, false, 1}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ZoListedEmailAddress leaf(nullptr, "u@a.b", "u");
    for (const auto& s : c.steps) {
      SCOPED_TRACE(std::string(1, s.op) + std::to_string(s.value));
      if (s.op == 'L') {
        leaf.lock();
      } else {
        EXPECT_EQ(s.ok,
                  s.op == '+' ? leaf.addMembership(m(s.value)) : leaf.removeMembership(m(s.value)));
      }
      EXPECT_EQ(s.after, static_cast<std::uint32_t>(leaf.getMembership()));
    }
  }
}

// A leaf whose name a subclass has dropped.
class NamelessLeaf : public ZoListedEmailAddress {
 public:
  NamelessLeaf() : ZoListedEmailAddress(nullptr, "u@a.b", "u") { std::swap(_kept, _name); }
  ~NamelessLeaf() override { std::swap(_kept, _name); }

 private:
  const ZoIndexedString* _kept = nullptr;
};

// matchName takes the user or the whole pattern; == compares the name only.
TEST(ZoListedEmailAddress, MatchName_PlainLeafMatchesUserOrPattern) {
  ZoListedEmailAddress plain(nullptr, "u@a.b", "u");
  ZoWildcardedEmailAddress wild(nullptr, "*@a.b", "*");
  const ZoListedEmailAddress& wildBase = wild;  // still matches anything through the base
  const NamelessLeaf nameless;
  EXPECT_TRUE(plain == ZoListedEmailAddress(nullptr, "u@a.b", "other"));
  EXPECT_FALSE(plain == wildBase);
  for (const char* name : {"u", "u@a.b", "v", "U", "", "a.b"}) {
    SCOPED_TRACE(name);
    const bool want = std::string(name) == "u" || std::string(name) == "u@a.b";
    const ZoIndexedString h(name);
    EXPECT_EQ(want, plain.matchName(name));
    EXPECT_EQ(want, plain.matchName(h));
    EXPECT_EQ(std::string(name) == "u", plain == h);
    EXPECT_EQ(std::string(name) == "u", plain == name);
    EXPECT_TRUE(wildBase.matchName(name));
    EXPECT_TRUE(wildBase.matchName(h));
    EXPECT_FALSE(nameless.matchName(name));
    EXPECT_FALSE(nameless.matchName(h));
  }
}

TEST(ZoListedEmailAddress, AddRelatedPolicyOwner_LogsAtLevelFour) {
  ZoListedEmailAddress leaf(nullptr, "*@a.b", "*");
  std::string owner = "policy-1";
  LogCapture capture;
  leaf.addRelatedPolicyOwner(nullptr);
  leaf.addRelatedPolicyOwner(&owner);
  leaf.addRelatedPolicyOwner(&owner);
  EXPECT_EQ(3u, capture.texts(4).size());  // a progress trace per call
  ASSERT_EQ(2u, leaf.getRelatedPolicyOwners()->size());
  EXPECT_EQ(&owner, (*leaf.getRelatedPolicyOwners())[1]);
}

}  // namespace
