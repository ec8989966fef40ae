// The access policy delegation protocol of SMTP servers, server side.
//
// A client sends a request as "name=value" lines, each ending with a line
// feed, and ends it with an empty line; the answer is one "action=..." line
// and an empty line. One connection carries any number of requests, one after
// the other. Line ends of CR LF are accepted as well.
//
// This file holds what does not touch the network: cutting the byte stream
// into requests (with the size limits that keep a client from holding a
// worker), turning a request into an action with the loaded lists, and the
// log line of a decision.
#ifndef QUORPOLICY_SERVICE_POLICYPROTOCOL_H_
#define QUORPOLICY_SERVICE_POLICYPROTOCOL_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "lists/ListSet.h"
#include "lists/db/DbPolicy.h"

namespace quor::service {

// A request of more than this many bytes, its ending empty line included,
// ends the connection: the client is not speaking the protocol.
inline constexpr std::size_t kMaxRequestBytes = 64 * 1024;
// An attribute line longer than this (its line end not counted) ends it too.
inline constexpr std::size_t kMaxAttributeBytes = 4096;

struct PolicyRequest {
  std::vector<std::pair<std::string, std::string>> attributes;  // in arrival order
  // The value of the last attribute of that name; empty when absent.
  std::optional<std::string_view> get(std::string_view name) const;
};

// One thing taken from the byte stream.
struct ParsedRequest {
  enum Kind { Request, Malformed, Overflow };
  Kind kind = Request;
  PolicyRequest request;  // Request
  std::string error;      // Malformed and Overflow: why, the client's bytes escaped
};

// Collects the bytes of one connection and cuts them into requests.
//
// A request is a run of "name=value" lines ended by an empty line, and its
// "request" attribute is "smtpd_access_policy". Anything else is not
// understood: a line without "=" or with an empty name, a line longer than
// kMaxAttributeBytes, no end within kMaxRequestBytes, a missing or other
// request type. Such a request is reported (Malformed or Overflow) as soon as
// the bytes received prove it, and nothing after it is ever returned: the
// server must close the connection without an answer, so that the SMTP server
// applies its own default instead of a guess. Empty lines between requests
// are skipped. What is returned does not depend on how the bytes were split
// into appends.
class RequestBuffer {
 public:
  void append(std::string_view bytes);
  // The next complete request, a request that is not understood, or nothing
  // when more bytes are needed (or after a request not understood).
  std::optional<ParsedRequest> next();
  // True when bytes of an unfinished request are waiting.
  bool pending() const { return _line < _data.size() || !_current.attributes.empty(); }

 private:
  std::optional<ParsedRequest> fail(ParsedRequest::Kind kind, std::string error);

  std::string _data;
  std::size_t _line = 0;   // start of the first line of _data not yet taken
  std::size_t _start = 0;  // bytes of the current request before _line
  PolicyRequest _current;  // its attributes so far
  bool _failed = false;
};

// `bytes` for a log line: printable ASCII and valid UTF-8 as they are; control
// characters (C0, DEL, C1), spaces, backslashes and bytes that are not UTF-8
// as \xNN. At most about `limit` characters; a cut shows "...".
std::string escapeForLog(std::string_view bytes, std::size_t limit = 120);

enum class CheckWhat { Sender, Recipient, Both };

// The answer given for a black-listed address.
enum class BlackAction { Reject, DeferIfPermit, Warn };

struct DecideOptions {
  CheckWhat what = CheckWhat::Sender;
  BlackAction blackAction = BlackAction::Reject;
  // The text of REJECT, DEFER_IF_PERMIT and WARN answers, one line; empty
  // gives "sender address rejected by policy" (or "recipient ...").
  std::string rejectText;
  // A header name: white-listed mail, and black-listed mail under Warn, is
  // answered "PREPEND <name>: white-listed" (or "black-listed") instead of
  // OK (or WARN). Empty: no header.
  std::string prependHeader;
  // The characters that start an address extension ("+"); empty: none.
  std::string delimiters;
};

// What the server answers, and why (for the statistics and the log).
struct PolicyDecision {
  // Reject: black-listed, whatever the action; Ok: white-listed.
  enum Kind { Ok, Reject, Dunno };
  Kind kind = Dunno;
  std::string action;          // the whole answer line without its line end
  const char* role = nullptr;  // the address that decided: "sender", "recipient"
  std::size_t list = 0;        // the deciding list's position
  std::size_t line = 0;        // the entry's line; 0 unknown
  std::string pattern;         // the deciding pattern
  // Decided by the policy database's sender lists: what decided there (the
  // list and line above are then unused).
  std::optional<lists::DbDecision> db;
};

// Decides a request. The addresses are brought to the lists' form first
// (AddressNorm.h); an empty or absent address (the null sender of bounces) is
// not listed. With delimiters, "user+tag@d" is decided as "user@d" unless an
// entry naming "user+tag" decides it. Sender or recipient decides as checked;
// with Both the recipient decides when it is listed and the sender otherwise,
// so that a white-listed recipient (postmaster@) stays reachable from a
// black-listed sender. Black-listed: the black action; white-listed: "OK";
// otherwise "DUNNO".
PolicyDecision decide(const lists::ListSet& lists, const PolicyRequest& request,
                      const DecideOptions& options);

// Decides from the list files and the policy database together, either of
// which may be absent. The list files decide first: when they list the
// checked address, that is the answer. Otherwise the database's sender lists
// decide the sender for the request's recipient (as the sender is decided
// above, extension rule included). A request without a single recipient (the
// DATA stage) or with the null sender is not decided by the database.
PolicyDecision decide(const lists::ListSet* lists, const lists::DbPolicy* db,
                      const PolicyRequest& request, const DecideOptions& options);

// One line for the log about a decision: Postfix's queue_id, client_address,
// sender and recipient, the decision, and for a listed one the address that
// decided and either list file, line and pattern or (from the database)
// entity, group, member pattern and membership; every value escaped.
std::string decisionLogLine(const lists::ListSet* lists, const PolicyRequest& request,
                            const PolicyDecision& decision);

}  // namespace quor::service

#endif  // QUORPOLICY_SERVICE_POLICYPROTOCOL_H_
