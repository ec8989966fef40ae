// QuorNamedObj creation, change and content reads on real databases: texts
// with quotes and lengths beyond 8 KB come back unchanged (other bytes are
// the database layer's to escape, and its tests check them), a changed kind
// moves the object to the lists of that kind; failures give the documented
// results and messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "EntityUtils.h"
#include "QuorNamedObj.h"
#include "policyobj/PolicyWorld.h"
#include "support/LogCapture.h"

namespace quor::test {
namespace {

using QUOR::RdbmsInterface;
using Entries = std::vector<LogEntry>;

constexpr unsigned kInvalid = 0xFFFFFFFFu;

std::string repeated(const std::string& piece, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i) out += piece;
  return out;
}

class NamedObjStore : public PolicyDbTest {};
QUOR_POLICY_DB_SUITE(NamedObjStore);

TEST_P(NamedObjStore, AddAndModify_RoundTripTextsUnchanged) {
  loadWorld();
  struct Case {
    const char* name;
    std::string objectName;
    std::string content;
    std::string newName;
    std::string newContent;
    bool inCallerTransaction = false;
  };
  // 700 pieces of 16 bytes: about 11 KB before escaping, 22 KB when modified.
  const std::string big = repeated("it's 100%; é--\n", 700);
  const Case cases[] = {
      {"quotes", "O'Brien's list", "it's 'quoted'", "O''Neil", "''"},
      {"beyond 8 KB", "big", big, "bigger", big + big},
      {"inside the caller's transaction", "t", "c", "t2", "c2", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RdbmsInterface db;
    unsigned id = 0;
    ASSERT_TRUE(QuorNamedObj::add(db, 2, c.objectName.c_str(), c.content.c_str(), QuorNamedObj::AddressGroupList, id));
    ASSERT_NE(kInvalid, id);
    std::string content;
    std::string name;
    ASSERT_TRUE(QuorNamedObj::getBlob(db, id, content, name));
    EXPECT_EQ(c.objectName, name);
    EXPECT_EQ(c.content, content);
    EXPECT_EQ("1 3 2", _db->scalar("SELECT MIN(entity_id) || ' ' || MAX(entity_id) || ' ' || COUNT(*) AS v "
                                   "FROM entity_named_objects WHERE object_id = " + std::to_string(id)));

    if (c.inCallerTransaction) {
      ASSERT_TRUE(db.startTransaction());
    }
    EXPECT_TRUE(QuorNamedObj::modify(db, id, 777, c.newName.c_str(), c.newContent.c_str(),
                                     QuorNamedObj::QuarantineArea));
    if (c.inCallerTransaction) {
      ASSERT_TRUE(db.commitTransaction());
    }
    ASSERT_TRUE(QuorNamedObj::getContentBlob(db, id, content, name));
    EXPECT_EQ(c.newName, name);
    EXPECT_EQ(c.newContent, content);
    EXPECT_EQ("3", _db->scalar("SELECT kind AS v FROM named_objects WHERE object_id = " + std::to_string(id)));
    // The root administrator, who sees everything, lists it under its new kind only.
    const auto rootLists = [&](QuorNamedObj::NaObjType kind) {
      std::vector<SummaryNamedObject> summaries;
      EXPECT_TRUE(QuorNamedObj::getIds(db, 1, kind, summaries));
      return std::any_of(summaries.begin(), summaries.end(), [&](const SummaryNamedObject& s) { return s.id == id; });
    };
    EXPECT_TRUE(rootLists(QuorNamedObj::QuarantineArea));
    EXPECT_FALSE(rootLists(QuorNamedObj::AddressGroupList));
  }
}

// SQLite locks the whole database for one writer: a write that meets the
// caller's open write transaction fails, says so, and leaves no lock or
// transaction of its own behind.
TEST_P(NamedObjStore, Writes_FailedForALockLeaveNoTransactionOpen) {
  if (GetParam() != Backend::Sqlite) GTEST_SKIP() << "only SQLite locks the whole database for one writer";
  const auto caller = holdWriteLock();
  RdbmsInterface db;
  LogCapture log;
  std::vector<AddressGroup::AddressGroupMember> list = {{9, "a@b.c"}};
  EXPECT_EQ(0, AddressGroup::addAddressGroup(2, "g", 0, list));
  EXPECT_FALSE(QuorNamedObj::modify(db, 2001, 1, "n", "c", QuorNamedObj::AddressGroupList));
  EXPECT_TRUE(caller->commitTransaction());
  EXPECT_TRUE(db.startTransaction());
  const std::vector<std::string> errors = log.texts(1);
  ASSERT_EQ(2u, errors.size());
  expectFramed(errors[0], "AddressGroup::addAddressGroup Exception \"", "\" thrown for group g.");
  EXPECT_NE(std::string::npos,
            errors[0].find("(the database was locked by another connection's open transaction; waited "))
      << errors[0];
  EXPECT_NE(std::string::npos, errors[0].find(" seconds for it to end)")) << errors[0];
  expectFramed(errors[1], "QuorNamedObj::modifyObj: Exception \"", "\" thrown");
  EXPECT_EQ("3", _db->scalar("SELECT kind AS v FROM named_objects WHERE object_id = 2001"));
}

// The same answers fail an addition for an administrator.
TEST_P(NamedObjStore, AddObj_UnusableAnswersGiveInvalidId) {
  loadWorld();
  struct Case {
    const char* name;
    const char* sql;
    const char* message;
  };
  const Case cases[] = {
      {"id not a number", "SELECT 'abc' AS objectId",
       "QuorNamedObj::addObj: could not retrieve objectId from abc for name:it's; type:5"},
      {"null id", "SELECT NULL AS objectId",
       "QuorNamedObj::addObj: could not retrieve objectId from NULL string for name:it's; type:5"},
      {"no row", "SELECT 1 AS objectId WHERE 1 = 0", "QuorNamedObj::addObj: could not retrieve objectId for name:it's; type:5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    craft("ui_AddNamedObj.sql", c.sql);
    RdbmsInterface db;
    LogCapture log;
    EXPECT_EQ(kInvalid, QuorNamedObj::addObj(db, "it's", "c", QuorNamedObj::AddressGroupList));
    unsigned id = 0;
    EXPECT_FALSE(QuorNamedObj::add(db, 2, "it's", "c", QuorNamedObj::AddressGroupList, id));
    EXPECT_EQ((std::vector<std::string>{c.message, c.message}), log.texts(1));
  }
}

// A statement that fails is caught: each call gives its failure result
// (AddressGroup answers 0 all the same), and one error line names the
// function and, where it does, the statement.
TEST_P(NamedObjStore, FailingStatementsAreCaught) {
  loadWorld();
  craft("ui_GetAllEntities.sql", "SELECT * FROM no_such_table");
  craft("ui_GetEntitiesByType.sql", "SELECT * FROM no_such_table_%d");
  craft("ui_IsAdminRoot_Id.sql", "SELECT * FROM no_such_table_%u");
  craft("ui_AddNamedObj.sql", "INSERT INTO nowhere VALUES (%d, '%s', '%s')");
  craft("ui_ModifyNamedObj.sql", "UPDATE nowhere SET a = %d");
  craft("ui_AddEntityNamedObj.sql", "INSERT INTO nowhere VALUES (%u, %u, %d)");
  craft("ui_GetNamedObjBlob.sql", "SELECT * FROM nowhere WHERE id = %u");
  craft("ui_GetNamedObjRule.sql", "SELECT * FROM no_such_rules");
  craft("ui_GetNamedObjByType.sql", "SELECT * FROM nowhere_%d");
  craft("ui_AddAddressgroup.sql", "INSERT INTO nowhere VALUES (%u, '%s', %u, '%s')");
  craft("ui_ModifyAddressgroup.sql", "INSERT INTO nowhere VALUES (%u, '%s', '%s')");
  craft("ui_GetMemberAddressByAGId.sql", "SELECT * FROM nowhere WHERE g = %u");
  craft("ui_RemoveAddressgroup.sql", "DELETE FROM nowhere WHERE g = %u");
  RdbmsInterface db;
  LogCapture log;
  GroupEntitySet all;
  EXPECT_EQ(1003, EntityUtils::getAllEntities(db, all));
  EXPECT_EQ(1003, EntityUtils::getAllWildcardEntities(db, all));
  EXPECT_FALSE(EntityUtils::isAdminRoot(db, 4));
  EXPECT_EQ(kInvalid, QuorNamedObj::addObj(db, "O'Hara", "c", QuorNamedObj::AddressGroupList));
  EXPECT_EQ(kInvalid, QuorNamedObj::modifyObj(db, "n", "c", QuorNamedObj::AddressGroupList, 1001));
  EXPECT_FALSE(QuorNamedObj::modify(db, 1001, 2, "n", "c", QuorNamedObj::AddressGroupList));
  std::vector<GroupEntity> entities = {{"Sales", static_cast<GroupEntity::EntityType>(0), 1}};
  EXPECT_FALSE(QuorNamedObj::addEntityNamedObjIds(db, 1001, QuorNamedObj::AddressGroupList, entities));
  std::string content = "keep";
  std::string name = "keep";
  EXPECT_FALSE(QuorNamedObj::getBlob(db, 1001, content, name));
  EXPECT_EQ("keep", content);
  EXPECT_EQ(1003, QuorNamedObj::remove(db, 1001, 2));
  QuarantineData area;
  EXPECT_EQ(1003, QuorNamedObj::getOPPQuarantineArea(db, area));
  std::vector<AddressGroup::AddressGroupMember> list = {{9, "a@b.c"}};
  EXPECT_EQ(0, AddressGroup::addAddressGroup(1, "it's", 0, list));
  EXPECT_EQ(0, AddressGroup::modifyAddressGroup(7, "that's", list));
  EXPECT_EQ(0, AddressGroup::getAddressGroupMembersByID(7, list));
  EXPECT_EQ(1u, list.size());
  EXPECT_EQ(0, AddressGroup::deleteAddressGroupByID(7));
  EXPECT_EQ("17", _db->scalar("SELECT COUNT(*) AS v FROM named_objects"));
  // One error line per failing call; the text of each is checked where that
  // call is the subject, the frame once here.
  const std::vector<std::string> errors = log.texts(1);
  ASSERT_EQ(14u, errors.size()) << describe(log.entries());
  expectFramed(errors[6], "QuorNamedObj::addEntityNamedObjIds: Exception \"",
               "\" thrown for statement INSERT INTO nowhere VALUES (1, 1001, 5)");
}

TEST_P(NamedObjStore, GetBlob_MissingRowNullContentAndNullName) {
  struct Case {
    const char* name;
    const char* sql;
    bool ok;
    const char* content;
    const char* message;
  };
  const Case cases[] = {
      {"no row", "SELECT 'c' AS Content, 'n' AS Name WHERE %u = 0", false, "before",
       "QuorNamedObj::getBlob: could not retrieve blob for statement SELECT 'c' AS Content, 'n' AS Name WHERE 1001 = 0"},
      {"null name keeps the caller's", "SELECT 'c' AS Content, NULL AS Name", true, "c", nullptr},
      {"null content", "SELECT NULL AS Content, 'n' AS Name", false, "before",
       "QuorNamedObj::getBlob: could not retrieve Content from NULL string for statement SELECT NULL AS Content, 'n' AS Name"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    craft("ui_GetNamedObjBlob.sql", c.sql);
    RdbmsInterface db;
    std::string content = "before";
    std::string name = "kept";
    LogCapture log;
    EXPECT_EQ(c.ok, QuorNamedObj::getBlob(db, 1001, content, name));
    EXPECT_EQ(c.content, content);
    EXPECT_EQ("kept", name);
    const Entries expected = c.message == nullptr ? Entries{} : Entries{{1, c.message}};
    EXPECT_EQ(expected, log.entries());
  }
}

}  // namespace
}  // namespace quor::test
