#include "policyobj/PolicyWorld.h"

#include <fstream>
#include <sstream>

#include "db/detail/RdbmsTesting.h"

namespace quor::test {
namespace {
constexpr const char* kUnavailable = "08001: server unavailable";
}  // namespace

void PolicyDbTest::SetUp() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  _db = std::make_unique<TestDatabase>(GetParam(),
                                       std::string(info->test_suite_name()) + info->name());
  QUOR_REQUIRE_DATABASE(*_db);
  _root = std::make_unique<InstallRoot>(GetParam(), _db.get());
  _root->writeDatabaseIni(_root->standardIni());
  ASSERT_TRUE(QUOR::RdbmsInterface::Init(nullptr, nullptr, nullptr, nullptr));
}

void PolicyDbTest::TearDown() {
  _root.reset();  // resets the facade, which forgets a pool it does not own
  _pool.reset();
  _db.reset();
}

std::unique_ptr<QUOR::RdbmsInterface> PolicyDbTest::holdWriteLock() const {
  loadWorld();
  // The driver's busy timeout, in milliseconds: a short wait keeps tests quick.
  std::ofstream(_root->path() + "/config/odbc.ini", std::ios::app) << "Timeout = 200\n";
  auto caller = std::make_unique<QUOR::RdbmsInterface>();
  EXPECT_TRUE(caller->startTransaction());
  caller->executeSQL("UPDATE named_objects SET name = 'renamed' WHERE object_id = 1001");
  return caller;
}

void PolicyDbTest::loadWorld() const {
  _db->exec(
      "INSERT INTO entities (entity_id, entity_name, entity_type) VALUES"
      " (1, 'Sales', 0), (2, 'Support', 0), (3, '*@*.example.com', 6), (4, '*@eu.example.com', 6),"
      " (5, '*@*.com', 6), (7, 'ldap://cn=ops', 2), (8, '*@other.org', 6),"
      " (9, '*@Mixed.Example.com', 6), (10, '*@*.Org', 6);"
      "INSERT INTO administrators (admin_id, admin_name, is_root) VALUES"
      " (1, 'root', 1), (2, 'alice', 0), (3, 'bob', 0), (4, 'carol', 0), (5, 'dave', 0), (6, "
      "'erin', 0);"
      "INSERT INTO admin_entities (admin_id, entity_id, position) VALUES"
      " (2, 1, 0), (2, 3, 1), (3, 2, 0), (4, 8, 0), (6, 7, 0);"
      "INSERT INTO named_objects (object_id, kind, name, content) VALUES"
      " (1001, 5, 'alpha', 'content of 1001'), (1002, 5, 'Bravo', 'content of 1002'),"
      " (1003, 5, 'Charlie', 'content of 1003'), (1004, 5, 'delta', 'content of 1004'),"
      " (1005, 5, 'echo', 'content of 1005'), (1006, 5, 'foxtrot', 'content of 1006'),"
      " (1007, 5, 'OPP:shared', 'content of 1007'), (1008, 5, 'opp:lower', 'content of 1008'),"
      " (1009, 5, 'golf', 'content of 1009'), (1010, 5, 'hotel', 'content of 1010'),"
      " (1011, 5, 'india', 'content of 1011'), (1012, 5, 'juliet', 'content of 1012'),"
      " (1013, 5, 'kilo', 'content of 1013'),"
      " (2001, 3, 'Quarantine B', 'content of 2001'), (2002, 3, 'quarantine a', 'content of 2002'),"
      " (2003, 3, 'OPP:Shared area', 'content of 2003'), (2004, 3, 'OPP-1', 'content of 2004');"
      "INSERT INTO entity_named_objects (entity_id, object_id, kind) VALUES"
      " (1, 1001, 5), (1, 1002, 5), (3, 1002, 5), (1, 1003, 5), (2, 1003, 5), (4, 1004, 5),"
      " (5, 1005, 5), (1, 1006, 5), (5, 1006, 5), (1, 1007, 5), (1, 1008, 5), (8, 1009, 5),"
      " (10, 1010, 5), (9, 1011, 5), (7, 1012, 5), (2, 1013, 5),"
      " (1, 2001, 3), (3, 2002, 3), (2, 2003, 3), (2, 2004, 3);"
      "INSERT INTO filter_groups (filter_id, filter_type, rule_order) VALUES (1, 'content', 1);"
      "INSERT INTO rules (rule_id, rule_name, filter_id, entity_id, action_object_id) VALUES"
      " (1, 'uses Bravo', 1, 1, 1002), (2, 'names kilo', 1, 2, NULL);"
      "INSERT INTO rule_named_objects (rule_id, object_id) VALUES (2, 1013)");
}

void PolicyDbTest::craft(const std::string& file, const std::string& text) const {
  writeFile(_root->path() + "/sql/" + backendName(GetParam()) + "/" + file, text);
}

void PolicyDbTest::dropConnections() {
  _pool = std::make_unique<ScriptedPool>(nullptr);
  _pool->loanFailure = kUnavailable;
  quor::db::detail::RdbmsTestAccess::usePool(_pool.get(), false);
}

std::string PolicyDbTest::noConnectionMessage() {
  return std::string("RdbmsInterface::RdbmsInterface: Exception \"") + kUnavailable + "\" thrown";
}

void expectFramed(const std::string& message, const std::string& head, const std::string& tail) {
  EXPECT_EQ(0u, message.find(head)) << message;
  ASSERT_GE(message.size(), tail.size()) << message;
  EXPECT_EQ(tail, message.substr(message.size() - tail.size())) << message;
}

std::string describeSummaries(const std::vector<SummaryNamedObject>& summaries) {
  std::ostringstream out;
  for (const SummaryNamedObject& s : summaries) {
    out << s.id << ' ' << (s.editable ? 'E' : '-') << (s.deletable ? 'D' : '-') << ' ' << s.name
        << '\n';
  }
  return out.str();
}

}  // namespace quor::test
