// AddressGroup: add, modify, list and delete on real databases, with quotes
// in members, and the 6003 path. Failing statements, a missing connection and
// another connection's lock are in the named-object tests.
#include <gtest/gtest.h>

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
