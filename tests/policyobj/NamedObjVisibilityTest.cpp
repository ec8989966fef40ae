// QuorNamedObj visibility, editability, deletability and removal on real
// databases, against the organisation of PolicyWorld.h.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
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
    ASSERT_TRUE(QuorNamedObj::getIds(db, c.admin, QuorNamedObj::AddressGroupList, summaries));
    EXPECT_EQ(c.listing, describeSummaries(summaries));
  }
  // Without the progress trace one statement reads the objects rules use;
  // when it fails, the per-object pass gives the same flags.
  craft("ui_GetRuleNamedObjIds.sql", "SELECT * FROM nowhere_%d_%d");
  LogCapture guard;  // takes the guard's place, and puts it back
  PolicyLog::setSink([](int, const std::string&) {}, PolicyLog::Warning);
  RdbmsInterface db;
  std::vector<SummaryNamedObject> summaries;
  ASSERT_TRUE(QuorNamedObj::getIds(db, 2, QuorNamedObj::AddressGroupList, summaries));
  EXPECT_EQ(cases[0].listing, describeSummaries(summaries));
}

// Random organisations: wildcard patterns with stars in every place, names
// differing only in case, group and LDAP entities, several links per object,
// rules. A host that does not read the progress trace must get the list, and
// the error and warning messages, of the step-by-step walk.
TEST_P(NamedObjDb, GetIds_SameListAndMessagesWithoutTheProgressTrace) {
  std::mt19937 random(20240601);
  auto pick = [&](std::initializer_list<const char*> from) {
    return std::string(from.begin()[random() % from.size()]);
  };
  for (int world = 0; world < 4; ++world) {
    SCOPED_TRACE("world " + std::to_string(world));
    _db->exec("DELETE FROM rule_named_objects; DELETE FROM rules; DELETE FROM filter_groups;"
              "DELETE FROM entity_named_objects; DELETE FROM named_objects; DELETE FROM admin_entities;"
              "DELETE FROM administrators; DELETE FROM entities");
    std::string sql = "INSERT INTO administrators (admin_id, admin_name, is_root) VALUES (1, 'root', 1)";
    for (int admin = 2; admin <= 6; ++admin) sql += ", (" + std::to_string(admin) + ", 'a" + std::to_string(admin) + "', 0)";
    sql += "; INSERT INTO entities (entity_id, entity_name, entity_type) VALUES ";
    constexpr int kEntities = 40;
    for (int id = 1; id <= kEntities; ++id) {
      std::string name = pick({"*", "u", "U", "*"}) + "@" + pick({"*.", "", "x.*.", "B.", "b."});
      for (int labels = 1 + random() % 2; labels > 0; --labels) name += pick({"*.", "a.", "A.", "b."});
      name += pick({"org", "Org", "*"});
      if (random() % 10 == 0) name = pick({"*", "a", "A"});
      const int type = random() % 8 == 0 ? 0 : (random() % 8 == 0 ? 2 : 6);
      sql += (id > 1 ? ", (" : "(") + std::to_string(id) + ", '" + name + "', " + std::to_string(type) + ")";
    }
    sql += "; INSERT INTO admin_entities (admin_id, entity_id, position) VALUES (2, 1, 0)";
    for (int admin = 2; admin <= 6; ++admin) {
      for (int id = 2; id <= kEntities; ++id) {
        if (random() % 6 == 0) sql += ", (" + std::to_string(admin) + ", " + std::to_string(id) + ", " + std::to_string(random() % 9) + ")";
      }
    }
    sql += "; INSERT INTO filter_groups (filter_id, filter_type, rule_order) VALUES (1, 'content', 1)";
    std::string objects = "; INSERT INTO named_objects (object_id, kind, name, content) VALUES ";
    std::string links = "; INSERT INTO entity_named_objects (entity_id, object_id, kind) VALUES ";
    std::string rules = "; INSERT INTO rules (rule_id, rule_name, filter_id, entity_id, action_object_id) VALUES (1, 'r', 1, 1, NULL)";
    std::string named = "; INSERT INTO rule_named_objects (rule_id, object_id) VALUES (1, 1)";
    for (int id = 1; id <= 300; ++id) {
      const std::string object = std::to_string(id);
      objects += (id > 1 ? ", (" : "(") + object + ", 5, '" + pick({"OPP:", "opp:", "", "", "", ""}) +
                 pick({"alpha", "Alpha", "b", "B", "charlie"}) + "', '')";
      std::vector<int> to;
      for (int n = 1 + random() % 3; n > 0; --n) {
        const int entity = 1 + static_cast<int>(random() % kEntities);
        if (std::find(to.begin(), to.end(), entity) != to.end()) continue;
        to.push_back(entity);
        links += (links.back() == ' ' ? "(" : ", (") + std::to_string(entity) + ", " + object + ", 5)";
      }
      if (random() % 7 == 0) rules += ", (" + std::to_string(id + 1) + ", 'r', 1, 1, " + object + ")";
      if (id > 1 && random() % 7 == 0) named += ", (1, " + object + ")";
    }
    _db->exec(sql + objects + links + rules + named);
    for (unsigned admin = 1; admin <= 6; ++admin) {
      SCOPED_TRACE("admin " + std::to_string(admin));
      // The answer, and the errors and warnings, for a sink with this threshold.
      const auto list = [&](int threshold) {
        Entries messages;
        LogCapture guard;  // takes the guard's place, and puts it back
        PolicyLog::setSink([&](int level, const std::string& text) {
          if (level <= 2) messages.push_back({level, text});
        }, threshold);
        RdbmsInterface db;
        std::vector<SummaryNamedObject> summaries;
        const bool ok = QuorNamedObj::getIds(db, admin, QuorNamedObj::AddressGroupList, summaries);
        return std::make_tuple(ok, describeSummaries(summaries), messages);
      };
      EXPECT_EQ(list(PolicyLog::Progress), list(PolicyLog::Warning));
    }
  }
}

