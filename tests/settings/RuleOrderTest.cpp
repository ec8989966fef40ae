// The manual rule order, the administrator look-up and the policy server
// list: on real databases (SQLite, and PostgreSQL when configured), and on a
// scripted unit of work for faults a real database cannot produce.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RdbmsInterface.h"
#include "ZoDataAccess.h"
#include "dataaccess/DbBackends.h"
#include "db/RdbmsTestSupport.h"
#include "miscUtils.h"
#include "settings/ScriptedRows.h"
#include "settings/detail/DbQueries.h"
#include "support/LogCapture.h"

namespace quor::settings::detail {
namespace {

using quor::test::Backend;
using quor::test::InstallRoot;
using quor::test::LogCapture;
using quor::test::Row;
using quor::test::ScriptedRows;
using quor::test::TestDatabase;
using F = QuorFilter;
using Order = std::vector<QuorFilter::FilterType>;

constexpr const char* kSettingStmt =
    "SELECT setting_value AS value FROM global_settings WHERE section = 'email-scan' AND "
    "setting_key = 'manualRuleOrder'";
constexpr const char* kOrderStmt =
    "SELECT filter_id AS FilterID, rule_order AS RuleOrder, filter_type AS FilterType FROM "
    "filter_groups ORDER BY rule_order, filter_id";

// The library's own quote escaping, for the scripted look-ups.
void escape(const char* in, std::string& buffer, const char*& out) {
  QUOR::RdbmsInterface::escapeData(in, buffer, out);
}

struct Result {
  QuorErrC rc;
  bool manual;
  Order order;
  std::vector<std::string> errors;
};

// The template body on a scripted unit of work.
Result ruleOrder(ScriptedRows& db, const std::string& sqlDir, bool verify) {
  LogCapture log;
  bool manual = true;                // must be reset
  Order order = {F::NRVX};           // must be emptied
  const QuorErrC rc = userDefinedRuleOrder(db, sqlDir.c_str(), manual, order, verify,
                                           [&db](int rank, int id) { verifyFilterRow(db, rank, id); });
  return {rc, manual, order, log.texts(1)};
}

// The exported operation on a unit of work of the test database.
Result ruleOrder(bool verify) {
  QUOR::RdbmsInterface unit;
  LogCapture log;
  bool manual = true;       // must be reset
  Order order = {F::NRVX};  // must be emptied
  const QuorErrC rc = miscUtils::getUserDefinedRuleOrder(unit, manual, order, verify);
  return {rc, manual, order, log.texts(1)};
}

// A fresh database of the backend behind an installation root, with the
// facade initialised on it (without a pool).
class SettingsDb : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    _db = std::make_unique<TestDatabase>(GetParam(), std::string("settings_") + info->name());
    QUOR_REQUIRE_DATABASE(*_db);
    _root = std::make_unique<InstallRoot>(GetParam(), _db.get());
    _root->writeDatabaseIni(_root->standardIni());
    ASSERT_TRUE(QUOR::RdbmsInterface::Init(nullptr, nullptr, nullptr, nullptr));
  }
  void TearDown() override {
    _root.reset();
    _db.reset();
  }
  TestDatabase& db() { return *_db; }

 private:
  std::unique_ptr<TestDatabase> _db;
  std::unique_ptr<InstallRoot> _root;
};

struct GroupRow {
  int id;
  int order;
  const char* name;
};

struct OrderCase {
  const char* name;
  const char* setting;  // nullptr: no row; "<null>": SQL NULL
  std::vector<GroupRow> rows;
  bool verify;
  QuorErrC rc;
  bool manual;
  Order order;
  std::vector<std::string> errors;
};

