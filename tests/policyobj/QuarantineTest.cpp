// Quarantine areas: an administrator's areas with content plus the shared
// "OPP:" area, and the search for that area.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "QuorNamedObj.h"
#include "policyobj/PolicyWorld.h"
#include "support/LogCapture.h"

namespace quor::test {
namespace {

using QUOR::RdbmsInterface;
using Entries = std::vector<LogEntry>;

std::string describeAreas(const std::vector<QuarantineData>& areas) {
  std::ostringstream out;
  for (const QuarantineData& a : areas) {
    out << a.id << ' ' << (a.editable ? 'E' : '-') << ' ' << a.name << ": " << a.content << '\n';
  }
  return out.str();
}

class QuarantineDb : public PolicyDbTest {};
QUOR_POLICY_DB_SUITE(QuarantineDb);

TEST_P(QuarantineDb, EditableData_ListsOwnAreasThenTheSharedOne) {
  loadWorld();
  struct Case {
    const char* name;
    unsigned admin;
    const char* listing;
  };
  const Case cases[] = {
      {"alice: all own editable, shared area last and not editable", 2,
       "2002 E quarantine a: content of 2002\n2001 E Quarantine B: content of 2001\n"
       "2003 - OPP:Shared area: content of 2003\n"},
      {"bob: OPP-1 is an ordinary area", 3, "2004 E OPP-1: content of 2004\n2003 - OPP:Shared area: content of 2003\n"},
      {"root", 1,
       "2001 E Quarantine B: content of 2001\n2002 E quarantine a: content of 2002\n2004 E OPP-1: content of 2004\n"
       "2003 - OPP:Shared area: content of 2003\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RdbmsInterface db;
    std::vector<QuarantineData> areas;
    ASSERT_TRUE(QuorNamedObj::getEditableQuanantineData(db, c.admin, areas));
    EXPECT_EQ(c.listing, describeAreas(areas));
  }
}

TEST_P(QuarantineDb, EditableData_WithoutSharedAreaAndForCallersElements) {
  loadWorld();
  _db->exec("DELETE FROM entity_named_objects WHERE object_id = 2003; DELETE FROM named_objects WHERE object_id = 2003");
  RdbmsInterface db;
  std::vector<QuarantineData> areas(1);
  areas[0].id = 1001;  // the caller's element gets its content too
  ASSERT_TRUE(QuorNamedObj::getEditableQuanantineData(db, 3, areas));
  EXPECT_EQ("1001 - : content of 1001\n2004 E OPP-1: content of 2004\n", describeAreas(areas));
}

// The list failing for an administrator without entities is among the
// named-object tests.
TEST_P(QuarantineDb, EditableData_FailsWhenAContentFails) {
  loadWorld();
  craft("ui_GetNamedObjBlob.sql", "SELECT NULL AS Content, NULL AS Name WHERE %u > 0");
  RdbmsInterface db;
  std::vector<QuarantineData> areas;
  LogCapture log;
  EXPECT_FALSE(QuorNamedObj::getEditableQuanantineData(db, 3, areas));
  EXPECT_EQ(2u, areas.size());
  EXPECT_EQ((Entries{{1, "QuorNamedObj::getBlob: could not retrieve Content from NULL string for statement "
                         "SELECT NULL AS Content, NULL AS Name WHERE 2004 > 0"}}),
            log.entries());
}

TEST_P(QuarantineDb, SharedArea_FirstReadableOppRowWins) {
  struct Case {
    const char* name;
    const char* sql;  // rows ordered by o
    QuorErrC code;
    const char* area;  // id, name, content after the call
    std::vector<std::string> messages;
  };
  const Case cases[] = {
      {"prefix is case-sensitive and needs the colon",
       "SELECT 1 AS ID, 'OPP-1' AS Name, 'a' AS Content, 1 AS o UNION ALL SELECT 2, 'opp:1', 'b', 2 "
       "UNION ALL SELECT 3, 'OPP:x', 'c', 3 ORDER BY o",
       0, "3 OPP:x c", {}},
      {"row without content passed over",
       "SELECT 1 AS ID, 'OPP:a' AS Name, NULL AS Content, 1 AS o UNION ALL SELECT 2, 'OPP:b', 'bc', 2 ORDER BY o", 0,
       "2 OPP:b bc", {"QuorNamedObj::getOPPQuarantineArea: could not retrieve Content for statement "}},
      {"bad id ends the search",
       "SELECT 'abc' AS ID, 'OPP:a' AS Name, 'c' AS Content, 1 AS o UNION ALL SELECT '2', 'OPP:b', 'd', 2 ORDER BY o",
       1002, "0 OPP:a ", {"QuorNamedObj::getOPPQuarantineArea: could not retrieve ID from abc for statement "}},
      {"row without name passed over",
       "SELECT 1 AS ID, NULL AS Name, 'c' AS Content, 1 AS o UNION ALL SELECT 2, 'OPP:b', 'd', 2 ORDER BY o", 0,
       "2 OPP:b d", {"QuorNamedObj::getOPPQuarantineArea: could not retrieve Name for statement "}},
      {"none", "SELECT 1 AS ID, 'x' AS Name, 'c' AS Content", 1002, "0  ", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    craft("ui_GetNamedObjByType.sql", c.sql);
    RdbmsInterface db;
    QuarantineData area;
    LogCapture log;
    EXPECT_EQ(c.code, QuorNamedObj::getOPPQuarantineArea(db, area));
    EXPECT_EQ(c.area, std::to_string(area.id) + " " + area.name + " " + area.content);
    Entries wanted;
    for (const std::string& m : c.messages) wanted.push_back({1, m + c.sql});
    EXPECT_EQ(wanted, log.entries());
  }
}

}  // namespace
}  // namespace quor::test