TEST_P(NamedObjDb, WithoutEntities_ListsAdditionsAndAreasFail) {
  loadWorld();
  RdbmsInterface db;
  std::vector<SummaryNamedObject> summaries;
  unsigned id = 77;
  std::vector<QuarantineData> areas;
  LogCapture log;
  EXPECT_FALSE(QuorNamedObj::getIds(db, 5, QuorNamedObj::AddressGroupList, summaries));
  EXPECT_TRUE(summaries.empty());
  EXPECT_FALSE(QuorNamedObj::add(db, 5, "n", "c", QuorNamedObj::AddressGroupList, id));
  EXPECT_EQ(77u, id);
  EXPECT_FALSE(QuorNamedObj::getEditableQuanantineData(db, 5, areas));
  EXPECT_TRUE(areas.empty());
  const LogEntry none = {1, "[Verbose] administrator '5' has no managing group assignments."};
  const LogEntry listFailed = {1, "QuorNamedObj::getIds: EntityUtils::getEntity failed (QuorErrC:1002) for admin 5"};
  EXPECT_EQ((Entries{none, listFailed, none,
                     {1, "QuorNamedObj::add: EntityUtils::getEntity failed (QuorErrC:1002) for admin 5"}, none, listFailed}),
            log.entries());
  EXPECT_EQ("17", _db->scalar("SELECT COUNT(*) AS v FROM named_objects"));
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
  // An unreadable link and a failing statement both fail the question.
  for (const char* sql : {"SELECT NULL AS EntityID WHERE %u > 0", "SELECT * FROM nowhere_%u"}) {
    craft("ui_GetEntityId4NamedObj.sql", sql);
    RdbmsInterface db;
    LogCapture log;
    EXPECT_FALSE(QuorNamedObj::isEditable(db, 2, 1001));
    EXPECT_EQ("QuorNamedObj::isEditable: getEntityIds failed", log.texts(1).back());
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
    EXPECT_EQ(c.code, QuorNamedObj::remove(db, c.object, c.admin));
    EXPECT_EQ(c.gone ? "0" : "1", _db->scalar("SELECT COUNT(*) AS v FROM named_objects WHERE object_id = " + id));
    EXPECT_EQ(c.gone ? "0" : linksBefore, _db->scalar(links));
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

// Without a connection nothing is read or written: each call gives its
// failure result, and every unit of work logs that it found no connection.
TEST_P(NamedObjDb, WithoutConnection_NothingIsReadOrWritten) {
  loadWorld();
  craft("ui_IsAdminRoot_Id.sql", "SELECT is_root AS IsRoot FROM administrators WHERE admin_id = %u");
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
  EXPECT_EQ(1003, QuorNamedObj::remove(db, 1001, 2));
  QuarantineData area;
  EXPECT_EQ(1002, QuorNamedObj::getOPPQuarantineArea(db, area));
  std::string a, b;
  EXPECT_TRUE(QuorNamedObj::test(1, a, b));
  std::vector<AddressGroup::AddressGroupMember> list = {{9, "a@b.c"}};
  EXPECT_EQ(0, AddressGroup::addAddressGroup(2, "g", 0, list));
  EXPECT_EQ(0, AddressGroup::getAddressGroupMembersByID(1002, list));
  EXPECT_EQ(1u, list.size());
  EXPECT_EQ(0, AddressGroup::deleteAddressGroupByID(1001));
  // Five units of work find no connection; the messages are the ones the
  // other tests check, but for the root check's missing row.
  const std::vector<std::string> errors = log.texts(1);
  ASSERT_EQ(9u, log.entries().size());
  ASSERT_EQ(9u, errors.size());
  EXPECT_EQ(5, std::count(errors.begin(), errors.end(), noConnectionMessage()));
  EXPECT_EQ(
      "EntityUtils::isAdminRoot: No data returned for query SELECT is_root AS IsRoot FROM "
      "administrators WHERE admin_id = 2",
      errors[1]);
  EXPECT_EQ("17", _db->scalar("SELECT COUNT(*) AS v FROM named_objects"));
}

}  // namespace
}  // namespace quor::test
