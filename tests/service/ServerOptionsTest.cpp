// The options a server refuses before it touches anything, and how it reads
// the addresses it listens on and admits clients from.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>

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

// A listen address as the endpoint read, and a client block as which of four
// sample addresses it holds; "refused" when the text is not one.
TEST(ServerOptions, Network_ReadsListenAddressesAndClientBlocks) {
  detail::asio::io_context io;
  const char* samples[] = {"10.1.2.3", "11.0.0.1", "::ffff:10.9.9.9", "2001:db8::1"};
  const auto read = [&](bool listen, const std::string& text) -> std::string {
    try {
      if (listen) {
        const auto e = detail::parseListen(io, text);
        return e.address().to_string() + " " + std::to_string(e.port()) +
               (detail::isLoopback(e.address()) ? " loopback" : "");
      }
      const detail::AddressBlock b = detail::parseAddressBlock(text);
      std::string in;
      for (const char* a : samples) {
        if (b.contains(detail::asio::ip::make_address(a)))
          in += std::string(in.empty() ? "" : " ") + a;
      }
      return in;
    } catch (const StartError& e) {
      EXPECT_EQ(StartError::BadOptions, e.kind());
      return "refused";
    }
  };
  const std::tuple<bool, const char*, const char*> cases[] = {
      {true, "127.0.0.1:10030", "127.0.0.1 10030 loopback"},
      {true, "[::1]:25", "::1 25 loopback"},
      {true, "[::ffff:127.0.0.2]:25", "::ffff:127.0.0.2 25 loopback"},
      {true, "[::ffff:10.0.0.1]:25", "::ffff:10.0.0.1 25"},
      {true, "127.0.0.1", "refused"},
      {true, "127.0.0.1:", "refused"},
      {true, "127.0.0.1:smtp", "refused"},
      {false, "10.0.0.0/8", "10.1.2.3 ::ffff:10.9.9.9"},
      {false, "10.1.2.3", "10.1.2.3"},
      {false, "0.0.0.0/0", "10.1.2.3 11.0.0.1 ::ffff:10.9.9.9"},
      {false, "2001:db8::/32", "2001:db8::1"},
      {false, "10.0.0.0/", "refused"},
      {false, "10.0.0.0/8x", "refused"},
      {false, "10.1.0.0/8", "refused"},
  };
  for (const auto& [listen, text, want] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(want, read(listen, text));
  }
}

}  // namespace
}  // namespace quor::service
