// AddressGroup: add, modify, list and delete on real
// databases, with quotes in members, the 6003 path and caught statement
// failures, among them a write that waits for another connection's lock.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "QuorNamedObj.h"
#include "policyobj/PolicyWorld.h"
#include "support/LogCapture.h"

namespace quor::test {
namespace {

using QUOR::RdbmsInterface;
using Entries = std::vector<LogEntry>;
using Member = AddressGroup::AddressGroupMember;

std::vector<Member> members(const std::vector<std::string>& addresses) {
  std::vector<Member> out;
  for (const std::string& a : addresses) out.push_back(Member{9, a});
  return out;
}

std::vector<std::string> addresses(const std::vector<Member>& list) {
  std::vector<std::string> out;
  for (const Member& m : list) out.push_back(m.address);
  return out;
}

class AddressGroupDb : public PolicyDbTest {
 protected:
  std::string groupId(const std::string& name) const {
    return _db->scalar("SELECT object_id AS v FROM named_objects WHERE kind = 5 AND name = '" + name + "'");
  }
};
QUOR_POLICY_DB_SUITE(AddressGroupDb);

TEST_P(AddressGroupDb, AddModifyListDelete_RoundTrip) {
  loadWorld();
  const std::vector<std::string> first = {"a@x.org", "b%c@y.org", "\xC3\xBC@z.de"};
  std::vector<Member> list = members(first);
  ASSERT_EQ(0, AddressGroup::addAddressGroup(2, "O'Brien's group", 10, list));
  const std::string id = groupId("O''Brien''s group");
  ASSERT_NE("<none>", id);
  const unsigned gid = static_cast<unsigned>(std::stoul(id));
  // Linked to alice's entities and to the extra entity.
  EXPECT_EQ("3", _db->scalar("SELECT COUNT(*) AS v FROM entity_named_objects WHERE object_id = " + id));
  EXPECT_EQ("10", _db->scalar("SELECT MAX(entity_id) AS v FROM entity_named_objects WHERE object_id = " + id));
  {
    RdbmsInterface db;
    std::string content;
    std::string name;
    ASSERT_TRUE(QuorNamedObj::getBlob(db, gid, content, name));
    EXPECT_EQ("<mas><ma>a@x.org</ma><ma>b%c@y.org</ma><ma>\xC3\xBC@z.de</ma></mas>", content);
  }
  std::vector<Member> read = members({"kept@before"});
  ASSERT_EQ(0, AddressGroup::getAddressGroupMembersByID(gid, read));
  EXPECT_EQ((std::vector<std::string>{"kept@before", "a@x.org", "b%c@y.org", "\xC3\xBC@z.de"}), addresses(read));
  EXPECT_EQ(0u, read[1].tag);

  std::vector<Member> second = members({"z@q.net"});
  ASSERT_EQ(0, AddressGroup::modifyAddressGroup(gid, "renamed", second));
  read.clear();
  ASSERT_EQ(0, AddressGroup::getAddressGroupMembersByID(gid, read));
  EXPECT_EQ((std::vector<std::string>{"z@q.net"}), addresses(read));
  EXPECT_EQ(id, groupId("renamed"));

  std::vector<Member> none;
  ASSERT_EQ(0, AddressGroup::modifyAddressGroup(gid, "renamed", none));
  read.clear();
  ASSERT_EQ(0, AddressGroup::getAddressGroupMembersByID(gid, read));
  EXPECT_TRUE(read.empty());

  ASSERT_EQ(0, AddressGroup::deleteAddressGroupByID(gid));
  EXPECT_EQ("<none>", groupId("renamed"));
  EXPECT_EQ("0", _db->scalar("SELECT COUNT(*) AS v FROM entity_named_objects WHERE object_id = " + id));
}

TEST_P(AddressGroupDb, AddModify_QuotesInMembersAreStoredAsText) {
  loadWorld();
  struct Case {
    const char* name;
    const char* address;
  };
  const Case cases[] = {
      {"statement in an address", "'); DELETE FROM named_objects; --"},
      {"quote", "o'brien@example.com"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string listText = std::string("<mas><ma>") + c.address + "</ma></mas>";
    LogCapture log;
    std::vector<Member> list = members({c.address});
    ASSERT_EQ(0, AddressGroup::addAddressGroup(2, c.name, 0, list));
    const std::string id = groupId(c.name);
    ASSERT_NE("<none>", id) << describe(log.entries());
    const unsigned gid = static_cast<unsigned>(std::stoul(id));
    ASSERT_EQ(0, AddressGroup::modifyAddressGroup(gid, c.name, list));
    RdbmsInterface db;
    std::string content;
    std::string name;
    ASSERT_TRUE(QuorNamedObj::getBlob(db, gid, content, name));
    EXPECT_EQ(listText, content);
    std::vector<Member> read;
    ASSERT_EQ(0, AddressGroup::getAddressGroupMembersByID(gid, read));
    EXPECT_EQ((std::vector<std::string>{c.address}), addresses(read));
    EXPECT_EQ(Entries{}, log.entries());
  }
  EXPECT_EQ("19", _db->scalar("SELECT COUNT(*) AS v FROM named_objects"));
}

TEST_P(AddressGroupDb, Delete_KeepsAGroupARuleRefersTo) {
  loadWorld();
  ASSERT_EQ(0, AddressGroup::deleteAddressGroupByID(1002));
  EXPECT_EQ("1002", groupId("Bravo"));
}

TEST_P(AddressGroupDb, GetMembers_UnreadableMemberGives6003) {
  craft("ui_GetMemberAddressByAGId.sql",
        "SELECT 'first@x.org' AS MemberAddress, 1 AS o UNION ALL SELECT NULL, 2 ORDER BY o");
  std::vector<Member> read;
  LogCapture log;
  EXPECT_EQ(6003, AddressGroup::getAddressGroupMembersByID(7, read));
  EXPECT_EQ((std::vector<std::string>{"first@x.org"}), addresses(read));
  EXPECT_EQ((Entries{{1,
                      "AddressGroup::getAddressGroupMembersByID: Failed to retrieve member address from group 7 for "
                      "statement SELECT 'first@x.org' AS MemberAddress, 1 AS o UNION ALL SELECT NULL, 2 ORDER BY o."}}),
            log.entries());
}

TEST_P(AddressGroupDb, StatementFailuresAreLoggedAndGiveZero) {
  craft("ui_AddAddressgroup.sql", "INSERT INTO nowhere VALUES (%u, '%s', %u, '%s')");
  craft("ui_ModifyAddressgroup.sql", "INSERT INTO nowhere VALUES (%u, '%s', '%s')");
  craft("ui_GetMemberAddressByAGId.sql", "SELECT * FROM nowhere WHERE g = %u");
  craft("ui_RemoveAddressgroup.sql", "DELETE FROM nowhere WHERE g = %u");
  std::vector<Member> list = members({"a@b.c"});
  LogCapture log;
  EXPECT_EQ(0, AddressGroup::addAddressGroup(1, "it's", 0, list));
  EXPECT_EQ(0, AddressGroup::modifyAddressGroup(7, "that's", list));
  EXPECT_EQ(0, AddressGroup::getAddressGroupMembersByID(7, list));
  EXPECT_EQ(1u, list.size());
  EXPECT_EQ(0, AddressGroup::deleteAddressGroupByID(7));
  const std::vector<std::string> errors = log.texts(1);
  ASSERT_EQ(4u, errors.size());
  const std::pair<std::string, std::string> frames[] = {
      {"AddressGroup::addAddressGroup Exception \"", "\" thrown for group it's."},
      {"AddressGroup::addAddressGroup Exception \"", "\" thrown for group that's."},
      {"AddressGroup::getAddressGroupMembersByID: Exception \"", "\" thrown for group 7."},
      {"AddressGroup::deleteAddressGroupByID: Exception \"", "\" thrown for group 7."},
  };
  for (size_t i = 0; i < errors.size(); ++i) expectFramed(errors[i], frames[i].first, frames[i].second);
}

TEST_P(AddressGroupDb, Add_LogNamesTheCallersOpenWriteTransaction) {
  if (GetParam() != Backend::Sqlite) GTEST_SKIP() << "only SQLite locks the whole database for one writer";
  const auto caller = holdWriteLock();
  std::vector<Member> list = members({"a@b.c"});
  LogCapture log;
  EXPECT_EQ(0, AddressGroup::addAddressGroup(2, "g", 0, list));
  const std::vector<std::string> errors = log.texts(1);
  ASSERT_EQ(1u, errors.size());
  expectFramed(errors[0], "AddressGroup::addAddressGroup Exception \"", "\" thrown for group g.");
  EXPECT_NE(std::string::npos,
            errors[0].find("(the database was locked by another connection's open transaction; waited "))
      << errors[0];
  EXPECT_NE(std::string::npos, errors[0].find(" seconds for it to end)")) << errors[0];
}

TEST_P(AddressGroupDb, WithoutConnectionNothingRuns) {
  loadWorld();
  dropConnections();
  std::vector<Member> list = members({"a@b.c"});
  LogCapture log;
  EXPECT_EQ(0, AddressGroup::addAddressGroup(2, "g", 0, list));
  EXPECT_EQ(0, AddressGroup::getAddressGroupMembersByID(1002, list));
  EXPECT_EQ(1u, list.size());
  EXPECT_EQ(0, AddressGroup::deleteAddressGroupByID(1001));
  EXPECT_EQ((Entries{{1, noConnectionMessage()}, {1, noConnectionMessage()}, {1, noConnectionMessage()}}),
            log.entries());
  EXPECT_EQ("17", _db->scalar("SELECT COUNT(*) AS v FROM named_objects"));
}

}  // namespace
}  // namespace quor::test
