// Cutting a connection's bytes into policy requests, however they arrive, and
// deciding them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/PolicyProtocol.h"
#include "support/ScratchDir.h"

namespace quor::service {
namespace {

using lists::ListSet;

// Every request taken from `stream` fed in pieces of `piece` bytes, written
// as "request:name=value,name=value," or "malformed:error" / "overflow:error".
std::vector<std::string> cut(const std::string& stream, std::size_t piece) {
  RequestBuffer buffer;
  std::vector<std::string> out;
  for (std::size_t at = 0; at < stream.size(); at += piece) {
    buffer.append(std::string_view(stream).substr(at, piece));
    while (auto parsed = buffer.next()) {
      std::string text = parsed->kind == ParsedRequest::Request     ? "request:"
                         : parsed->kind == ParsedRequest::Malformed ? "malformed:"
                                                                    : "overflow:";
      text += parsed->error;
      for (const auto& [name, value] : parsed->request.attributes) text += name + "=" + value + ",";
      out.push_back(text);
    }
  }
  if (buffer.pending()) out.push_back("pending");
  return out;
}

TEST(RequestBuffer, CutsRequestsWhereverTheBytesBreak) {
  const std::string type = "request=smtpd_access_policy\n";
  const std::string atLimit = "s=" + std::string(kMaxAttributeBytes - 2, 'a');
  // A request of exactly kMaxRequestBytes: the type, filler lines, the end.
  std::string full = type, fullWant = "request:request=smtpd_access_policy,";
  while (full.size() + 12 + 1 <= kMaxRequestBytes) {
    full += "f=123456789\n";
    fullWant += "f=123456789,";
  }
  const std::string last = "g=" + std::string(kMaxRequestBytes - full.size() - 4, 'x');
  full += last + "\n\n";
  fullWant += last + ",";
  struct Case {
    const char* name;
    std::string stream;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"two requests",
       type + "sender=a@b\n\n" + type + "sender=c@d\nrecipient=\n\n",
       {"request:request=smtpd_access_policy,sender=a@b,",
        "request:request=smtpd_access_policy,sender=c@d,recipient=,"}},
      {"CR LF and empty lines between requests",
       "\r\n\nrequest=smtpd_access_policy\r\nsender=a=b\r\n\r\n\n",
       {"request:request=smtpd_access_policy,sender=a=b,"}},
      {"an unfinished request waits",
       type + "sender=a@b\n\nsender=c",
       {"request:request=smtpd_access_policy,sender=a@b,", "pending"}},
      {"a line without = ends the stream",
       type + "sender=a@b\nbro ken\x01\n\n" + type + "\n",
       {"malformed:line 3 is not name=value: 'bro\\x20ken\\x01'"}},
      {"no request type", "sender=a@b\n\n", {"malformed:no request type"}},
      {"another request type, bytes past the last UTF-8 lead",
       "request=junk\xf5\x80\x80\x80\n\n",
       {"malformed:unknown request type 'junk\\xf5\\x80\\x80\\x80'"}},
      {"an attribute over the limit, before its line ends",
       type + atLimit + "a",
       {"malformed:line 2 is longer than 4096 bytes"}},
      {"an attribute at the limit",
       type + atLimit + "\r\n\n",
       {"request:request=smtpd_access_policy," + atLimit + ","}},
      {"a request of the largest size", full, {fullWant}},
      {"one byte more",
       full.substr(0, full.size() - 2) + "y\n\n",
       {"overflow:no end of request within 65536 bytes"}},
  };
  for (const auto& c : cases) {
    for (std::size_t piece : {std::size_t{1}, std::size_t{7}, c.stream.size()}) {
      SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
      EXPECT_EQ(c.want, cut(c.stream, piece));
    }
  }
}

class Decide : public test::ScratchDirTest {
 protected:
  std::string list(const char* name, const char* text) { return file(name, text); }
};

TEST_F(Decide, DecidesEveryFormOfAnAddressAlike) {
  const auto lists = ListSet::load({list("white.list",
                                         "nonoverrideable-white postmaster@*\n"
                                         "nonoverrideable-white ceo@b\xC3\xBC"
                                         "cher.example\n"
                                         "overrideable-white user+newz@tagged.example\n"),
                                    list("black.list",
                                         "nonoverrideable-black *@malware.example\n"
                                         "nonoverrideable-black user@tagged.example\n")},
                                   {});
  const std::string rejected = "action=REJECT sender address rejected by policy";
  struct Case {
    const char* name;
    CheckWhat what;
    const char* sender;
    const char* recipient;
    const char* delimiters;
    const char* want;
  };
  const Case cases[] = {
      {"an @ in the local part is no listed user", CheckWhat::Sender,
       "postmaster@x@malware.example", "", "", rejected.c_str()},
      {"A-label, U-label entry", CheckWhat::Sender, "ceo@xn--bcher-kva.example", "", "",
       "action=OK"},
      {"null sender", CheckWhat::Sender, "", "", "", "action=DUNNO"},
      {"recipient", CheckWhat::Recipient,
       "ceo@b\xC3\xBC"
       "cher.example",
       "x@malware.example", "", "action=REJECT recipient address rejected by policy"},
      {"white recipient beats black sender", CheckWhat::Both, "x@malware.example",
       "postmaster@dest.example", "", "action=OK"},
      {"black recipient beats white sender", CheckWhat::Both, "postmaster@a.example",
       "x@malware.example", "", "action=REJECT recipient address rejected by policy"},
      {"unlisted recipient, black sender", CheckWhat::Both, "x@malware.example", "r@dest.example",
       "", rejected.c_str()},
      {"extension without delimiter", CheckWhat::Sender, "user+tag@tagged.example", "", "",
       "action=DUNNO"},
      {"extension cut", CheckWhat::Sender, "user+tag@tagged.example", "", "+", rejected.c_str()},
      {"extension listed as such", CheckWhat::Sender, "User+NewZ@tagged.example", "", "+",
       "action=OK"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PolicyRequest request;
    request.attributes = {{"sender", c.sender}, {"recipient", c.recipient}};
    DecideOptions options;
    options.what = c.what;
    options.delimiters = c.delimiters;
    EXPECT_EQ(c.want, decide(*lists, request, options).action);
  }
}

TEST_F(Decide, ListFilesFirstThenTheDatabaseForTheRecipient) {
  const auto lists =
      ListSet::load({list("l.list", "nonoverrideable-white friend@spam.example\n")}, {});
  lists::DbPolicyData data;
  data.entities = {{5, "*@example.com", 6}};
  data.bindings = {{5, 5, "Blocked", "nonoverrideable-black", 0},
                   {5, 4, "VIP", "overrideable-white", 1}};
  data.members = {{5, {"*@spam.example"}}, {4, {"boss@partner.example"}}};
  const auto db = lists::DbPolicy::build(data);
  const std::string rejected = "action=REJECT sender address rejected by policy";
  struct Case {
    const char* sender;
    const char* recipient;
    const char* delimiters;
    std::string want;
  };
  const Case cases[] = {
      {"friend@spam.example", "bob@example.com", "", "action=OK"},
      {"x@spam.example", "bob@example.com", "", rejected},
      {"x@spam.example", "bob@other.example", "", "action=DUNNO"},
      {"x@spam.example", "", "", "action=DUNNO"},
      {"", "bob@example.com", "", "action=DUNNO"},
      {"Boss@Partner.example", "BOB@example.com", "", "action=OK"},
      {"boss+tag@partner.example", "bob+news@example.com", "+", "action=OK"},
      {"boss+tag@partner.example", "bob@example.com", "", "action=DUNNO"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.sender) + " to " + c.recipient);
    PolicyRequest request;
    request.attributes = {{"sender", c.sender}, {"recipient", c.recipient}};
    DecideOptions options;
    options.delimiters = c.delimiters;
    EXPECT_EQ(c.want, decide(lists.get(), db.get(), request, options).action);
  }
}

TEST_F(Decide, AnswersWithTheActionAndHeaderAsked) {
  const auto lists = ListSet::load({list("l.list",
                                         "nonoverrideable-black *@malware.example\n"
                                         "\n"
                                         "nonoverrideable-white ceo@example.com\n")},
                                   {});
  struct Case {
    BlackAction action;
    const char* header;
    const char* text;
    const char* black;
    const char* white;
  };
  const Case cases[] = {
      {BlackAction::Reject, "", "go away", "action=REJECT go away", "action=OK"},
      {BlackAction::DeferIfPermit, "", "",
       "action=DEFER_IF_PERMIT sender address rejected by policy", "action=OK"},
      {BlackAction::Warn, "", "", "action=WARN sender address rejected by policy", "action=OK"},
      {BlackAction::Reject, "X-Quor-Policy", "", "action=REJECT sender address rejected by policy",
       "action=PREPEND X-Quor-Policy: white-listed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.black) + " / " + c.white);
    DecideOptions options;
    options.blackAction = c.action;
    options.prependHeader = c.header;
    options.rejectText = c.text;
    PolicyRequest request;
    request.attributes = {{"sender", "x@malware.example"}};
    EXPECT_EQ(c.black, decide(*lists, request, options).action);
    request.attributes = {{"sender", "ceo@example.com"}};
    EXPECT_EQ(c.white, decide(*lists, request, options).action);
  }

  // The log names the entry and escapes what the client sent.
  PolicyRequest request;
  request.attributes = {{"queue_id", "4F2A1"},
                        {"client_address", "192.0.2.7"},
                        {"sender", "x\x1b[2J@malware.example"},
                        {"recipient", "r@dest.example"}};
  EXPECT_EQ(
      "decision: queue_id=4F2A1 client_address=192.0.2.7 sender=<x\\x1b[2J@malware.example> "
      "recipient=<r@dest.example> black-listed action=REJECT by=sender list=" +
          (_dir / "l.list").string() + " line=1 pattern=*@malware.example",
      decisionLogLine(lists.get(), request, decide(*lists, request, {})));
  request.attributes = {{"sender", "n@n.example"}};
  EXPECT_EQ(
      "decision: queue_id=NOQUEUE client_address= sender=<n@n.example> recipient=<> "
      "not-listed action=DUNNO",
      decisionLogLine(lists.get(), request, decide(*lists, request, {})));
}

}  // namespace
}  // namespace quor::service
