// The decision for one recipient from sender lists bound to entities, on a
// small organisation in each database.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "RdbmsInterface.h"
#include "dataaccess/DbBackends.h"
#include "db/RdbmsTestSupport.h"
#include "lists/db/DbPolicy.h"
#include "lists/db/DbSnapshot.h"
#include "lists/db/SqlitePoll.h"

namespace quor::test {
namespace {

using quor::lists::DbDecision;
using quor::lists::DbPolicy;
using quor::lists::DbPolicyData;

// Entities: 1 *@* and 2 *@example.com and 3 ann@example.com (wildcard),
// 4 Sales (a group entity). Groups, members, bindings:
//   10 *@spam.test         1 nonoverrideable-black
//   11 x@spam.test         3 nonoverrideable-white
//   12 *@partner.test      2 overrideable-white
//   13 *@partner.test      3 white-subtraction
//   14 *@news.test         2 overrideable-black
//   15 Daily@News.test     3 overrideable-white
//   16 *@news.test         4 nonoverrideable-black (decides nothing)
constexpr const char* kOrganisation =
    "INSERT INTO entities (entity_id, entity_name, entity_type) VALUES"
    " (1, '*@*', 6), (2, '*@example.com', 6), (3, 'ann@example.com', 6), (4, 'Sales', 1);"
    "INSERT INTO named_objects (object_id, kind, name) VALUES (10, 5, 'spam'), (11, 5, 'ann x'),"
    " (12, 5, 'partners'), (13, 5, 'ann no partners'), (14, 5, 'news'), (15, 5, 'ann daily'),"
    " (16, 5, 'sales news');"
    "INSERT INTO address_group_members (group_id, position, address) VALUES"
    " (10, 0, '*@spam.test'), (11, 0, 'x@spam.test'), (12, 0, '*@partner.test'),"
    " (13, 0, '*@partner.test'), (14, 0, '*@news.test'), (15, 0, 'Daily@News.test'),"
    " (16, 0, '*@news.test');"
    "INSERT INTO entity_list_bindings (entity_id, group_id, membership, position) VALUES"
    " (1, 10, 'nonoverrideable-black', 0), (3, 11, 'nonoverrideable-white', 0),"
    " (2, 12, 'overrideable-white', 0), (3, 13, 'white-subtraction', 1),"
    " (2, 14, 'overrideable-black', 1), (3, 15, 'overrideable-white', 2),"
    " (4, 16, 'nonoverrideable-black', 0)";

class DbPolicyTest : public ::testing::TestWithParam<Backend> {};

TEST_P(DbPolicyTest, BroadestScopeFirstThenMostSpecificSenderPattern) {
  TestDatabase db(GetParam(), "DbPolicyOrder");
  QUOR_REQUIRE_DATABASE(db);
  InstallRoot root(GetParam(), &db);
  root.writeDatabaseIni(root.standardIni());
  ASSERT_TRUE(QUOR::RdbmsInterface::Init(nullptr, nullptr, nullptr, nullptr));
  db.exec(kOrganisation);
  DbPolicyData data;
  {
    QUOR::RdbmsInterface unit;
    data = quor::lists::readDbPolicy(unit);
  }
  EXPECT_LT(0, data.version) << "the triggers count the changes";
  db.exec("UPDATE named_objects SET name = 'spam!' WHERE object_id = 10");
  EXPECT_LT(data.version, std::stoll(db.scalar("SELECT version AS v FROM policy_version")));
  if (GetParam() == Backend::Sqlite) {  // PostgreSQL notifies instead
    QUOR::RdbmsInterface unit;
    const auto changes = quor::lists::readPolicyChanges(unit, data.version);
    ASSERT_EQ(1u, changes.size());
    EXPECT_EQ("named_objects 10", changes[0].payload);
  }

  const std::unique_ptr<const DbPolicy> policy = DbPolicy::build(data);
  struct Case {
    const char* sender;
    const char* recipient;
    ZoBlackWhiteListResult result;
    unsigned entity;
    unsigned group;
    const char* pattern;
    const char* membership;
  };
  const Case cases[] = {
      // A broader non-overrideable black entry beats a narrower white one.
      {"x@spam.test", "ann@example.com", Blacklisted, 1, 10, "*@spam.test",
       "nonoverrideable-black"},
      // A narrower subtraction takes back a broader overrideable entry.
      {"bob@partner.test", "ann@example.com", NotListed, 0, 0, "", ""},
      {"bob@partner.test", "carl@example.com", Whitelisted, 2, 12, "*@partner.test",
       "overrideable-white"},
      // The most specific sender pattern wins among overrideable entries.
      {"DAILY@news.test", "ann@example.com", Whitelisted, 3, 15, "daily@news.test",
       "overrideable-white"},
      {"other@news.test", "ann@example.com", Blacklisted, 2, 14, "*@news.test",
       "overrideable-black"},
      // *@* covers every recipient; the group entity's list decides nothing.
      {"x@spam.test", "ann@example.org", Blacklisted, 1, 10, "*@spam.test",
       "nonoverrideable-black"},
      {"daily@news.test", "ann@example.org", NotListed, 0, 0, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.sender) + " to " + c.recipient);
    const DbDecision d = policy->decide(c.sender, c.recipient);
    EXPECT_EQ(c.result, d.result);
    EXPECT_EQ(c.result != NotListed, d.listed);
    EXPECT_EQ(c.entity, d.entity);
    EXPECT_EQ(c.group, d.group);
    EXPECT_EQ(c.pattern, d.pattern);
    EXPECT_EQ(c.membership, d.membership);
  }
  ASSERT_EQ(1u, policy->inert().size());
  EXPECT_EQ(16u, policy->inert()[0].group);
}

INSTANTIATE_TEST_SUITE_P(Backends, DbPolicyTest, ::testing::ValuesIn(allBackends()),
                         [](const ::testing::TestParamInfo<Backend>& param) {
                           return std::string(backendName(param.param));
                         });

TEST(DbPolicy, RecipientCoveredByNoEntityIsNotListed) {
  DbPolicyData data;
  data.entities = {{2, "*@example.com", 6}};
  data.bindings = {{2, 10, "spam", "nonoverrideable-black", 0}};
  data.members[10] = {"*@spam.test"};
  const std::unique_ptr<const DbPolicy> policy = DbPolicy::build(data);
  EXPECT_EQ(Blacklisted, policy->decide("x@spam.test", "ann@example.com").result);
  const DbDecision d = policy->decide("x@spam.test", "ann@example.org");
  EXPECT_EQ(NotListed, d.result);
  EXPECT_EQ(0u, d.scopes);
}

TEST(DbPolicy, PartialBuildSharesTheTreesOfGroupsNotRead) {
  DbPolicyData data;
  data.entities = {{2, "*@example.com", 6}};
  data.bindings = {{2, 10, "spam", "nonoverrideable-black", 0},
                   {2, 11, "vip", "overrideable-white", 1}};
  data.members[10] = {"*@spam.test"};
  data.members[11] = {"boss@vip.test"};
  const auto first = DbPolicy::build(data);
  // Group 11 changed and was read again; group 10 was not read.
  DbPolicyData changed = data;
  changed.partial = true;
  changed.members = {{11, {"new@vip.test"}}};
  const auto second = DbPolicy::build(changed, first.get());
  ASSERT_NE(nullptr, second);
  struct Case {
    const char* sender;
    ZoBlackWhiteListResult result;
  };
  const Case cases[] = {
      {"x@spam.test", Blacklisted}, {"new@vip.test", Whitelisted}, {"boss@vip.test", NotListed}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sender);
    EXPECT_EQ(c.result, second->decide(c.sender, "ann@example.com").result);
  }
  EXPECT_EQ(2u, second->entries());
  // Group 10 bound with a membership it had no tree for: a full read is needed.
  changed.bindings.push_back({2, 10, "spam", "overrideable-black", 2});
  EXPECT_EQ(nullptr, DbPolicy::build(changed, first.get()));
}

