// The options a server refuses before it touches anything.
#include <gtest/gtest.h>

#include <functional>

#include "service/Server.h"

namespace quor::service {
namespace {

TEST(ServerOptions, CheckOptions_RefusesOptionsThatCannotWork) {
  struct Case {
    const char* name;
    std::function<void(Options&)> change;
    bool refused;
  };
  const Case cases[] = {
      {"as given", [](Options&) {}, false},
      {"no list", [](Options& o) { o.lists.clear(); }, true},
      {"reject text of two lines", [](Options& o) { o.decision.rejectText = "a\rb"; }, true},
      {"no worker thread", [](Options& o) { o.net.threads = 0; }, true},
      {"no statistics interval", [](Options& o) { o.statsSeconds = 0; }, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Options options;
    options.lists = {"white.list"};
    c.change(options);
    try {
      checkOptions(options);
      EXPECT_FALSE(c.refused);
    } catch (const StartError& e) {
      EXPECT_TRUE(c.refused) << e.what();
      EXPECT_EQ(StartError::BadOptions, e.kind());
    }
  }
}

}  // namespace
}  // namespace quor::service
