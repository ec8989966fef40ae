// EntityUtils hierarchy operations: parents and children of wildcard
// entities found through pattern trees, and the LDAP counterparts.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "EntityUtils.h"
#include "strings/detail/LockOnInitQueue.h"
#include "support/LogCapture.h"

namespace quor::test {
namespace {

using Entries = std::vector<LogEntry>;
using Names = std::set<std::string>;

GroupEntitySet candidates(const std::vector<std::string>& names) {
  GroupEntitySet set;
  std::uint32_t id = 1;
  for (const std::string& name : names) set.insert(GroupEntity{name, GroupEntity::Wildcard, id++});
  return set;
}

Names namesOf(const GroupEntitySet& set) {
  Names names;
  for (const GroupEntity& e : set) names.insert(e.name);
  return names;
}

const std::vector<std::string> kCandidates = {
    "*@*.example.com", "*@eu.example.com", "*@*.com", "*@other.org", "*@Mixed.Example.com", "*@*.Org",
    "*@*.EXAMPLE.com",
};

TEST(EntityUtils, WildcardParents_AreCandidatesCoveringTheRoot) {
  struct Case {
    const char* name;
    const char* root;
    Names parents;
  };
  const Case cases[] = {
      {"subdomain entity", "*@eu.example.com", {"*@*.example.com", "*@*.com", "*@*.EXAMPLE.com"}},
      // The root itself and its other-case twin share one leaf: both dropped.
      {"root among candidates", "*@*.example.com", {"*@*.com"}},
      {"parent stored with capitals", "*@other.org", {"*@*.Org"}},
      {"no parent", "*@nowhere.net", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GroupEntitySet all = candidates(kCandidates);
    GroupEntitySet found;
    LogCapture log;
    EXPECT_EQ(0, EntityUtils::getAllWildcardParents(c.root, all, found, false));
    EXPECT_EQ(c.parents, namesOf(found));
    EXPECT_EQ(kCandidates.size(), all.size());
    EXPECT_TRUE(log.texts(1).empty()) << describe(log.entries());
  }
}

TEST(EntityUtils, WildcardChildren_AreCandidatesTheRootCovers) {
  struct Case {
    const char* name;
    const char* root;
    Names children;
  };
  const Case cases[] = {
      // The other-case twin of the root is checked as a candidate and covered.
      {"star label root", "*@*.example.com", {"*@eu.example.com", "*@Mixed.Example.com", "*@*.EXAMPLE.com"}},
      {"wide root", "*@*.com", {"*@*.example.com", "*@eu.example.com", "*@Mixed.Example.com", "*@*.EXAMPLE.com"}},
      {"plain domain root", "*@other.org", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GroupEntitySet all = candidates(kCandidates);
    GroupEntitySet found;
    LogCapture log;
    EXPECT_EQ(0, EntityUtils::getAllWildcardChildren(c.root, all, found, false));
    EXPECT_EQ(c.children, namesOf(found));
    EXPECT_TRUE(log.texts(1).empty()) << describe(log.entries());
  }
}

TEST(EntityUtils, WildcardSearch_RemoveFoundTakesEverythingInFoundFromCandidates) {
  GroupEntitySet all = candidates(kCandidates);
  GroupEntitySet found = candidates({"*@other.org"});  // held before the call
  LogCapture log;
  ASSERT_EQ(0, EntityUtils::getAllWildcardChildren("*@*.example.com", all, found, true));
  EXPECT_EQ((Names{"*@*.example.com", "*@*.com", "*@*.Org"}), namesOf(all));
  EXPECT_EQ((Names{"*@other.org", "*@eu.example.com", "*@Mixed.Example.com", "*@*.EXAMPLE.com"}), namesOf(found));
  EXPECT_TRUE(log.contains(4, "Removing found entry *@other.org from the map"));

  all = candidates(kCandidates);
  found.clear();
  ASSERT_EQ(0, EntityUtils::getAllWildcardParents("*@eu.example.com", all, found, true));
  EXPECT_EQ((Names{"*@eu.example.com", "*@other.org", "*@Mixed.Example.com", "*@*.Org"}), namesOf(all));
}

TEST(EntityUtils, WildcardSearch_EmptyCandidatesAndNullRoot) {
  using Search = QuorErrC (*)(const char*, GroupEntitySet&, GroupEntitySet&, bool);
  struct Case {
    const char* name;
    Search search;
    const char* nullMessage;
  };
  const Case cases[] = {
      {"parents", &EntityUtils::getAllWildcardParents, "EntityUtils::getAllWildcardParents: NULL rootEntity parameter"},
      {"children", &EntityUtils::getAllWildcardChildren,
       "EntityUtils::getAllWildcardChildren: NULL rootEntity parameter"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GroupEntitySet none;
    GroupEntitySet found;
    {
      LogCapture log;
      EXPECT_EQ(0, c.search("*@a.com", none, found, true));
      EXPECT_EQ((Entries{{4, "No entities to add"}}), log.entries());
    }
    GroupEntitySet all = candidates(kCandidates);
    LogCapture log;
    EXPECT_EQ(1004, c.search(nullptr, all, found, true));
    EXPECT_EQ((Entries{{1, c.nullMessage}}), log.entries());
    EXPECT_TRUE(found.empty());
    EXPECT_EQ(kCandidates.size(), all.size());
  }
}

TEST(EntityUtils, WildcardSearch_LeavesNoLockOnInitEntriesBehind) {
  const size_t before = quor::detail::LockOnInitQueue::instance().pending();
  for (int round = 0; round < 3; ++round) {
    GroupEntitySet all = candidates(kCandidates);
    GroupEntitySet found;
    ASSERT_EQ(0, EntityUtils::getAllWildcardParents("*@eu.example.com", all, found, false));
    ASSERT_EQ(0, EntityUtils::getAllWildcardChildren("*@*.com", all, found, true));
    ASSERT_FALSE(found.empty());
  }
  EXPECT_EQ(before, quor::detail::LockOnInitQueue::instance().pending());
}

}  // namespace
}  // namespace quor::test
