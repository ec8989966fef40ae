// The options a server refuses before it touches anything, and how it reads
// the address it listens on.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

#include "service/Server.h"
#include "service/detail/Network.h"

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

// A listen address as the endpoint read, "refused" when the text is not
// one. The client blocks are the end-to-end tests' (their refusals, and the
// clients they admit and close).
TEST(ServerOptions, Network_ReadsListenAddresses) {
  detail::asio::io_context io;
  const std::pair<const char*, const char*> cases[] = {
      {"127.0.0.1:10030", "127.0.0.1 10030 loopback"},
      {"[::1]:25", "::1 25 loopback"},
      {"[::ffff:127.0.0.2]:25", "::ffff:127.0.0.2 25 loopback"},
      {"[::ffff:10.0.0.1]:25", "::ffff:10.0.0.1 25"},
      {"127.0.0.1", "refused"},
      {"127.0.0.1:", "refused"},
      {"127.0.0.1:smtp", "refused"},
  };
  for (const auto& [text, want] : cases) {
    SCOPED_TRACE(text);
    std::string got = "refused";
    try {
      const auto e = detail::parseListen(io, text);
      got = e.address().to_string() + " " + std::to_string(e.port()) +
            (detail::isLoopback(e.address()) ? " loopback" : "");
    } catch (const StartError& e) {
      EXPECT_EQ(StartError::BadOptions, e.kind());
    }
    EXPECT_EQ(want, got);
  }
}

}  // namespace
}  // namespace quor::service
