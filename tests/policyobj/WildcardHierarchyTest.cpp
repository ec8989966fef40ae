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

using Search = QuorErrC (*)(const char*, GroupEntitySet&, GroupEntitySet&, bool);
const Search kParents = &EntityUtils::getAllWildcardParents;
const Search kChildren = &EntityUtils::getAllWildcardChildren;

TEST(EntityUtils, WildcardParentsAndChildren_AreTheCandidatesCoveringOrCovered) {
  struct Case {
    const char* name;
    Search search;
    const char* root;
    Names found;
  };
  const Case cases[] = {
      {"parents of a subdomain entity", kParents, "*@eu.example.com", {"*@*.example.com", "*@*.com", "*@*.EXAMPLE.com"}},
      // The root itself and its other-case twin share one leaf: both dropped.
      {"parents, root among candidates", kParents, "*@*.example.com", {"*@*.com"}},
      {"parent stored with capitals", kParents, "*@other.org", {"*@*.Org"}},
      {"no parent", kParents, "*@nowhere.net", {}},
      // The other-case twin of the root is checked as a candidate and covered.
      {"children of a star label root", kChildren, "*@*.example.com", {"*@eu.example.com", "*@Mixed.Example.com", "*@*.EXAMPLE.com"}},
      {"children of a wide root", kChildren, "*@*.com", {"*@*.example.com", "*@eu.example.com", "*@Mixed.Example.com", "*@*.EXAMPLE.com"}},
      {"children of a plain domain root", kChildren, "*@other.org", {}},
  };
  // No search leaves lock-on-init entries of its pattern trees behind.
  const size_t pending = quor::detail::LockOnInitQueue::instance().pending();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GroupEntitySet all = candidates(kCandidates);
    GroupEntitySet found;
    EXPECT_EQ(0, c.search(c.root, all, found, false));
    EXPECT_EQ(c.found, namesOf(found));
    EXPECT_EQ(kCandidates.size(), all.size());
  }
  EXPECT_EQ(pending, quor::detail::LockOnInitQueue::instance().pending());
}

TEST(EntityUtils, WildcardSearch_RemoveFoundTakesEverythingInFoundFromCandidates) {
  GroupEntitySet all = candidates(kCandidates);
  GroupEntitySet found = candidates({"*@other.org"});  // held before the call
  ASSERT_EQ(0, EntityUtils::getAllWildcardChildren("*@*.example.com", all, found, true));
  EXPECT_EQ((Names{"*@*.example.com", "*@*.com", "*@*.Org"}), namesOf(all));
  EXPECT_EQ((Names{"*@other.org", "*@eu.example.com", "*@Mixed.Example.com", "*@*.EXAMPLE.com"}),
            namesOf(found));

  all = candidates(kCandidates);
  found.clear();
  ASSERT_EQ(0, EntityUtils::getAllWildcardParents("*@eu.example.com", all, found, true));
  EXPECT_EQ((Names{"*@eu.example.com", "*@other.org", "*@Mixed.Example.com", "*@*.Org"}), namesOf(all));
}

TEST(EntityUtils, WildcardSearch_EmptyCandidatesAndNullRoot) {
  struct Case {
    const char* name;
    Search search;
    const char* nullMessage;
    size_t rootOnlyTrace;  // progress lines when the root is the only candidate
  };
  const Case cases[] = {
      // the candidate added to the tree, the number of matches
      {"parents", kParents, "EntityUtils::getAllWildcardParents: NULL rootEntity parameter", 2},
      // the root is passed over as a candidate of itself
      {"children", kChildren, "EntityUtils::getAllWildcardChildren: NULL rootEntity parameter", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GroupEntitySet none;
    GroupEntitySet found;
    {
      LogCapture log;
      EXPECT_EQ(0, c.search("*@a.com", none, found, true));
      EXPECT_EQ(1u, log.texts(4).size());  // the progress line, nothing else
      EXPECT_EQ(1u, log.entries().size());
    }
    {
      GroupEntitySet root = candidates({"*@a.com"});
      LogCapture log;
      EXPECT_EQ(0, c.search("*@a.com", root, found, false));
      EXPECT_EQ(c.rootOnlyTrace, log.texts(4).size());
    }
    GroupEntitySet all = candidates(kCandidates);
    LogCapture log;
    EXPECT_EQ(1004, c.search(nullptr, all, found, true));
    EXPECT_EQ((Entries{{1, c.nullMessage}}), log.entries());
    EXPECT_TRUE(found.empty());
    EXPECT_EQ(kCandidates.size(), all.size());
  }
}

}  // namespace
}  // namespace quor::test
