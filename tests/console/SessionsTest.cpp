// Sessions, the sign-in throttle and the cookie reader of the console.
#include <gtest/gtest.h>

#include "console/Api.h"
#include "console/Sessions.h"

namespace quor::console {
namespace {

using std::chrono::milliseconds;
using std::chrono::minutes;

TEST(SessionStore, KeysAreRandomAndSessionsEndWhenIdleOrClosed) {
  SessionStore::Clock::time_point now{};
  SessionStore store(minutes(30), 2);
  store.setClock([&now] { return now; });
  const std::string a = store.open(7);
  EXPECT_EQ(64u, a.size());
  ASSERT_TRUE(store.use(a));
  EXPECT_EQ(7u, store.use(a)->adminId);
  EXPECT_EQ(64u, store.use(a)->csrf.size());
  EXPECT_NE(a, store.use(a)->csrf);

  now += minutes(29);
  EXPECT_TRUE(store.use(a)) << "used within the idle time";
  now += minutes(29);
  EXPECT_TRUE(store.use(a)) << "each use starts the idle time again";
  now += minutes(31);
  EXPECT_FALSE(store.use(a)) << "idle too long";

  const std::string b = store.open(8);
  const std::string c = store.open(9);
  EXPECT_NE(b, c);
  store.close(b);
  EXPECT_FALSE(store.use(b));
  now += minutes(1);
  const std::string d = store.open(10);
  now += minutes(1);
  store.use(c);                          // now d is the least recently used
  const std::string e = store.open(11);  // the store is full: d goes
  EXPECT_FALSE(store.use(d));
  EXPECT_TRUE(store.use(c));
  EXPECT_TRUE(store.use(e));
}

TEST(SignInThrottle, DelayGrowsPerNameAndPerClient) {
  SignInThrottle t;
  struct Step {
    const char* name;
    const char* client;
    long wantMs;  // 0: a success
  };
  const Step steps[] = {
      {"alice", "10.0.0.1", 250}, {"alice", "10.0.0.1", 500}, {"alice", "10.0.0.2", 1000},
      {"bob", "10.0.0.1", 1000},  {"carol", "10.0.0.3", 250}, {"alice", "10.0.0.2", 0},
      {"alice", "10.0.0.4", 250}, {"dave", "10.0.0.1", 2000}, {"dave", "10.0.0.1", 4000},
      {"dave", "10.0.0.1", 8000}, {"dave", "10.0.0.1", 8000},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(std::string(s.name) + " from " + s.client);
    if (s.wantMs == 0) {
      t.succeed(s.name);
    } else {
      EXPECT_EQ(milliseconds(s.wantMs), t.fail(s.name, s.client));
    }
  }
}

TEST(CookieValue, FindsTheNamedCookieOnly) {
  const std::pair<const char*, const char*> cases[] = {
      {"quor_session=abc", "abc"}, {"a=1; quor_session=abc; b=2", "abc"},
      {"xquor_session=abc", ""},   {"quor_session_old=abc; quor_session=def", "def"},
      {"quor_session", ""},        {"", ""},
  };
  for (const auto& [header, want] : cases) {
    SCOPED_TRACE(header);
    EXPECT_EQ(want, cookieValue(header, "quor_session"));
  }
}

}  // namespace
}  // namespace quor::console
