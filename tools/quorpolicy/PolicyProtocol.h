// The access policy delegation protocol of SMTP servers, server side.
//
// A client sends a request as "name=value" lines, each ending with a line
// feed, and ends it with an empty line; the answer is one "action=..." line
// and an empty line. One connection carries any number of requests, one after
// the other. Line ends of CR LF are accepted as well.
//
// This file holds what does not touch the network: cutting the byte stream
// into requests (with the size limits that keep a client from holding a
// worker), and turning a request into an action with the loaded lists.
#ifndef QUORPOLICY_TOOLS_QUORPOLICY_POLICYPROTOCOL_H_
#define QUORPOLICY_TOOLS_QUORPOLICY_POLICYPROTOCOL_H_

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/quorpolicy/ListSet.h"

namespace quor::tool {

// A request of more than this many bytes without its ending empty line ends
// the connection: the client is not speaking the protocol.
inline constexpr std::size_t kMaxRequestBytes = 64 * 1024;
// An attribute line longer than this makes the request malformed.
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
  std::string error;      // Malformed and Overflow: why, for the log
};

// Collects the bytes of one connection and cuts them into requests.
class RequestBuffer {
 public:
  void append(std::string_view bytes) { _data.append(bytes); }
  // The next complete request, a malformed one (answered "DUNNO", the
  // connection goes on), an overflow (the connection must end), or nothing
  // when more bytes are needed.
  std::optional<ParsedRequest> next();
  // True when bytes of an unfinished request are waiting.
  bool pending() const { return _used < _data.size(); }

 private:
  std::string _data;
  std::size_t _used = 0;  // bytes of _data already cut into requests
};

enum class CheckWhat { Sender, Recipient, Both };

// What the server answers, and why (for the statistics).
struct PolicyDecision {
  enum Kind { Ok, Reject, Dunno };
  Kind kind = Dunno;
  std::string action;  // the whole answer line without its line end
};

// Decides a request: "action=REJECT <text>" when an address checked is
// black-listed, "action=OK" when one is white-listed (and none black),
// "action=DUNNO" otherwise. An empty or absent address (the null sender of
// bounces) is not listed. `rejectText` empty gives a text that names the
// deciding list file (its last path component), never the pattern.
PolicyDecision decide(const ListSet& lists, const PolicyRequest& request, CheckWhat what,
                      const std::string& rejectText);

// The answer to a malformed request.
PolicyDecision dunno();

}  // namespace quor::tool

#endif  // QUORPOLICY_TOOLS_QUORPOLICY_POLICYPROTOCOL_H_