TEST(DbSnapshot, RoundTripDecidesAlikeAndBrokenFilesAreRefused) {
  TempDir dir;
  const std::string path = dir.path() + "/snapshot.json";
  DbPolicyData data;
  data.version = 42;
  data.entities = {{2, "*@example.com", 6}, {4, "Sales", 1}};
  data.bindings = {{2, 10, "spam \"list\"", "nonoverrideable-black", 3},
                   {4, 10, "spam", "overrideable-white", 0}};
  data.members[10] = {"*@spam.test", "x@y.test"};
  quor::lists::writeDbSnapshot(data, path);
  const DbPolicyData back = quor::lists::readDbSnapshot(path);
  EXPECT_EQ(42, back.version);
  ASSERT_EQ(2u, back.bindings.size());
  EXPECT_EQ("spam \"list\"", back.bindings[0].groupName);
  EXPECT_EQ(3, back.bindings[0].position);
  EXPECT_EQ(data.members, back.members);
  const auto policy = DbPolicy::build(back);
  EXPECT_EQ(Blacklisted, policy->decide("a@spam.test", "ann@example.com").result);
  EXPECT_EQ(1u, policy->inert().size());

  const std::string head = "snapshot " + path + ": ";
  struct Case {
    const char* text;
    std::string error;
  };
  const Case cases[] = {
      {"{\"format\": \"quorpolicy-db-snapshot\", \"policyVersion\": 1",
       head + "not a whole JSON document"},
      {"{\"format\": \"something else\"}", head + "not a snapshot"},
      {"{\"format\": \"quorpolicy-db-snapshot\", \"policyVersion\": 1, \"entities\": [], "
       "\"bindings\": [[2, 10, \"g\", \"overrideable-white\"]], \"members\": {}}",
       head + "a part is missing or malformed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    writeFile(path, c.text);
    try {
      quor::lists::readDbSnapshot(path);
      ADD_FAILURE() << "read";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(c.error, e.what());
    }
  }
  // A snapshot that cannot be written leaves the old file as it was.
  std::filesystem::create_directory(path + ".partial");
  EXPECT_THROW(quor::lists::writeDbSnapshot(data, path), std::runtime_error);
  EXPECT_EQ(cases[2].text, readFile(path));
}

// The poll reports the first version, each change, and the first version
// after a run of failures (which it reports once).
TEST(SqlitePoll, ReportsNewVersionsAndOneFailurePerOutage) {
  const std::vector<long long> reads = {4, 4, -1, -1, 4, 5, 5, 6};  // -1: the read fails
  std::size_t next = 0;
  std::vector<std::string> log;
  quor::lists::SqlitePoll poll(
      [&] {
        const long long v = reads.at(next++);
        if (v < 0) throw std::runtime_error("database is locked");
        return v;
      },
      std::chrono::milliseconds(1),
      {[&](long long v) { log.push_back("changed " + std::to_string(v)); },
       [&](const std::string& why) { log.push_back("failed: " + why); }});
  std::string reported;  // what each poll answers: 1 for a version to load
  for (std::size_t i = 0; i < reads.size(); ++i) reported += poll.poll() ? '1' : '0';
  EXPECT_EQ("10001101", reported);
  // The changes from version 4 to 6 are known only when no version between
  // is missing.
  using quor::lists::changesBetween;
  const std::vector<quor::lists::PolicyChange> rows = {{5, "entities 7"}, {6, "named_objects 10"}};
  EXPECT_EQ((std::vector<std::string>{"entities 7", "named_objects 10"}),
            changesBetween(rows, 4, 6).value_or(std::vector<std::string>{"none"}));
  EXPECT_FALSE(changesBetween(rows, 3, 6).has_value());
  EXPECT_FALSE(changesBetween({rows[1]}, 4, 6).has_value());
  EXPECT_EQ((std::vector<std::string>{"changed 4", "failed: database is locked", "changed 4",
                                      "changed 5", "changed 6"}),
            log);
}

}  // namespace
}  // namespace quor::test
