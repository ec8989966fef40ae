// Cutting a connection's bytes into policy requests, however they arrive.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/quorpolicy/PolicyProtocol.h"

namespace quor::tool {
namespace {

// Every request taken from `stream` fed in pieces of `piece` bytes, written
// as "kind:name=value,name=value" (or "kind:error"). A request without an end
// within the limit is the serve tests' business.
std::vector<std::string> cut(const std::string& stream, std::size_t piece) {
  RequestBuffer buffer;
  std::vector<std::string> out;
  for (std::size_t at = 0; at < stream.size(); at += piece) {
    buffer.append(std::string_view(stream).substr(at, piece));
    while (auto parsed = buffer.next()) {
      std::string text = parsed->kind == ParsedRequest::Request     ? "request:"
                         : parsed->kind == ParsedRequest::Malformed ? "malformed:"
                                                                    : "overflow:";
      if (parsed->kind != ParsedRequest::Request) text += parsed->error;
      for (const auto& [name, value] : parsed->request.attributes) {
        text += name + "=" + value + ",";
      }
      out.push_back(text);
    }
  }
  if (buffer.pending()) out.push_back("pending");
  return out;
}

TEST(RequestBuffer, CutsRequestsWhereverTheBytesBreak) {
  const std::string atLimit = "s=" + std::string(kMaxAttributeBytes - 2, 'a');
  struct Case {
    const char* name;
    std::string stream;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"two requests",
       "request=smtpd_access_policy\nsender=a@b\n\nsender=c@d\nrecipient=\n\n",
       {"request:request=smtpd_access_policy,sender=a@b,", "request:sender=c@d,recipient=,"}},
      {"CR LF and empty lines between requests",
       "\r\n\nsender=a=b\r\n\r\n\n",
       {"request:sender=a=b,"}},
      {"an unfinished request waits", "sender=a@b\n\nsender=c", {"request:sender=a@b,", "pending"}},
      {"a line without =",
       "sender=a@b\nbroken\nrecipient=x\n\nsender=c\n\n",
       {"malformed:line 2 is not name=value", "request:sender=c,"}},
      {"an empty name", "=x\n\n", {"malformed:line 1 is not name=value"}},
      {"an attribute over the limit",
       atLimit + "a\n\n",
       {"malformed:line 1 is longer than 4096 bytes"}},
      {"an attribute at the limit", atLimit + "\n\n", {"request:" + atLimit + ","}},
  };
  for (const auto& c : cases) {
    for (std::size_t piece : {std::size_t{1}, std::size_t{7}, c.stream.size()}) {
      SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
      EXPECT_EQ(c.want, cut(c.stream, piece));
    }
  }
}

TEST(PolicyRequest, GetTakesTheLastValueOfAName) {
  PolicyRequest r;
  r.attributes = {{"sender", "a@b"}, {"recipient", "x@y"}, {"sender", "c@d"}};
  EXPECT_EQ("c@d", r.get("sender").value_or("absent"));
  EXPECT_EQ("absent", r.get("client").value_or("absent"));
}

}  // namespace
}  // namespace quor::tool
