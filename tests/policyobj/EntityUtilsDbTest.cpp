// EntityUtils database reads on real databases: all entities, entities of a
// type, an administrator's entities, and unreadable rows.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "EntityUtils.h"
#include "policyobj/PolicyWorld.h"
#include "support/LogCapture.h"

namespace quor::test {
namespace {

using QUOR::RdbmsInterface;
using Entries = std::vector<LogEntry>;
using Row = std::tuple<std::string, unsigned, unsigned>;  // name, type, id

std::vector<Row> rows(const GroupEntitySet& set) {
  std::vector<Row> out;
  for (const GroupEntity& e : set) out.emplace_back(e.name, static_cast<unsigned>(e.type), e.id);
  return out;
}

class EntityDb : public PolicyDbTest {};
QUOR_POLICY_DB_SUITE(EntityDb);

TEST_P(EntityDb, GetAllEntitiesAndGetEntity_ReadInOrder) {
  loadWorld();
  RdbmsInterface db;
  GroupEntitySet all;
  ASSERT_EQ(0, EntityUtils::getAllEntities(db, all));
  EXPECT_EQ((std::vector<Row>{{"*@*.Org", 6, 10},
                              {"*@*.com", 6, 5},
                              {"*@*.example.com", 6, 3},
                              {"*@Mixed.Example.com", 6, 9},
                              {"*@eu.example.com", 6, 4},
                              {"*@other.org", 6, 8},
                              {"Sales", 0, 1},
                              {"Support", 0, 2},
                              {"ldap://cn=ops", 2, 7}}),
            rows(all));

  GroupEntitySet wildcards;
  GroupEntitySet ldap;
  LogCapture log;
  ASSERT_EQ(0, EntityUtils::getAllWildcardEntities(db, wildcards));
  ASSERT_EQ(0, EntityUtils::getAllLdapEntities(db, ldap));
  EXPECT_EQ(6u, wildcards.size());
  EXPECT_EQ((std::vector<Row>{{"ldap://cn=ops", 2, 7}}), rows(ldap));
  EXPECT_EQ(9u, log.texts(4).size());  // per type one line, then one per entity

  // An administrator's entities come in the order of their positions.
  std::vector<GroupEntity> entities;
  ASSERT_EQ(0, EntityUtils::getEntity(db, 2, entities));
  ASSERT_EQ(2u, entities.size());
  EXPECT_EQ("Sales", entities[0].name);
  EXPECT_EQ(3u, entities[1].id);
  EXPECT_EQ(GroupEntity::Wildcard, entities[1].type);
}

TEST_P(EntityDb, GetAllEntities_BadRowsStopTheReadWithTheirCode) {
  struct Case {
    const char* name;
    const char* sql;
    QuorErrC code;
    const char* message;  // followed by the statement where it ends with "statement "
    std::vector<Row> kept;
  };
  const Case cases[] = {
      {"duplicate name keeps the first",
       "SELECT 1 AS EntityID, 0 AS EntityType, 'a' AS EntityName UNION ALL SELECT 2, 6, 'a'", 0, nullptr,
       {{"a", 0, 1}}},
      {"names differing in case are two", "SELECT 1 AS EntityID, 0 AS EntityType, 'a' AS EntityName UNION ALL SELECT 2, 0, 'A'",
       0, nullptr, {{"A", 0, 2}, {"a", 0, 1}}},
      {"type 8 after a good row", "SELECT 1 AS EntityID, 7 AS EntityType, 'a' AS EntityName UNION ALL SELECT 2, 8, 'b'",
       1007, "EntityUtils::getAllEntities: Invalid entityTypevalue: 8", {{"a", 7, 1}}},
      {"null id", "SELECT NULL AS EntityID, 0 AS EntityType, 'a' AS EntityName", 1002,
       "EntityUtils::getAllEntities: could not retrieve EntityID from NULL string for statement ", {}},
      {"type not a number", "SELECT 1 AS EntityID, 'z' AS EntityType, 'a' AS EntityName", 1002,
       "EntityUtils::getAllEntities: could not retrieve EntityType from z for statement ", {}},
      {"null name", "SELECT 1 AS EntityID, 0 AS EntityType, NULL AS EntityName", 1002,
       "EntityUtils::getAllEntities: could not retrieve EntityName for statement ", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    craft("ui_GetAllEntities.sql", c.sql);
    RdbmsInterface db;
    GroupEntitySet all;
    LogCapture log;
    EXPECT_EQ(c.code, EntityUtils::getAllEntities(db, all));
    EXPECT_EQ(c.kept, rows(all));
    Entries expected;
    if (c.message != nullptr) {
      const std::string message = c.message;
      expected.push_back({1, message.back() == ' ' ? message + c.sql : message});
    }
    EXPECT_EQ(expected, log.entries());
  }
}

TEST_P(EntityDb, GetEntity_TakesAnyTypeAndRefusesNullNames) {
  craft("ui_GetAdminEntityById.sql", "SELECT 4 AS EntityID, 8 AS EntityType, 'odd' AS EntityName UNION ALL SELECT 5, 1, NULL");
  RdbmsInterface db;
  std::vector<GroupEntity> entities;
  LogCapture log;
  EXPECT_EQ(1002, EntityUtils::getEntity(db, 2, entities));
  ASSERT_EQ(1u, entities.size());
  EXPECT_EQ(8u, static_cast<unsigned>(entities[0].type));
  EXPECT_EQ((Entries{{1, "EntityUtils::getEntity: could not retrieve IdsColEntityName from NULL string"}}),
            log.entries());
}

}  // namespace
}  // namespace quor::test
