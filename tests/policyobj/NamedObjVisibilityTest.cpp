// QuorNamedObj visibility, editability, deletability and removal on real
// databases, against the organisation of PolicyWorld.h.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EntityUtils.h"
#include "PolicyLog.h"
#include "QuorNamedObj.h"
#include "policyobj/PolicyWorld.h"
#include "support/LogCapture.h"

namespace quor::test {
namespace {

using QUOR::RdbmsInterface;
using Entries = std::vector<LogEntry>;

class NamedObjDb : public PolicyDbTest {};
QUOR_POLICY_DB_SUITE(NamedObjDb);

TEST_P(NamedObjDb, GetIds_ListsWhatEachAdministratorSees) {
  loadWorld();
  struct Case {
    const char* name;
    unsigned admin;
    const char* listing;  // id, E editable, D deletable, name; one line each
  };
  const Case cases[] = {
      {"alice: own, wildcard children and parents, sorted ignoring case", 2,
       "1001 ED alpha\n"
       "1002 E- Bravo\n"
       "1003 -- Charlie\n"
       "1004 ED delta\n"
       "1005 -- echo\n"
       "1006 -- foxtrot\n"
       "1011 ED india\n"
       "1008 ED opp:lower\n"},
      {"bob: group entity only", 3, "1003 -- Charlie\n1013 E- kilo\n"},
      {"carol: parent stored with capitals", 4, "1009 ED golf\n1010 -- hotel\n"},
      {"erin: LDAP entity only", 6, "1012 ED juliet\n"},
      {"root: everything but OPP:, in database order", 1,
       "1001 ED alpha\n1002 E- Bravo\n1003 ED Charlie\n1004 ED delta\n1005 ED echo\n1006 ED foxtrot\n"
       "1008 ED opp:lower\n1009 ED golf\n1010 ED hotel\n1011 ED india\n1012 ED juliet\n1013 E- kilo\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RdbmsInterface db;
    std::vector<SummaryNamedObject> summaries;
    LogCapture log;
    ASSERT_TRUE(QuorNamedObj::getIds(db, c.admin, QuorNamedObj::AddressGroupList, summaries));
    EXPECT_EQ(c.listing, describeSummaries(summaries));
    EXPECT_TRUE(log.texts(1).empty()) << describe(log.entries());
  }
}

TEST_P(NamedObjDb, GetIds_ChildrenPassStartsOverAfterAnAccountedObject) {
  loadWorld();
  RdbmsInterface db;
  std::vector<SummaryNamedObject> summaries;
  LogCapture log;
  ASSERT_TRUE(QuorNamedObj::getIds(db, 2, QuorNamedObj::AddressGroupList, summaries));
  std::string walk;
  for (const std::string& text : log.texts(4)) {
    const std::string head = "_addChildrenNamedObjs: Checking ";
    if (text.rfind(head, 0) == 0 && text.rfind(head + "child ", 0) != 0) walk += text.substr(head.size()) + "\n";
  }
  // delta and india are fully accounted through alice's wildcard children;
  // after each, the walk starts again at the first remaining object.
  EXPECT_EQ(
      "Charlie (id:1003): set size:1\ndelta (id:1004): set size:1\n"
      "Charlie (id:1003): set size:1\necho (id:1005): set size:1\nfoxtrot (id:1006): set size:1\n"
      "golf (id:1009): set size:1\nhotel (id:1010): set size:1\nindia (id:1011): set size:1\n"
      "Charlie (id:1003): set size:1\necho (id:1005): set size:1\nfoxtrot (id:1006): set size:1\n"
      "golf (id:1009): set size:1\nhotel (id:1010): set size:1\njuliet (id:1012): set size:1\n"
      "kilo (id:1013): set size:1\n",
      walk);
}

TEST_P(NamedObjDb, GetIds_SameListWhenNobodyReadsTheProgressTrace) {
  loadWorld();
  RdbmsInterface db;
  std::vector<SummaryNamedObject> summaries;
  PolicyLog::setSink({});  // no listener at the progress level: the walk does not start over
  if (PolicyLog::isLogged(PolicyLog::Progress)) {
    LogCapture restore;
    GTEST_SKIP() << "QUOR_LOG_LEVEL shows progress messages";
  }
  const bool ok = QuorNamedObj::getIds(db, 2, QuorNamedObj::AddressGroupList, summaries);
  LogCapture restoreGuard;  // puts the test guard back when it goes
  ASSERT_TRUE(ok);
  EXPECT_EQ(
      "1001 ED alpha\n1002 E- Bravo\n1003 -- Charlie\n1004 ED delta\n1005 -- echo\n1006 -- foxtrot\n"
      "1011 ED india\n1008 ED opp:lower\n",
      describeSummaries(summaries));
}

TEST_P(NamedObjDb, GetIds_OnTheSampleData) {
  _db->exec(readFile(sqlSourceDir(Backend::Sqlite) + "/sample_data.sql"));
  struct Case {
    const char* name;
    unsigned admin;
    QuorNamedObj::NaObjType kind;
    const char* listing;
  };
  const Case cases[] = {
      {"alice's groups: a wildcard entity with no relative", 2, QuorNamedObj::AddressGroupList, "4 E- VIP senders\n"},
      {"alice's areas", 2, QuorNamedObj::QuarantineArea, "2 E- Sales quarantine\n"},
      {"bob's groups", 3, QuorNamedObj::AddressGroupList, "6 ED Engineering suppliers\n"},
      {"bob's areas", 3, QuorNamedObj::QuarantineArea, "3 E- Engineering quarantine\n"},
      {"root's groups", 1, QuorNamedObj::AddressGroupList,
       "4 E- VIP senders\n5 E- Blocked partners\n6 ED Engineering suppliers\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RdbmsInterface db;
    std::vector<SummaryNamedObject> summaries;
    ASSERT_TRUE(QuorNamedObj::getIds(db, c.admin, c.kind, summaries));
    EXPECT_EQ(c.listing, describeSummaries(summaries));
  }
}

TEST_P(NamedObjDb, GetIds_FailsForAnAdministratorWithoutEntities) {
  loadWorld();
  RdbmsInterface db;
  std::vector<SummaryNamedObject> summaries;
  LogCapture log;
  EXPECT_FALSE(QuorNamedObj::getIds(db, 5, QuorNamedObj::AddressGroupList, summaries));
  EXPECT_TRUE(summaries.empty());
  EXPECT_EQ((Entries{{1, "[Verbose] administrator '5' has no managing group assignments."},
                     {1, "QuorNamedObj::getIds: EntityUtils::getEntity failed (QuorErrC:1002) for admin 5"}}),
            log.entries());
}

TEST_P(NamedObjDb, GetIds_UnreadableListRowsFailTheList) {
  loadWorld();
  struct Case {
    const char* name;
    const char* sql;
    const char* message;  // followed by the statement
  };
  const Case cases[] = {
      {"null entity", "SELECT NULL AS EntityID, 1 AS NamedObjID, 'n' AS Name",
       "QuorNamedObj::_getNamedObjIds: could not retrieve EntityID from NULL string for statement "},
      {"object not a number", "SELECT 1 AS EntityID, 'q' AS NamedObjID, 'n' AS Name",
       "QuorNamedObj::_getNamedObjIds: could not retrieve NamedObjID from q for statement "},
      {"null name", "SELECT 1 AS EntityID, 7 AS NamedObjID, NULL AS Name",
       "QuorNamedObj::_getNamedObjIds: could not retrieve tb_NamedObjID.Name for statement "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    craft("ui_GetEntityNamedObj.sql", c.sql);
    RdbmsInterface db;
    std::vector<SummaryNamedObject> summaries;
    LogCapture log;
    EXPECT_FALSE(QuorNamedObj::getIds(db, 2, QuorNamedObj::AddressGroupList, summaries));
    EXPECT_EQ((Entries{{1, std::string(c.message) + c.sql},
                       {1, "QuorNamedObj::getIds: _getNamedObjIds failed for admin 2"}}),
              log.entries());
  }
}

TEST_P(NamedObjDb, IsEditable_CountsOwnEntitiesOnly) {
  loadWorld();
  struct Case {
    const char* name;
    unsigned admin;
    unsigned object;
    bool editable;
  };
  const Case cases[] = {
      {"all links own", 2, 1002, true},     {"one foreign link", 2, 1003, false},
      {"child link only", 2, 1004, false},  {"parent link", 2, 1005, false},
      {"root", 1, 1003, true},              {"no links", 2, 4242, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RdbmsInterface db;
    EXPECT_EQ(c.editable, QuorNamedObj::isEditable(db, c.admin, c.object));
  }
}

TEST_P(NamedObjDb, Remove_AnswersEveryCode) {
  loadWorld();
  struct Case {
    const char* name;
    unsigned admin;
    unsigned object;
    QuorErrC code;
    bool gone;
  };
  const Case cases[] = {
      {"rule refers, asked before editability", 3, 1002, 6025, false},
      {"not editable", 2, 1003, 6024, false},
      {"child link is not enough", 2, 1004, 6024, false},
      {"removed with its links", 2, 1001, 0, true},
      {"root removes anything unused", 1, 1003, 0, true},
      {"no such object", 2, 4242, 6022, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string id = std::to_string(c.object);
    const std::string links = "SELECT COUNT(*) AS v FROM entity_named_objects WHERE object_id = " + id;
    const std::string linksBefore = _db->scalar(links);
    RdbmsInterface db;
    LogCapture log;
    EXPECT_EQ(c.code, QuorNamedObj::remove(db, c.object, c.admin));
    EXPECT_EQ(c.gone ? "0" : "1", _db->scalar("SELECT COUNT(*) AS v FROM named_objects WHERE object_id = " + id));
    EXPECT_EQ(c.gone ? "0" : linksBefore, _db->scalar(links));
    EXPECT_TRUE(log.texts(1).empty()) << describe(log.entries());
  }
  EXPECT_EQ("0", _db->scalar("SELECT COUNT(*) AS v FROM entity_named_objects WHERE object_id IN (1001, 1003)"));
}

TEST_P(NamedObjDb, Remove_MapsTheRemovalAnswer) {
  loadWorld();
  struct Case {
    const char* name;
    const char* sql;
    QuorErrC code;
    bool noRow;
  };
  const Case cases[] = {
      {"-2", "SELECT -2 AS retId", 6023, false},
      {"-1", "SELECT -1 AS retId", 6022, false},
      {"other value", "SELECT 7 AS retId", 0, false},
      {"no row", "SELECT 1 AS retId WHERE 1 = 0", 1003, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    craft("ui_RemoveNamedObj.sql", c.sql);
    RdbmsInterface db;
    LogCapture log;
    EXPECT_EQ(c.code, QuorNamedObj::remove(db, 1001, 2));
    const Entries wanted =
        c.noRow ? Entries{{1, std::string("uinamedObjectI::remove: No data returned for query ") + c.sql}} : Entries{};
    EXPECT_EQ(wanted, log.entries());
  }
}

TEST_P(NamedObjDb, Remove_FailuresGive1003) {
  loadWorld();
  craft("ui_GetNamedObjRule.sql", "SELECT * FROM no_such_rules");
  {
    RdbmsInterface db;
    LogCapture log;
    EXPECT_EQ(1003, QuorNamedObj::remove(db, 1001, 2));
    const std::vector<std::string> errors = log.texts(1);
    ASSERT_EQ(1u, errors.size());
    expectFramed(errors[0], "uiNamedObjectI::remove: Exception \"", "\" thrown for statement SELECT * FROM no_such_rules");
  }
  dropConnections();
  LogCapture log;
  RdbmsInterface db;
  EXPECT_EQ(1003, QuorNamedObj::remove(db, 1001, 2));
  EXPECT_EQ((Entries{{1, noConnectionMessage()}}), log.entries());
  EXPECT_EQ("1", _db->scalar("SELECT COUNT(*) AS v FROM named_objects WHERE object_id = 1001"));
}

TEST_P(NamedObjDb, WithoutConnection_NothingIsReadOrWritten) {
  dropConnections();
  LogCapture log;
  RdbmsInterface db;
  GroupEntitySet all;
  EXPECT_EQ(0, EntityUtils::getAllEntities(db, all));
  EXPECT_TRUE(all.empty());
  std::vector<SummaryNamedObject> summaries;
  EXPECT_FALSE(QuorNamedObj::getIds(db, 2, QuorNamedObj::QuarantineArea, summaries));
  EXPECT_EQ(0xFFFFFFFFu, QuorNamedObj::addObj(db, "n", "c", QuorNamedObj::QuarantineArea));
  EXPECT_EQ(0u, QuorNamedObj::modifyObj(db, "n", "c", QuorNamedObj::QuarantineArea, 1));
  EXPECT_EQ((Entries{{1, noConnectionMessage()},
                     {1, "EntityUtils::isAdminRoot: No data returned for query " + statement("ui_IsAdminRoot_Id.sql", {"2"})},
                     {1, "[Verbose] administrator '2' has no managing group assignments."},
                     {1, "QuorNamedObj::getIds: EntityUtils::getEntity failed (QuorErrC:1002) for admin 2"},
                     {1, "QuorNamedObj::addObj: could not retrieve objectId for name:n; type:3"}}),
            log.entries());
}

}  // namespace
}  // namespace quor::test
