// Administration on the organisation of tests/policyobj/PolicyWorld.h, where
// alice (2) sees 1001 alpha (editable, deletable), 1002 Bravo (editable; a
// rule uses it), 1003 Charlie and 1005 echo (neither), and not bob's 1013.
#include <gtest/gtest.h>

#include <memory>

#include "admin/Administration.h"
#include "admin/LibraryLog.h"
#include "policyobj/PolicyWorld.h"

namespace quor::test {
namespace {

using admin::Outcome;

class AdminDb : public PolicyDbTest {
 protected:
  void SetUp() override {
    PolicyDbTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    loadWorld();
    _router = std::make_unique<admin::LibraryLogRouter>(false);
    _admin = std::make_unique<admin::Administration>();
  }
  void TearDown() override {
    _admin.reset();
    _router.reset();
    PolicyDbTest::TearDown();
  }
  std::string count(const std::string& where) const {
    return _db->scalar("SELECT COUNT(*) AS v FROM named_objects WHERE " + where);
  }

  std::unique_ptr<admin::LibraryLogRouter> _router;
  std::unique_ptr<admin::Administration> _admin;
};

TEST_P(AdminDb, ScopeDecidesWhatMayBeReadChangedAndDeleted) {
  const std::vector<std::string> members = {"a@example.com"};
  struct Case {
    const char* label;
    std::uint32_t group;
    Outcome read, change, remove;
  };
  const Case cases[] = {
      {"outside the scope", 1013, Outcome::kNotVisible, Outcome::kNotVisible, Outcome::kNotVisible},
      {"missing", 99999, Outcome::kNotVisible, Outcome::kNotVisible, Outcome::kNotVisible},
      {"a rule uses it", 1002, Outcome::kOk, Outcome::kOk, Outcome::kRefused},
      {"not editable", 1005, Outcome::kOk, Outcome::kRefused, Outcome::kRefused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    admin::Group group;
    EXPECT_EQ(c.read, _admin->getGroup(2, c.group, group).outcome);
    EXPECT_EQ(c.change, _admin->modifyGroup(2, c.group, "renamed", members).outcome);
    EXPECT_EQ(c.remove, _admin->deleteGroup(2, c.group).outcome);
  }
  EXPECT_EQ("1", count("object_id = 1002"));
  EXPECT_EQ("echo", _db->scalar("SELECT name AS v FROM named_objects WHERE object_id = 1005"));
  EXPECT_EQ("kilo", _db->scalar("SELECT name AS v FROM named_objects WHERE object_id = 1013"));
}

TEST_P(AdminDb, ChangesAreMadeAndRecorded) {
  const std::string name = "<b>\"quoted\" 'x'</b>";
  std::uint32_t id = 0;
  ASSERT_TRUE(_admin->createGroup(2, name, {"o'brien@example.com", "*@x.example"}, id).ok());
  admin::Group group;
  ASSERT_TRUE(_admin->getGroup(2, id, group).ok());
  EXPECT_EQ(name, group.name);
  EXPECT_EQ((std::vector<std::string>{"o'brien@example.com", "*@x.example"}), group.members);
  EXPECT_EQ(Outcome::kNotVisible, _admin->getGroup(3, id, group).outcome);  // bob
  ASSERT_TRUE(_admin->modifyGroup(2, id, "plain", {}).ok());
  ASSERT_TRUE(_admin->deleteGroup(2, id).ok());
  EXPECT_EQ("0", count("object_id = " + std::to_string(id)));

  std::vector<admin::Change> changes;
  EXPECT_EQ(Outcome::kRefused, _admin->changes(2, changes).outcome);
  ASSERT_TRUE(_admin->changes(1, changes).ok());
  ASSERT_EQ(3u, changes.size());
  const std::pair<const char*, const char*> want[] = {
      {"delete address group", "plain"},
      {"modify address group", "plain"},
      {"create address group", "<b>\"quoted\" 'x'</b>"}};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(want[i].first, changes[i].operation);
    EXPECT_EQ(want[i].second, changes[i].objectName);
    EXPECT_EQ("alice", changes[i].adminName);
    EXPECT_EQ(id, changes[i].objectId);
    EXPECT_EQ(20u, changes[i].time.size());
  }
}

TEST_P(AdminDb, BadInputChangesNothing) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"", {"a@example.com"}},
      {"OPP:hidden", {}},
      {"tab\tname", {}},
      {"ok", {"no-at-sign"}},
      {"ok", {"a@"}},
      {"ok", {"a b@example.com"}},
      {"ok", {"x</ma>@example.com"}},
      {"ok", {std::string(250, 'a') + "@example.com"}},
  };
  for (const auto& [name, members] : cases) {
    SCOPED_TRACE(name + " " + (members.empty() ? "" : members[0]));
    std::uint32_t id = 0;
    EXPECT_EQ(Outcome::kBadInput, _admin->createGroup(2, name, members, id).outcome);
    EXPECT_EQ(Outcome::kBadInput, _admin->modifyGroup(2, 1001, name, members).outcome);
  }
  EXPECT_EQ("13", count("kind = 5"));
  EXPECT_EQ("alpha", _db->scalar("SELECT name AS v FROM named_objects WHERE object_id = 1001"));
}

TEST_P(AdminDb, PasswordsAreHashedAndVerified) {
  ASSERT_TRUE(_admin->setPassword("alice", "correct horse").ok());
  EXPECT_EQ(Outcome::kNotVisible, _admin->setPassword("nobody", "x").outcome);
  EXPECT_EQ(0u, _db->scalar("SELECT password_hash AS v FROM administrators WHERE admin_id = 2")
                    .find("$argon2id$"));
  struct Case {
    const char* name;
    const char* password;
    Outcome want;
  } const cases[] = {{"alice", "correct horse", Outcome::kOk},
                     {"alice", "correct horsE", Outcome::kRefused},
                     {"bob", "", Outcome::kRefused},  // no password set
                     {"nobody", "correct horse", Outcome::kRefused}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + "/" + c.password);
    std::uint32_t id = 0;
    EXPECT_EQ(c.want, _admin->signIn(c.name, c.password, id).outcome);
    EXPECT_EQ(c.want == Outcome::kOk ? 2u : 0u, id);
  }
}

QUOR_POLICY_DB_SUITE(AdminDb);

}  // namespace
}  // namespace quor::test