TEST_P(SettingsDb, RuleOrder_ExpandsGroupsAndVerifiesRows) {
  const std::string missing =
      std::string("miscUtils::getUserDefinedRuleOrder: could not retrieve manualRuleOrder setting "
                  "for statement ") +
      kSettingStmt;
  const OrderCase cases[] = {
      {"no setting", nullptr, {{1, 1, "Virus"}}, true, 1002, false, {}, {missing}},
      {"null setting", "<null>", {{1, 1, "Virus"}}, true, 1002, false, {}, {missing}},
      {"On is off", "On", {{1, 1, "Virus"}}, true, 0, false, {}, {}},
      {"off", "off", {{1, 1, "Virus"}}, true, 0, false, {}, {}},
      {"on without rows", "on", {}, true, 0, true, {}, {}},
      {"4 1 6",
       "on",
       {{4, 1, "Spam"}, {1, 2, "Virus"}, {6, 3, "Other"}},
       true,
       0,
       true,
       {F::SpamGorvo, F::Virus, F::RecipientNo, F::TimeRange, F::Phishing, F::OtherFilter},
       {}},
      {"all six",
       "on",
       {{1, 1, "Virus"},
        {2, 2, "Attachment"},
        {3, 3, "Size"},
        {4, 4, "Spam"},
        {5, 5, "Content"},
        {6, 6, "Other"}},
       true,
       0,
       true,
       {F::Virus, F::AttachmentTrueType, F::AttachmentMimeType, F::AttachmentNameExt,
        F::AttachmentNumber, F::SizeMessage, F::SizeAttachment, F::SpamGorvo, F::ContentSubject,
        F::ContentSubjectBlank, F::ContentBody, F::ContentHeader, F::ContentAttachment,
        F::RecipientNo, F::TimeRange, F::Phishing, F::OtherFilter},
       {}},
      {"invalid id takes a rank",
       "on",
       {{9, 1, "Nine"}, {3, 2, "Size"}},
       true,
       0,
       true,
       {F::SizeMessage, F::SizeAttachment},
       {"miscUtils::getUserDefinedRuleOrder: Invalid filter id 9",
        "miscUtils::_verifyFilterNames: unexpected filter type 9"}},
      {"invalid id unverified",
       "on",
       {{0, 1, "Zero"}, {3, 2, "Size"}},
       false,
       0,
       true,
       {F::SizeMessage, F::SizeAttachment},
       {"miscUtils::getUserDefinedRuleOrder: Invalid filter id 0"}},
      {"order mismatch only",
       "on",
       {{1, 2, "Virus"}},
       true,
       0,
       true,
       {F::Virus},
       {"miscUtils::_verifyFilterNames: expected order 1 != dbOrder 2 for filter: 1; Virus"}},
      {"name mismatch only",
       "on",
       {{1, 1, "virus"}},
       true,
       0,
       true,
       {F::Virus},
       {"miscUtils::_verifyFilterNames: expected name virus for  QuorFilter::Virus"}},
      {"unverified mismatches are silent", "on", {{1, 2, "virus"}}, false, 0, true, {F::Virus}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    db().exec("DELETE FROM global_settings; DELETE FROM filter_groups");
    if (c.setting != nullptr) {
      const std::string value =
          std::string(c.setting) == "<null>" ? "NULL" : std::string("'") + c.setting + "'";
      db().exec("INSERT INTO global_settings (section, setting_key, setting_value) VALUES "
                "('email-scan', 'manualRuleOrder', " + value + ")");
    }
    for (const auto& r : c.rows) {
      db().exec("INSERT INTO filter_groups (filter_id, filter_type, rule_order) VALUES (" +
                std::to_string(r.id) + ", '" + r.name + "', " + std::to_string(r.order) + ")");
    }
    const Result got = ruleOrder(c.verify);
    EXPECT_EQ(c.rc, got.rc);
    EXPECT_EQ(c.manual, got.manual);
    EXPECT_EQ(c.order, got.order);
    EXPECT_EQ(c.errors, got.errors);
  }
}

TEST_P(SettingsDb, RuleOrder_NameMismatchNamesEachGroup) {
  const char* const suffix[] = {"Virus", "Attachment", "Size", "SpamGorvo", "Content", "Other"};
  db().exec("INSERT INTO global_settings (section, setting_key, setting_value) VALUES "
            "('email-scan', 'manualRuleOrder', 'on')");
  for (int id = 1; id <= 6; ++id) {
    SCOPED_TRACE(id);
    db().exec("DELETE FROM filter_groups");
    db().exec("INSERT INTO filter_groups (filter_id, filter_type, rule_order) VALUES (" +
              std::to_string(id) + ", 'Misnamed', 1)");
    const Result got = ruleOrder(true);
    EXPECT_EQ(0, got.rc);
    EXPECT_EQ(std::vector<std::string>{std::string("miscUtils::_verifyFilterNames: expected name "
                                                   "Misnamed for  QuorFilter::") +
                                       suffix[id - 1]},
              got.errors);
  }
}

struct AdminCase {
  const char* name;
  QuorErrC rc;
  unsigned int id;
  std::vector<std::string> errors;
};

TEST_P(SettingsDb, AdminId_ResolvesExactNamesOnly) {
  db().exec("INSERT INTO administrators (admin_id, admin_name) VALUES (1, 'root'); "
            "INSERT INTO administrators (admin_id, admin_name) VALUES (7, 'O''Brien'); "
            "INSERT INTO administrators (admin_id, admin_name) VALUES (-1, 'minus')");
  const AdminCase cases[] = {
      {"root", 0, 1, {}},
      {"O'Brien", 0, 7, {}},
      {"Root", 1002, 555, {}},
      {"nobody", 1002, 555, {}},
      {"' OR '1'='1", 1002, 555, {}},
      {"minus",
       1002,
       555,
       {"miscUtils::_getAdminId: could not retrieve admin ID from -1 for statement SELECT admin_id "
        "AS AdminID FROM administrators WHERE admin_name = 'minus'"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    QUOR::RdbmsInterface unit;
    LogCapture log;
    unsigned int id = 555;
    EXPECT_EQ(c.rc, miscUtils::getAdminId(unit, c.name, id));
    EXPECT_EQ(c.id, id);
    EXPECT_EQ(c.errors, log.texts(1));
  }
}

TEST_P(SettingsDb, PolicyServers_AppendsKindPInIdOrder) {
  db().exec("INSERT INTO components (scanner_id, kind, ip_addr, agent_port) VALUES "
            "(3, 'P', '10.0.0.3', 9003); "
            "INSERT INTO components (scanner_id, kind, ip_addr, agent_port) VALUES "
            "(1, 'P', '10.0.0.1', 9001); "
            "INSERT INTO components (scanner_id, kind, ip_addr, agent_port) VALUES "
            "(2, 'S', '10.0.0.2', 9002)");
  std::vector<PolicyServerInfo> servers(1);
  servers[0].ipAddr = "kept";
  EXPECT_EQ(0, QuorPolicyServerInterface::getPolicyServerInfo(servers));
  ASSERT_EQ(3u, servers.size());
  EXPECT_EQ("kept", servers[0].ipAddr);
  EXPECT_EQ(1u, servers[1].scannerId);
  EXPECT_EQ("10.0.0.1", servers[1].ipAddr);
  EXPECT_EQ(9001u, servers[1].agentPort);
  EXPECT_EQ(3u, servers[2].scannerId);
  EXPECT_EQ("10.0.0.3", servers[2].ipAddr);
  EXPECT_EQ(9003u, servers[2].agentPort);
}

TEST_P(SettingsDb, PolicyServers_DatabaseFailureGives4002) {
  db().exec("DROP TABLE components");
  LogCapture log;
  std::vector<PolicyServerInfo> servers;
  EXPECT_EQ(4002, QuorPolicyServerInterface::getPolicyServerInfo(servers));
  EXPECT_TRUE(servers.empty());
  const auto errors = log.texts(1);
  ASSERT_EQ(1u, errors.size());
  EXPECT_EQ(0u, errors[0].rfind("pszErr=", 0)) << errors[0];
  EXPECT_NE(std::string::npos, errors[0].find("components")) << errors[0];
}

INSTANTIATE_TEST_SUITE_P(Backends, SettingsDb, ::testing::ValuesIn(quor::test::allBackends()),
                         [](const auto& p) { return quor::test::backendName(p.param); });

TEST(QuorPolicyServerInterface, PolicyServers_WithoutSqlDirectoryGives4005) {
  // A root whose facade was never initialised: no SQL directory, no
  // connection string.
  InstallRoot root(Backend::Sqlite, nullptr);
  LogCapture log;
  std::vector<PolicyServerInfo> servers;
  EXPECT_EQ(4005, QuorPolicyServerInterface::getPolicyServerInfo(servers));
  EXPECT_TRUE(servers.empty());
  // The only error is the unit of work's failed connection.
  const auto errors = log.texts(1);
  ASSERT_EQ(1u, errors.size());
  EXPECT_EQ(0u, errors[0].rfind("RdbmsInterface::RdbmsInterface: Exception \"", 0)) << errors[0];
}

// ---- scripted faults ----

std::string sqliteDir() { return quor::test::sqlSourceDir(Backend::Sqlite); }

Row groupRow(std::optional<std::string> id, std::optional<std::string> order,
             std::optional<std::string> name) {
  return {{"FilterID", id}, {"RuleOrder", order}, {"FilterType", name}};
}

struct ScriptCase {
  const char* name;
  std::vector<Row> rows;
  const char* throwOn;
  bool verify;
  QuorErrC rc;
  bool manual;
  Order order;
  std::vector<std::string> errors;
};

TEST(miscUtils, RuleOrder_UnreadableRowsAndFailures) {
  const std::string inOrder = std::string(" for statement ") + kOrderStmt;
  const ScriptCase cases[] = {
      {"non-numeric id",
       {groupRow("1", "1", "Virus"), groupRow("x", "2", "Size"), groupRow("3", "3", "Size")},
       nullptr, true, 1002, false, {F::Virus},
       {"miscUtils::getUserDefinedRuleOrder: failed to retrieve FilterID from x string" + inOrder}},
      {"null id",
       {groupRow(std::nullopt, "1", "Virus")},
       nullptr, false, 1002, false, {},
       {"miscUtils::getUserDefinedRuleOrder: failed to retrieve FilterID from NULL string" +
        inOrder}},
      {"null order",
       {groupRow("1", std::nullopt, "Virus")},
       nullptr, true, 0, true, {F::Virus},
       {"miscUtils::_verifyFilterNames: failed to retrieve RuleOrder from NULL string for filterId 1",
        "miscUtils::_verifyFilterNames: expected order 1 != dbOrder 0 for filter: 1; Virus"}},
      {"non-numeric order",
       {groupRow("4", "abc", "Spam")},
       nullptr, true, 0, true, {F::SpamGorvo},
       {"miscUtils::_verifyFilterNames: failed to retrieve RuleOrder from abc string for filterId 4",
        "miscUtils::_verifyFilterNames: expected order 1 != dbOrder 0 for filter: 4; Spam"}},
      {"null name stops the check",
       {groupRow("1", "5", std::nullopt)},
       nullptr, true, 0, true, {F::Virus},
       {"miscUtils::_verifyFilterNames: failed to retrieve FilterType for filterId 1"}},
      {"failure inside the check is swallowed",
       {groupRow("1", "1", "Virus"), groupRow("4", "2", "Spam")},
       "RuleOrder", true, 0, true, {F::Virus, F::SpamGorvo},
       {"miscUtils::_verifyFilterNames: Exception \"scripted failure\" thrown",
        "miscUtils::_verifyFilterNames: Exception \"scripted failure\" thrown"}},
      {"failure reading an id",
       {groupRow("1", "1", "Virus")},
       "FilterID", true, 1003, false, {},
       {std::string("miscUtils::getUserDefinedRuleOrder: Exception \"scripted failure\" thrown "
                    "for statement ") + kOrderStmt}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedRows db;
    db.results = {{Row{{"value", "on"}}}, c.rows};
    if (c.throwOn != nullptr) db.throwOnColumn = c.throwOn;
    const Result got = ruleOrder(db, sqliteDir(), c.verify);
    EXPECT_EQ(c.rc, got.rc);
    EXPECT_EQ(c.manual, got.manual);
    EXPECT_EQ(c.order, got.order);
    EXPECT_EQ(c.errors, got.errors);
    EXPECT_EQ((std::vector<std::string>{kSettingStmt, kOrderStmt}), db.executed);
  }
}

TEST(miscUtils, RuleOrder_FailureBeforeTheRowsNamesTheSettingStatement) {
  ScriptedRows db;
  db.results = {{Row{{"value", "on"}}}};
  db.throwOnColumn = "value";
  const Result got = ruleOrder(db, sqliteDir(), false);
  EXPECT_EQ(1003, got.rc);
  EXPECT_FALSE(got.manual);
  EXPECT_TRUE(got.order.empty());
  EXPECT_EQ(std::vector<std::string>{std::string("miscUtils::getUserDefinedRuleOrder: Exception "
                                                 "\"scripted failure\" thrown for statement ") +
                                     kSettingStmt},
            got.errors);
}

TEST(miscUtils, RuleOrder_MissingStatementFileIsADataAccessFailure) {
  // The loader's own failure text, obtained from the loader directly.
  std::string loaderText;
  try {
    char buffer[256];
    ZoSqlLoader("/nonexistent-dir").loadSQL(buffer, sizeof buffer, "ui_GetGlobalSettingValue.sql",
                                            "email-scan", "manualRuleOrder");
  } catch (const char* text) {
    loaderText = text;
  }
  ASSERT_FALSE(loaderText.empty());
  ScriptedRows db;
  const Result got = ruleOrder(db, "/nonexistent-dir", false);
  EXPECT_EQ(1003, got.rc);
  EXPECT_EQ(std::vector<std::string>{"miscUtils::getUserDefinedRuleOrder: Exception \"" +
                                     loaderText + "\" thrown for statement "},
            got.errors);
  EXPECT_TRUE(db.executed.empty());
}

struct AdminScript {
  const char* name;
  std::optional<std::string> id;
  bool throws;
  QuorErrC rc;
  std::vector<std::string> errors;
};

TEST(miscUtils, AdminId_UnreadableIdsAndFailures) {
  const std::string stmt =
      "SELECT admin_id AS AdminID FROM administrators WHERE admin_name = 'ann'";
  const AdminScript cases[] = {
      {"null", std::nullopt, false, 1002,
       {"miscUtils::_getAdminId: could not retrieve admin ID from NULL string for statement " +
        stmt}},
      {"text", "abc", false, 1002,
       {"miscUtils::_getAdminId: could not retrieve admin ID from abc for statement " + stmt}},
      {"empty", "", false, 1002,
       {"miscUtils::_getAdminId: could not retrieve admin ID from  for statement " + stmt}},
      {"failure", "5", true, 1003,
       {"miscUtils::_getAdminId: Exception \"scripted failure\" thrown for statement " + stmt}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedRows db;
    db.results = {{Row{{"AdminID", c.id}}}};
    if (c.throws) db.throwOnColumn = "AdminID";
    LogCapture log;
    unsigned int id = 555;
    EXPECT_EQ(c.rc, adminId(db, sqliteDir().c_str(), "ann", id, escape));
    EXPECT_EQ(555u, id);
    EXPECT_EQ(c.errors, log.texts(1));
  }
}

struct ServerScript {
  const char* name;
  Row bad;
  const char* throwOn;
  QuorErrC rc;
  std::string error;
};

TEST(QuorPolicyServerInterface, PolicyServers_UnreadableColumnKeepsEarlierRecords) {
  const std::string stmt =
      "SELECT scanner_id, ip_addr, agent_port FROM components WHERE kind = 'P' ORDER BY scanner_id";
  const std::string prefix = "QuorPolicyServerInterface::getPolicyServerInfo: could not retrieve ";
  const Row good = {{"scanner_id", "1"}, {"ip_addr", "10.0.0.1"}, {"agent_port", "9001"}};
  const ServerScript cases[] = {
      {"null id", {{"scanner_id", std::nullopt}, {"ip_addr", "a"}, {"agent_port", "1"}}, nullptr,
       1002, prefix + "ScannerID from NULL string for statement " + stmt},
      {"null address", {{"scanner_id", "2"}, {"ip_addr", std::nullopt}, {"agent_port", "1"}},
       nullptr, 1002, prefix + "IP_Addr from NULL string for statement " + stmt},
      {"null port", {{"scanner_id", "2"}, {"ip_addr", "a"}, {"agent_port", std::nullopt}}, nullptr,
       1002, prefix + "AgentPort from NULL string for statement " + stmt},
      {"failure", {{"scanner_id", "2"}, {"ip_addr", "a"}, {"agent_port", "1"}}, "ip_addr", 4002,
       "pszErr=scripted failure"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedRows db;
    db.results = {{good, c.bad}};
    LogCapture log;
    std::vector<PolicyServerInfo> servers;
    if (c.throwOn != nullptr) {
      // The failure comes with the first row read.
      db.results = {{c.bad}};
      db.throwOnColumn = c.throwOn;
    }
    EXPECT_EQ(c.rc, policyServers(db, sqliteDir().c_str(), servers));
    EXPECT_EQ(std::vector<std::string>{c.error}, log.texts(1));
    if (c.throwOn == nullptr) {
      ASSERT_EQ(1u, servers.size());
      EXPECT_EQ("10.0.0.1", servers[0].ipAddr);
    } else {
      EXPECT_TRUE(servers.empty());
    }
  }
}

}  // namespace
}  // namespace quor::settings::detail
