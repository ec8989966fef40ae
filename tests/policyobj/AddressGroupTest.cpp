// AddressGroup: add, modify, list and delete on real databases, with quotes
// in members, the 6003 path, and writes that fail half-way leaving nothing
// behind. Failing statements, a missing connection and another connection's
// lock are in the named-object tests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "QuorNamedObj.h"
#include "ZoDataAccess.h"
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

  // Database triggers that fail the statement inserting the member
  // "planted@fail.example" and the one deleting the object named "planted".
  void plantFailures() const {
    const std::vector<std::string> statements =
        GetParam() == Backend::Sqlite
            ? std::vector<std::string>{
                  "CREATE TRIGGER planted_member BEFORE INSERT ON address_group_members"
                  " WHEN NEW.address = 'planted@fail.example' BEGIN SELECT RAISE(ABORT, 'planted'); END",
                  "CREATE TRIGGER planted_removal BEFORE DELETE ON named_objects"
                  " WHEN OLD.name = 'planted' BEGIN SELECT RAISE(ABORT, 'planted'); END"}
            : std::vector<std::string>{
                  "CREATE FUNCTION planted() RETURNS trigger LANGUAGE plpgsql"
                  " AS $$ BEGIN RAISE EXCEPTION 'planted'; END $$",
                  "CREATE TRIGGER planted_member BEFORE INSERT ON address_group_members FOR EACH ROW"
                  " WHEN (NEW.address = 'planted@fail.example') EXECUTE FUNCTION planted()",
                  "CREATE TRIGGER planted_removal BEFORE DELETE ON named_objects FOR EACH ROW"
                  " WHEN (OLD.name = 'planted') EXECUTE FUNCTION planted()"};
    RdbmsInterface db;
    for (const std::string& sql : statements) db.executeSQL(sql.c_str(), ZoDbConnect::ZO_SQL_BATCH);
  }

  // Every named object, entity link and member, one line each.
  static std::string snapshot() {
    std::string out;
    RdbmsInterface db;
    for (const char* sql :
         {"SELECT object_id || '|' || kind || '|' || name || '|' || content AS v FROM "
          "named_objects",
          "SELECT entity_id || '|' || object_id || '|' || kind AS v FROM entity_named_objects",
          "SELECT group_id || '|' || position || '|' || address AS v FROM address_group_members"}) {
      db.executeSQL((std::string(sql) + " ORDER BY v").c_str());
      while (db.fetchNextRow() == 0) out += std::string(db.getColVal("v")) + "\n";
    }
    return out;
  }
};
QUOR_POLICY_DB_SUITE(AddressGroupDb);

TEST_P(AddressGroupDb, AddModifyListDelete_RoundTrip) {
  loadWorld();
  // Quotes, percent signs and a statement in members are stored as text.
  const std::string statement = "'); DELETE FROM named_objects; --";
  std::vector<Member> list = members({"a@x.org", "b%c@y.org", "\xC3\xBC@z.de", statement});
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
    EXPECT_EQ("<mas><ma>a@x.org</ma><ma>b%c@y.org</ma><ma>\xC3\xBC@z.de</ma><ma>" + statement + "</ma></mas>", content);
  }
  std::vector<Member> read = members({"kept@before"});
  ASSERT_EQ(0, AddressGroup::getAddressGroupMembersByID(gid, read));
  EXPECT_EQ((std::vector<std::string>{"kept@before", "a@x.org", "b%c@y.org", "\xC3\xBC@z.de", statement}),
            addresses(read));
  EXPECT_EQ(0u, read[1].tag);

  std::vector<Member> second = members({"o'brien@example.com"});
  ASSERT_EQ(0, AddressGroup::modifyAddressGroup(gid, "renamed", second));
  read.clear();
  ASSERT_EQ(0, AddressGroup::getAddressGroupMembersByID(gid, read));
  EXPECT_EQ((std::vector<std::string>{"o'brien@example.com"}), addresses(read));
  EXPECT_EQ(id, groupId("renamed"));

  std::vector<Member> none;
  ASSERT_EQ(0, AddressGroup::modifyAddressGroup(gid, "renamed", none));
  read.clear();
  ASSERT_EQ(0, AddressGroup::getAddressGroupMembersByID(gid, read));
  EXPECT_TRUE(read.empty());

  ASSERT_EQ(0, AddressGroup::deleteAddressGroupByID(gid));
  EXPECT_EQ("<none>", groupId("renamed"));
  EXPECT_EQ("0", _db->scalar("SELECT COUNT(*) AS v FROM entity_named_objects WHERE object_id = " + id));
  // A group a rule refers to is kept.
  ASSERT_EQ(0, AddressGroup::deleteAddressGroupByID(1002));
  EXPECT_EQ("1002", groupId("Bravo"));
  EXPECT_EQ("17", _db->scalar("SELECT COUNT(*) AS v FROM named_objects"));
}

TEST_P(AddressGroupDb, FailureHalfWay_LeavesEverythingAsItWas) {
  loadWorld();
  // Group 1001 with two members is the one changed and removed; each write
  // fails after its first changes to the tables.
  _db->exec(
      "UPDATE named_objects SET name = 'planted' WHERE object_id = 1001;"
      "INSERT INTO address_group_members (group_id, position, address)"
      " VALUES (1001, 1, 'a@x.org'), (1001, 2, 'b@x.org')");
  plantFailures();
  const std::string before = snapshot();
  ASSERT_NE(std::string::npos, before.find("\n1001|2|b@x.org\n")) << before;
  struct Case {
    const char* name;
    QuorErrC (*write)(std::vector<Member>&);
  };
  const Case cases[] = {
      {"modify",
       [](std::vector<Member>& m) { return AddressGroup::modifyAddressGroup(1001, "changed", m); }},
      {"add",
       [](std::vector<Member>& m) { return AddressGroup::addAddressGroup(2, "added", 10, m); }},
      {"remove", [](std::vector<Member>&) { return AddressGroup::deleteAddressGroupByID(1001); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<Member> list = members({"new@x.org", "planted@fail.example"});
    LogCapture log;
    EXPECT_EQ(0, c.write(list));
    EXPECT_EQ(1u, log.texts(1).size()) << describe(log.entries());
    EXPECT_EQ(before, snapshot());
  }
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

}  // namespace
}  // namespace quor::test
