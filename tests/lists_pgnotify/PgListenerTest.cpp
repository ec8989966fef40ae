// The PostgreSQL change feed against the scratch server: the policy
// database's triggers announce changes, and a killed listening backend is
// followed by a new connection that asks for a full reload.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "dataaccess/DbBackends.h"
#include "lists/pgnotify/PgListener.h"

namespace quor::test {
namespace {

using quor::lists::PgListener;

// What the listener reported, in order.
class Events {
 public:
  PgListener::Callbacks callbacks() {
    return {[this](bool afterLoss) { add(afterLoss ? "connected after loss" : "connected"); },
            [this](const std::string& payload) { add("notified " + payload); },
            [this](const std::string&) { add("lost"); }};
  }
  // Waits (generously bounded) until `event` has been reported `count` times.
  bool waitFor(const std::string& event, std::size_t count = 1) {
    std::unique_lock<std::mutex> lock(_mutex);
    return _changed.wait_for(lock, std::chrono::seconds(60), [&] {
      return static_cast<std::size_t>(std::count(_log.begin(), _log.end(), event)) >= count;
    });
  }
  std::vector<std::string> log() {
    std::lock_guard<std::mutex> lock(_mutex);
    return _log;
  }

 private:
  void add(const std::string& event) {
    std::lock_guard<std::mutex> lock(_mutex);
    _log.push_back(event);
    _changed.notify_all();
  }
  std::mutex _mutex;
  std::condition_variable _changed;
  std::vector<std::string> _log;
};

std::string conninfo(const TestDatabase& db) {
  return std::string("host=127.0.0.1 port=") + std::getenv("QUOR_TEST_PG_PORT") +
         " user=quor dbname=" + db.databaseValue();
}

TEST(PgListener, ConninfoFromAnOdbcDataSource) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> odbc;
    const char* conninfo;
  };
  const Case cases[] = {
      {{{"Driver", "PostgreSQL Unicode"},
        {"Servername", "db1"},
        {"Port", "5432"},
        {"Database", "quorpolicy"},
        {"Username", "quor"}},
       "host='db1' port='5432' dbname='quorpolicy' user='quor'"},
      {{{"SERVER", "h"}, {"uid", "u"}, {"PWD", "a b'c\\d"}, {"Description", "x"}},
       "host='h' user='u' password='a b\\'c\\\\d'"},
      {{}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.conninfo);
    EXPECT_EQ(c.conninfo, quor::lists::libpqConninfo(c.odbc));
  }
}

TEST(PgListener, TriggersAnnounceTheChangedRows) {
  TestDatabase db(Backend::Postgres, "PgListenerTriggers");
  QUOR_REQUIRE_DATABASE(db);
  Events events;
  PgListener listener(conninfo(db), {}, events.callbacks());
  ASSERT_TRUE(events.waitFor("connected"));
  struct Case {
    const char* statement;
    const char* payload;
  };
  const Case cases[] = {
      {"INSERT INTO entities (entity_id, entity_name, entity_type) VALUES (7, '*@x.test', 6)",
       "entities 7"},
      {"INSERT INTO named_objects (object_id, kind, name) VALUES (10, 5, 'g')", "named_objects 10"},
      {"INSERT INTO address_group_members VALUES (10, 0, 'a@b.test')", "address_group_members 10"},
      {"INSERT INTO entity_list_bindings VALUES (7, 10, 'overrideable-white', 0)",
       "entity_list_bindings 7 10"},
      {"DELETE FROM address_group_members WHERE group_id = 10", "address_group_members 10"},
  };
  std::map<std::string, std::size_t> counts;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.statement);
    db.exec(c.statement);
    const std::string event = std::string("notified ") + c.payload;
    EXPECT_TRUE(events.waitFor(event, ++counts[event]));
  }
  // One count per statement.
  EXPECT_EQ("5", db.scalar("SELECT version AS v FROM policy_version"));
}

TEST(PgListener, KilledBackendIsFollowedByAFullReload) {
  TestDatabase db(Backend::Postgres, "PgListenerKilled");
  QUOR_REQUIRE_DATABASE(db);
  Events events;
  PgListener::Options options;
  options.firstRetry = std::chrono::milliseconds(1);
  PgListener listener(conninfo(db), options, events.callbacks());
  ASSERT_TRUE(events.waitFor("connected"));
  db.exec("SELECT pg_terminate_backend(" + std::to_string(listener.backendPid()) + ")");
  ASSERT_TRUE(events.waitFor("connected after loss"));
  db.exec("INSERT INTO entities (entity_id, entity_name, entity_type) VALUES (8, '*@y.test', 6)");
  ASSERT_TRUE(events.waitFor("notified entities 8"));
  listener.stop();
  EXPECT_EQ((std::vector<std::string>{"connected", "lost", "connected after loss",
                                      "notified entities 8"}),
            events.log());
}

}  // namespace
}  // namespace quor::test
