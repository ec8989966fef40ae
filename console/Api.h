// The web console's answers: the JSON API under /api/ and the static pages,
// independent of the transport, so that the server, the tests and the fuzz
// target give it the same parsed requests.
//
// API (every body JSON; every error {"error": text} with a 4xx or 5xx and
// nothing changed):
//   POST   /api/session              {"admin","password"} -> {"csrf","admin","root"}
//   GET    /api/session              -> {"csrf","admin","root"}
//   DELETE /api/session              -> 204, the session ends
//   GET    /api/address-groups       -> [{"id","name","editable","deletable"}]
//   POST   /api/address-groups       {"name","members"} -> 201 {"id"}
//   GET    /api/address-groups/{id}  -> {"id","name","members","editable","deletable"}
//   PUT    /api/address-groups/{id}  {"name","members"} -> 200 {"id"}
//   DELETE /api/address-groups/{id}  -> 204
//   GET    /api/quarantine-areas     -> [{"id","name","content","editable"}]
//   GET    /api/quarantine-areas/{id}, PUT {"name","content"}
//   GET    /api/entities             -> [{"id","type","name","children"}]
//   GET    /api/bindings[?entity=ID] -> [{"entity","entityName","group","groupName",
//                                        "membership","position","decides"}]
//   POST   /api/bindings             {"entity","group","membership"[,"position"]} -> 201
//   DELETE /api/bindings/{entity}/{group}/{membership} -> 204
//   GET    /api/settings             -> {"settings": {...}, "messages": [...]}  (root)
//   PUT    /api/settings             {...} -> 200, or 400 {"error", "fields": {name: text}}
//   GET    /api/rule-order           -> {"manual", "groups": [{"kind","name"}]}  (root)
//   GET    /api/policy-servers       -> [{"id","address","port"}]  (root)
//   GET    /api/changes              -> [{"id","time","admin","operation","objectId","objectName"}]
// Every request but the sign-in needs the session cookie (401 otherwise);
// every request that changes state needs the session's token in
// X-CSRF-Token (403 otherwise). An object outside the administrator's scope
// answers 404 whether it exists or not; one that may be seen but not changed
// or deleted, 403.
//
// Thread safety: handle may run on many threads at once.
#ifndef QUORPOLICY_CONSOLE_API_H_
#define QUORPOLICY_CONSOLE_API_H_

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "admin/Administration.h"
#include "console/Sessions.h"

namespace quor::console {

inline constexpr const char* kSessionCookie = "quor_session";

struct Request {
  std::string method;  // "GET", "POST", ...
  std::string target;  // path and query as received
  std::string body;
  std::string cookie;  // the Cookie header
  std::string csrf;    // the X-CSRF-Token header
  std::string client;  // the peer's address
  bool tls = false;
};

struct Response {
  unsigned status = 200;
  std::string contentType = "application/json";
  std::string body;
  std::vector<std::string> setCookies;
  // A failed sign-in waits this long before the answer is sent.
  std::chrono::milliseconds delay{0};
};

class Api {
 public:
  // `pages`: the folder of the static pages. `admin` and `sessions` outlive
  // the Api.
  Api(admin::Administration& admin, SessionStore& sessions, std::filesystem::path pages);

  Response handle(const Request& request);

 private:
  Response api(const Request& request, const std::string& path);
  Response page(const std::string& path);
  Response signIn(const Request& request);
  Response bindings(const Request& request, const std::string& path, std::uint32_t me);
  Response settings(const Request& request, std::uint32_t me);

  admin::Administration& _admin;
  SessionStore& _sessions;
  SignInThrottle _throttle;
  std::filesystem::path _pages;
};

// The value of cookie `name` in a Cookie header, or empty; with `separator`
// '&', of a parameter in a query.
std::string cookieValue(const std::string& header, const std::string& name, char separator = ';');

}  // namespace quor::console

#endif  // QUORPOLICY_CONSOLE_API_H_
