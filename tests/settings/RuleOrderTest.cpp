// The manual rule order, the administrator look-up and the policy server
// list: on real databases (SQLite, and PostgreSQL when configured), and on a
// scripted unit of work for faults a real database cannot produce.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "QuorPolicyServerInterface.h"
#include "RdbmsInterface.h"
#include "db/RdbmsTestSupport.h"
#include "miscUtils.h"
#include "settings/ScriptedRows.h"
#include "settings/detail/DbQueries.h"
#include "support/LogCapture.h"

namespace quor::settings::detail {
namespace {

using namespace quor::test;  // NOLINT: test support names
using F = QuorFilter;
using Order = std::vector<QuorFilter::FilterType>;
using Lines = std::vector<std::string>;

const std::string kSettingStmt =
    "SELECT setting_value AS value FROM global_settings WHERE section = 'email-scan' AND "
    "setting_key = 'manualRuleOrder'";
const std::string kOrderStmt =
    "SELECT filter_id AS FilterID, rule_order AS RuleOrder, filter_type AS FilterType FROM "
    "filter_groups ORDER BY rule_order, filter_id";

struct Result {
  QuorErrC rc;
  bool manual;
  Order order;
  Lines errors;
  bool operator==(const Result&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Result& r) {
  os << "rc=" << r.rc << " manual=" << r.manual << " order=";
  for (const auto k : r.order) os << k << ",";
  for (const auto& e : r.errors) os << "\n  " << e;
  return os;
}

// Runs the rule order on `db` (the exported operation, or the template body
// on a scripted unit), starting from a set flag and a non-empty order.
template <class Run>
Result ruleOrder(Run&& run) {
  LogCapture log;
  bool manual = true;
  Order order = {F::NRVX};
  const QuorErrC rc = run(manual, order);
  return {rc, manual, order, log.texts(1)};
}

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
  void TearDown() override { _root.reset(); }
  std::unique_ptr<TestDatabase> _db;
  std::unique_ptr<InstallRoot> _root;
};

struct OrderCase {
  const char* name;
  const char* setting;  // SQL value of manualRuleOrder, nullptr: no row
  const char* rows;     // "(id, 'name', order), ..." for filter_groups
  bool verify;
  Result want;
};

// The filters each group id expands to.
const Order kVirus = {F::Virus};
const Order kAttachment = {F::AttachmentTrueType, F::AttachmentMimeType, F::AttachmentNameExt, F::AttachmentNumber};
const Order kSize = {F::SizeMessage, F::SizeAttachment};
const Order kSpam = {F::SpamGorvo};
const Order kContent = {F::ContentSubject, F::ContentSubjectBlank, F::ContentBody, F::ContentHeader, F::ContentAttachment};
const Order kOther = {F::RecipientNo, F::TimeRange, F::Phishing, F::OtherFilter};

Order join(std::initializer_list<Order> groups) {
  Order out;
  for (const Order& g : groups) out.insert(out.end(), g.begin(), g.end());
  return out;
}

TEST_P(SettingsDb, RuleOrder_ExpandsGroupsAndVerifiesRows) {
  const Lines missing = {
      "miscUtils::getUserDefinedRuleOrder: could not retrieve manualRuleOrder "
      "setting for statement " +
      kSettingStmt};
  const std::string v = "miscUtils::_verifyFilterNames: ";
  const std::string misnamed = v + "expected name Misnamed for  QuorFilter::";
  // clang-format off
  const OrderCase cases[] = {
      {"no setting", nullptr, "(1, 'Virus', 1)", true, {1002, false, {}, missing}},
      {"null setting", "NULL", "(1, 'Virus', 1)", true, {1002, false, {}, missing}},
      {"On is off", "'On'", "(1, 'Virus', 1)", true, {0, false, {}, {}}},
      {"on without rows", "'on'", nullptr, true, {0, true, {}, {}}},
      {"4 1 6", "'on'", "(4, 'Spam', 1), (1, 'Virus', 2), (6, 'Other', 3)", true, {0, true, join({kSpam, kVirus, kOther}), {}}},
      {"2 3 5", "'on'", "(2, 'Attachment', 1), (3, 'Size', 2), (5, 'Content', 3)", true, {0, true, join({kAttachment, kSize, kContent}), {}}},
      {"invalid id takes a rank", "'on'", "(9, 'Nine', 1), (3, 'Size', 2)", true, {0, true, kSize, {"miscUtils::getUserDefinedRuleOrder: Invalid filter id 9", v + "unexpected filter type 9"}}},
      {"order mismatch only", "'on'", "(1, 'Virus', 2)", true, {0, true, kVirus, {v + "expected order 1 != dbOrder 2 for filter: 1; Virus"}}},
      {"name mismatch only", "'on'", "(1, 'virus', 1)", true, {0, true, kVirus, {v + "expected name virus for  QuorFilter::Virus"}}},
      {"misnamed 2", "'on'", "(2, 'Misnamed', 1)", true, {0, true, kAttachment, {misnamed + "Attachment"}}},
      {"misnamed 3", "'on'", "(3, 'Misnamed', 1)", true, {0, true, kSize, {misnamed + "Size"}}},
      {"misnamed 4", "'on'", "(4, 'Misnamed', 1)", true, {0, true, kSpam, {misnamed + "SpamGorvo"}}},
      {"misnamed 5", "'on'", "(5, 'Misnamed', 1)", true, {0, true, kContent, {misnamed + "Content"}}},
      {"misnamed 6", "'on'", "(6, 'Misnamed', 1)", true, {0, true, kOther, {misnamed + "Other"}}},
      {"unverified", "'on'", "(0, 'virus', 2)", false, {0, true, {}, {"miscUtils::getUserDefinedRuleOrder: Invalid filter id 0"}}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    _db->exec("DELETE FROM global_settings; DELETE FROM filter_groups");
    if (c.setting) {
      _db->exec(std::string("INSERT INTO global_settings VALUES ('email-scan', 'manualRuleOrder', ") + c.setting + ")");
    }
    if (c.rows) {
      _db->exec(std::string("INSERT INTO filter_groups (filter_id, filter_type, rule_order) VALUES ") + c.rows);
    }
    QUOR::RdbmsInterface unit;
    EXPECT_EQ(c.want, ruleOrder([&](bool& m, Order& o) {
                return miscUtils::getUserDefinedRuleOrder(unit, m, o, c.verify);
              }));
  }
}

TEST_P(SettingsDb, AdminId_ResolvesExactNamesOnly) {
  _db->exec(
      "INSERT INTO administrators (admin_id, admin_name) VALUES (1, 'root'), (7, 'O''Brien'), (-1, "
      "'minus')");
  const struct {
    const char* name;
    QuorErrC rc;
    unsigned int id;
    Lines errors;
    // clang-format off
  } cases[] = {
      {"O'Brien", 0, 7, {}},
      {"Root", 1002, 555, {}},
      {"' OR '1'='1", 1002, 555, {}},
      {"minus", 1002, 555, {"miscUtils::_getAdminId: could not retrieve admin ID from -1 for statement SELECT admin_id AS AdminID FROM administrators WHERE admin_name = 'minus'"}},
  };
  // clang-format on
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

std::string describe(const std::vector<PolicyServerInfo>& servers) {
  std::string out;
  for (const auto& s : servers)
    out += std::to_string(s.scannerId) + " " + s.ipAddr + " " + std::to_string(s.agentPort) + ";";
  return out;
}

TEST_P(SettingsDb, PolicyServers_AppendsKindPInIdOrderOr4002) {
  _db->exec(
      "INSERT INTO components (scanner_id, kind, ip_addr, agent_port) VALUES "
      "(3, 'P', '10.0.0.3', 9003), (1, 'P', '10.0.0.1', 9001), (2, 'S', '10.0.0.2', 9002)");
  std::vector<PolicyServerInfo> servers(1);
  EXPECT_EQ(0, QuorPolicyServerInterface::getPolicyServerInfo(servers));
  EXPECT_EQ("0  0;1 10.0.0.1 9001;3 10.0.0.3 9003;", describe(servers));  // first record kept

  _db->exec("DROP TABLE components");
  LogCapture log;
  EXPECT_EQ(4002, QuorPolicyServerInterface::getPolicyServerInfo(servers));
  EXPECT_EQ(3u, servers.size());
  const Lines errors = log.texts(1);
  ASSERT_EQ(1u, errors.size());
  EXPECT_EQ(0u, errors[0].rfind("pszErr=", 0)) << errors[0];
  EXPECT_NE(std::string::npos, errors[0].find("components")) << errors[0];
}

INSTANTIATE_TEST_SUITE_P(Backends, SettingsDb, ::testing::ValuesIn(allBackends()),
                         [](const auto& p) { return backendName(p.param); });

TEST(QuorPolicyServerInterface, PolicyServers_WithoutSqlDirectoryGives4005) {
  InstallRoot root(Backend::Sqlite, nullptr);  // the facade is not initialised
  LogCapture log;
  std::vector<PolicyServerInfo> servers;
  EXPECT_EQ(4005, QuorPolicyServerInterface::getPolicyServerInfo(servers));
  EXPECT_TRUE(servers.empty());
  // The only error is the unit of work's failed connection.
  const Lines errors = log.texts(1);
  ASSERT_EQ(1u, errors.size());
  EXPECT_EQ(0u, errors[0].rfind("RdbmsInterface::RdbmsInterface: Exception \"", 0)) << errors[0];
}

// ---- scripted faults ----

Row groupRow(std::optional<std::string> id, std::optional<std::string> order,
             std::optional<std::string> name) {
  return {{"FilterID", id}, {"RuleOrder", order}, {"FilterType", name}};
}

TEST(miscUtils, RuleOrder_UnreadableRowsAndFailures) {
  const std::string v = "miscUtils::_verifyFilterNames: ";
  const std::string g = "miscUtils::getUserDefinedRuleOrder: ";
  const struct {
    const char* name;
    std::vector<Row> rows;
    const char* throwOn;
    bool verify;
    Result want;
    // clang-format off
  } cases[] = {
      {"non-numeric id", {groupRow("1", "1", "Virus"), groupRow("x", "2", "Size")}, nullptr, true, {1002, false, {F::Virus}, {g + "failed to retrieve FilterID from x string for statement " + kOrderStmt}}},
      {"null id", {groupRow(std::nullopt, "1", "Virus")}, nullptr, false, {1002, false, {}, {g + "failed to retrieve FilterID from NULL string for statement " + kOrderStmt}}},
      {"null order", {groupRow("1", std::nullopt, "Virus")}, nullptr, true, {0, true, {F::Virus}, {v + "failed to retrieve RuleOrder from NULL string for filterId 1", v + "expected order 1 != dbOrder 0 for filter: 1; Virus"}}},
      {"non-numeric order", {groupRow("4", "abc", "Spam")}, nullptr, true, {0, true, {F::SpamGorvo}, {v + "failed to retrieve RuleOrder from abc string for filterId 4", v + "expected order 1 != dbOrder 0 for filter: 4; Spam"}}},
      {"null name stops the check", {groupRow("1", "5", std::nullopt)}, nullptr, true, {0, true, {F::Virus}, {v + "failed to retrieve FilterType for filterId 1"}}},
      {"failure inside the check is swallowed", {groupRow("1", "1", "Virus")}, "RuleOrder", true, {0, true, {F::Virus}, {v + "Exception \"scripted failure\" thrown"}}},
      {"failure reading an id", {groupRow("1", "1", "Virus")}, "FilterID", true, {1003, false, {}, {g + "Exception \"scripted failure\" thrown for statement " + kOrderStmt}}},
      {"failure reading the setting", {}, "value", true, {1003, false, {}, {g + "Exception \"scripted failure\" thrown for statement " + kSettingStmt}}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedRows db;
    db.results = {{Row{{"value", "on"}}}, c.rows};
    if (c.throwOn) db.throwOnColumn = c.throwOn;
    EXPECT_EQ(c.want, ruleOrder([&](bool& m, Order& o) {
                return userDefinedRuleOrder(
                    db, sqlSourceDir(Backend::Sqlite).c_str(), m, o, c.verify,
                    [&db](int rank, int id) { verifyFilterRow(db, rank, id); });
              }));
  }
}

TEST(miscUtils, AdminId_UnreadableIdsAndFailures) {
  const std::string stmt =
      "SELECT admin_id AS AdminID FROM administrators WHERE admin_name = 'ann'";
  const std::string m = "miscUtils::_getAdminId: ";
  const struct {
    const char* name;
    std::optional<std::string> id;
    bool throws;
    QuorErrC rc;
    std::string error;
    // clang-format off
  } cases[] = {
      {"null", std::nullopt, false, 1002, m + "could not retrieve admin ID from NULL string for statement " + stmt},
      {"text", "abc", false, 1002, m + "could not retrieve admin ID from abc for statement " + stmt},
      {"failure", "5", true, 1003, m + "Exception \"scripted failure\" thrown for statement " + stmt},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedRows db;
    db.results = {{Row{{"AdminID", c.id}}}};
    if (c.throws) db.throwOnColumn = "AdminID";
    LogCapture log;
    unsigned int id = 555;
    EXPECT_EQ(c.rc, adminId(db, sqlSourceDir(Backend::Sqlite).c_str(), "ann", id,
                            QUOR::RdbmsInterface::escapeData));
    EXPECT_EQ(555u, id);
    EXPECT_EQ(Lines{c.error}, log.texts(1));
  }
}

TEST(QuorPolicyServerInterface, PolicyServers_NullColumnKeepsEarlierRecords) {
  const std::string m = "QuorPolicyServerInterface::getPolicyServerInfo: could not retrieve ";
  const std::string stmt =
      " from NULL string for statement SELECT scanner_id, ip_addr, agent_port FROM "
      "components WHERE kind = 'P' ORDER BY scanner_id";
  const Row good = {{"scanner_id", "1"}, {"ip_addr", "10.0.0.1"}, {"agent_port", "9001"}};
  const struct {
    const char* column;
    std::string error;
    // clang-format off
  } cases[] = {
      {"scanner_id", m + "ScannerID" + stmt},
      {"ip_addr", m + "IP_Addr" + stmt},
      {"agent_port", m + "AgentPort" + stmt},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.column);
    Row bad = good;
    bad[c.column] = std::nullopt;
    ScriptedRows db;
    db.results = {{good, bad}};
    LogCapture log;
    std::vector<PolicyServerInfo> servers;
    EXPECT_EQ(1002, policyServers(db, sqlSourceDir(Backend::Sqlite).c_str(), servers));
    EXPECT_EQ("1 10.0.0.1 9001;", describe(servers));
    EXPECT_EQ(Lines{c.error}, log.texts(1));
  }
}

}  // namespace
}  // namespace quor::settings::detail
