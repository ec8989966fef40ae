// EntityUtils::MemberOfWildCardGroup: the string rule for addresses under a
// wildcard group name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EntityUtils.h"
#include "support/LogCapture.h"

namespace quor::test {
namespace {

using Entries = std::vector<LogEntry>;

std::string missingAt(const char* email, const char* group) {
  return std::string("[WARNING]EntityUtils::MemberOfWildCardGroup: missing @ in ") + email + " or " + group;
}

TEST(EntityUtils, MemberOfWildCardGroup_DecidesByUserAndDomainParts) {
  struct Case {
    const char* name;
    const char* group;
    const char* email;
    bool member;
    bool warns;  // the missing-@ warning; a NULL argument logs an error instead
  };
  const Case cases[] = {
      {"any user at the domain, any case", "*@example.com", "User@EXAMPLE.com", true, false},
      {"subdomain of a plain domain", "*@example.com", "user@sub.example.com", false, false},
      {"star label takes subdomains", "*@*.example.com", "u@a.example.com", true, false},
      {"star label takes deep subdomains", "*@*.example.com", "u@b.a.example.com", true, false},
      {"star label not the domain itself", "*@*.example.com", "u@example.com", false, false},
      {"equal plain address", "John@example.com", "john@Example.com", true, false},
      {"longer user part", "john@example.com", "johnny@example.com", false, false},
      {"shorter user part", "john@example.com", "jo@example.com", false, false},
      {"other domain of the same length", "john@example.com", "john@exampla.com", false, false},
      {"longer address domain", "john@example.com", "john@xexample.com", false, false},
      {"star alone", "*", "whoever@wherever", true, false},
      {"star at star", "*@*", "x", true, false},
      {"star without at, matching tail", "*abc", "xabc", false, true},
      {"empty user part", "*@example.com", "@example.com", false, true},
      {"empty group", "", "a@b.c", false, true},
      {"group user part ends early", "jo", "john@example.com", false, true},
      {"null group", nullptr, "a@b.c", true, false},
      {"null address", "*@b.c", nullptr, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log;
    EXPECT_EQ(c.member, EntityUtils::MemberOfWildCardGroup(c.group, c.email));
    Entries wanted;
    if (c.warns) wanted.push_back({2, missingAt(c.email, c.group)});
    if (c.group == nullptr || c.email == nullptr) {
      wanted.push_back({1, "[ERROR]EntityUtils::MemberOfWildCardGroup: NULL group or email addr."});
    }
    EXPECT_EQ(wanted, log.entries()) << describe(log.entries());
  }
}

}  // namespace
}  // namespace quor::test
