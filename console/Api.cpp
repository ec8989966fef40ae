#include "console/Api.h"

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "PolicyLog.h"
#include "admin/BindingJson.h"

namespace quor::console {
namespace {

using admin::Outcome;
using nlohmann::json;

constexpr std::uintmax_t kMaxPageSize = 1 << 20;

Response answer(unsigned status, const json& body) {
  Response r;
  r.status = status;
  r.body = body.dump(-1, ' ', false, json::error_handler_t::replace);
  return r;
}

Response error(unsigned status, const std::string& message) {
  return answer(status, json{{"error", message}});
}

Response noContent() {
  Response r;
  r.status = 204;
  return r;
}

Response fromResult(const admin::Result& result) {
  switch (result.outcome) {
    case Outcome::kOk:
      return answer(200, json::object());
    case Outcome::kNotVisible:
      return error(404, result.message);
    case Outcome::kRefused:
      return error(403, result.message);
    case Outcome::kBadInput:
      return error(400, result.message);
    case Outcome::kFailed:
      break;
  }
  return error(500, result.message);
}

// Printable ASCII as is, anything else as \xNN: names from the network go
// into the log only this way.
std::string printable(const std::string& text) {
  std::string out;
  for (const unsigned char c : text.substr(0, 128)) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

// An id in a path: 1 to 10 digits within 32 bits.
std::optional<std::uint32_t> parseId(const std::string& text) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  std::uint64_t v = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  if (v > 0xFFFFFFFFull) return std::nullopt;
  return static_cast<std::uint32_t>(v);
}

// The JSON object of a body, or an error answer in `bad`.
std::optional<json> objectBody(const Request& request, Response& bad) {
  json body = json::parse(request.body, nullptr, false);
  if (body.is_discarded()) {
    bad = error(400, "the body is not well-formed JSON");
    return std::nullopt;
  }
  if (!body.is_object()) {
    bad = error(400, "the body is not a JSON object");
    return std::nullopt;
  }
  return body;
}

bool stringField(const json& body, const char* key, std::string& out, Response& bad) {
  auto it = body.find(key);
  if (it == body.end() || !it->is_string()) {
    bad = error(400, std::string("the field \"") + key + "\" is missing or not a string");
    return false;
  }
  out = it->get<std::string>();
  return true;
}

bool membersField(const json& body, std::vector<std::string>& out, Response& bad) {
  auto it = body.find("members");
  if (it == body.end() || !it->is_array()) {
    bad = error(400, "the field \"members\" is missing or not an array");
    return false;
  }
  for (const json& m : *it) {
    if (!m.is_string()) {
      bad = error(400, "a member is not a string");
      return false;
    }
    out.push_back(m.get<std::string>());
  }
  return true;
}

// An unsigned 32-bit field of a body.
bool idField(const json& body, const char* key, std::uint32_t& out, Response& bad) {
  auto it = body.find(key);
  if (it == body.end() || !it->is_number_unsigned() || it->get<std::uint64_t>() > 0xFFFFFFFFull) {
    bad = error(400, std::string("the field \"") + key + "\" is missing or not an id");
    return false;
  }
  out = it->get<std::uint32_t>();
  return true;
}

// The value of `name` in the query of `target`, or empty.
std::string queryValue(const std::string& target, const std::string& name) {
  const std::size_t q = target.find('?');
  if (q == std::string::npos) return "";
  return cookieValue(target.substr(q + 1), name, '&');
}

// The answer to a refused binding change: outside the scope looks the same
// as missing, whatever the reason.
Response bindingRefusal(const admin::Result& r) {
  if (r.outcome == Outcome::kNotVisible || r.outOfScope) {
    return error(404, "no such entity or address group");
  }
  return fromResult(r);
}

json settingsJson(const admin::ServerSettings& s) {
  return {{"backlog", s.backlog},
          {"keepAlive", s.keepAlive},
          {"port", s.port},
          {"https", s.https},
          {"recvTimeoutSecs", s.recvTimeoutSecs},
          {"sendTimeoutSecs", s.sendTimeoutSecs},
          {"threads", s.threads},
          {"maxThreads", s.maxThreads},
          {"cacheTTLMins", s.cacheTTLMins}};
}

json entityJson(const admin::EntityNode& node) {
  json children = json::array();
  for (const admin::EntityNode& c : node.children) children.push_back(entityJson(c));
  return {{"id", node.id}, {"type", node.type}, {"name", node.name}, {"children", children}};
}

const char* contentTypeOf(const std::filesystem::path& file) {
  const std::string ext = file.extension().string();
  if (ext == ".html") return "text/html; charset=utf-8";
  if (ext == ".css") return "text/css; charset=utf-8";
  if (ext == ".js") return "text/javascript; charset=utf-8";
  if (ext == ".png") return "image/png";
  if (ext == ".svg") return "image/svg+xml";
  return nullptr;
}

}  // namespace

std::string cookieValue(const std::string& header, const std::string& name, char separator) {
  std::size_t pos = 0;
  while (pos < header.size()) {
    std::size_t end = header.find(separator, pos);
    if (end == std::string::npos) end = header.size();
    std::string pair = header.substr(pos, end - pos);
    const std::size_t first = pair.find_first_not_of(' ');
    if (first != std::string::npos) pair.erase(0, first);
    if (pair.size() > name.size() && pair.compare(0, name.size(), name) == 0 &&
        pair[name.size()] == '=') {
      return pair.substr(name.size() + 1);
    }
    pos = end + 1;
  }
  return "";
}

Api::Api(admin::Administration& admin, SessionStore& sessions, std::filesystem::path pages)
    : _admin(admin), _sessions(sessions), _pages(std::move(pages)) {}

Response Api::handle(const Request& request) {
  std::string path = request.target.substr(0, request.target.find('?'));
  if (path == "/api" || path.rfind("/api/", 0) == 0) return api(request, path);
  if (request.method != "GET" && request.method != "HEAD") {
    return error(405, "pages are only read");
  }
  return page(path);
}

Response Api::page(const std::string& path) {
  // A target that is not an absolute path (an empty one, "*") names no page.
  if (path.empty() || path[0] != '/') return error(404, "no such page");
  std::string rel = path == "/" ? "index.html" : path.substr(1);
  // Only plain names below the folder: no "..", no hidden files, no escapes.
  if (rel.empty() || rel.size() > 128) return error(404, "no such page");
  std::size_t start = 0;
  while (start <= rel.size()) {
    std::size_t end = rel.find('/', start);
    if (end == std::string::npos) end = rel.size();
    const std::string part = rel.substr(start, end - start);
    if (part.empty() || part[0] == '.') return error(404, "no such page");
    for (const char c : part) {
      const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '_' || c == '.';
      if (!ok) return error(404, "no such page");
    }
    start = end + 1;
  }
  const std::filesystem::path file = _pages / rel;
  const char* type = contentTypeOf(file);
  std::error_code ec;
  if (type == nullptr || !std::filesystem::is_regular_file(file, ec) ||
      std::filesystem::file_size(file, ec) > kMaxPageSize) {
    return error(404, "no such page");
  }
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in && !in.eof()) return error(404, "no such page");
  Response r;
  r.contentType = type;
  r.body = text.str();
  return r;
}

Response Api::signIn(const Request& request) {
  Response bad;
  std::optional<json> body = objectBody(request, bad);
  if (!body) return bad;
  std::string name;
  std::string password;
  if (!stringField(*body, "admin", name, bad) || !stringField(*body, "password", password, bad)) {
    return bad;
  }
  std::uint32_t adminId = 0;
  const admin::Result r = _admin.signIn(name, password, adminId);
  if (r.outcome == Outcome::kFailed) return fromResult(r);
  if (!r.ok()) {
    PolicyLog::log(PolicyLog::Warning, "console: failed sign-in as \"%s\" from %s",
                   printable(name).c_str(), printable(request.client).c_str());
    Response refused = error(401, "wrong name or password");
    refused.delay = _throttle.fail(name, request.client);
    return refused;
  }
  _throttle.succeed(name);
  std::string shown;
  bool root = false;
  _admin.describeAdmin(adminId, shown, root);
  const std::string key = _sessions.open(adminId);
  const std::optional<Session> session = _sessions.use(key);
  Response ok =
      answer(200, json{{"csrf", session ? session->csrf : ""}, {"admin", shown}, {"root", root}});
  ok.setCookies.push_back(std::string(kSessionCookie) + "=" + key +
                          "; HttpOnly; SameSite=Strict; Path=/" + (request.tls ? "; Secure" : ""));
  return ok;
}

Response Api::api(const Request& request, const std::string& path) {
  const std::string& method = request.method;
  if (path == "/api/session" && method == "POST") return signIn(request);

  const std::string key = cookieValue(request.cookie, kSessionCookie);
  const std::optional<Session> session = key.empty() ? std::nullopt : _sessions.use(key);
  if (!session) return error(401, "not signed in");
  const bool changing = method != "GET" && method != "HEAD";
  if (changing && (request.csrf.empty() || request.csrf != session->csrf)) {
    return error(403, "the request lacks the session's X-CSRF-Token");
  }
  const std::uint32_t me = session->adminId;

  if (path == "/api/session") {
    if (method == "DELETE") {
      _sessions.close(key);
      Response r = noContent();
      r.setCookies.push_back(std::string(kSessionCookie) +
                             "=; HttpOnly; SameSite=Strict; Path=/; Max-Age=0");
      return r;
    }
    if (method != "GET") return error(405, "method not allowed");
    std::string name;
    bool root = false;
    if (admin::Result r = _admin.describeAdmin(me, name, root); !r.ok()) return fromResult(r);
    return answer(200, json{{"csrf", session->csrf}, {"admin", name}, {"root", root}});
  }

  Response bad;
  static const std::string kGroups = "/api/address-groups";
  static const std::string kAreas = "/api/quarantine-areas";
  if (path == kGroups) {
    if (method == "GET") {
      std::vector<SummaryNamedObject> groups;
      if (admin::Result r = _admin.listGroups(me, groups); !r.ok()) return fromResult(r);
      json out = json::array();
      for (const SummaryNamedObject& g : groups) {
        out.push_back(
            {{"id", g.id}, {"name", g.name}, {"editable", g.editable}, {"deletable", g.deletable}});
      }
      return answer(200, out);
    }
    if (method != "POST") return error(405, "method not allowed");
    std::optional<json> body = objectBody(request, bad);
    std::string name;
    std::vector<std::string> members;
    if (!body || !stringField(*body, "name", name, bad) || !membersField(*body, members, bad)) {
      return bad;
    }
    std::uint32_t id = 0;
    if (admin::Result r = _admin.createGroup(me, name, members, id); !r.ok()) return fromResult(r);
    return answer(201, json{{"id", id}});
  }
  if (path.rfind(kGroups + "/", 0) == 0) {
    const std::optional<std::uint32_t> id = parseId(path.substr(kGroups.size() + 1));
    if (!id) return error(404, "no such address group");
    if (method == "GET") {
      admin::Group g;
      if (admin::Result r = _admin.getGroup(me, *id, g); !r.ok()) return fromResult(r);
      return answer(200, json{{"id", g.id},
                              {"name", g.name},
                              {"members", g.members},
                              {"editable", g.editable},
                              {"deletable", g.deletable}});
    }
    if (method == "DELETE") {
      if (admin::Result r = _admin.deleteGroup(me, *id); !r.ok()) return fromResult(r);
      return noContent();
    }
    if (method != "PUT") return error(405, "method not allowed");
    std::optional<json> body = objectBody(request, bad);
    std::string name;
    std::vector<std::string> members;
    if (!body || !stringField(*body, "name", name, bad) || !membersField(*body, members, bad)) {
      return bad;
    }
    if (admin::Result r = _admin.modifyGroup(me, *id, name, members); !r.ok()) {
      return fromResult(r);
    }
    return answer(200, json{{"id", *id}});
  }
  if (path == kAreas) {
    if (method != "GET") return error(405, "method not allowed");
    std::vector<QuarantineData> areas;
    if (admin::Result r = _admin.listAreas(me, areas); !r.ok()) return fromResult(r);
    json out = json::array();
    for (const QuarantineData& a : areas) {
      out.push_back(
          {{"id", a.id}, {"name", a.name}, {"content", a.content}, {"editable", a.editable}});
    }
    return answer(200, out);
  }
  if (path.rfind(kAreas + "/", 0) == 0) {
    const std::optional<std::uint32_t> id = parseId(path.substr(kAreas.size() + 1));
    if (!id) return error(404, "no such quarantine area");
    if (method == "GET") {
      QuarantineData a;
      if (admin::Result r = _admin.getArea(me, *id, a); !r.ok()) return fromResult(r);
      return answer(
          200,
          json{{"id", a.id}, {"name", a.name}, {"content", a.content}, {"editable", a.editable}});
    }
    if (method != "PUT") return error(405, "method not allowed");
    std::optional<json> body = objectBody(request, bad);
    std::string name;
    std::string content;
    if (!body || !stringField(*body, "name", name, bad) ||
        !stringField(*body, "content", content, bad)) {
      return bad;
    }
    if (admin::Result r = _admin.modifyArea(me, *id, name, content); !r.ok()) {
      return fromResult(r);
    }
    return answer(200, json{{"id", *id}});
  }
  if (path == "/api/entities") {
    if (method != "GET") return error(405, "method not allowed");
    std::vector<admin::EntityNode> roots;
    if (admin::Result r = _admin.entityTree(me, roots); !r.ok()) return fromResult(r);
    json out = json::array();
    for (const admin::EntityNode& n : roots) out.push_back(entityJson(n));
    return answer(200, out);
  }
  if (path == "/api/bindings" || path.rfind("/api/bindings/", 0) == 0) {
    return bindings(request, path, me);
  }
  if (path == "/api/settings") return settings(request, me);
  if (path == "/api/rule-order") {
    if (method != "GET") return error(405, "method not allowed");
    admin::RuleOrder order;
    if (admin::Result r = _admin.ruleOrder(me, order); !r.ok()) return fromResult(r);
    json groups = json::array();
    for (const auto& [kind, name] : order.groups)
      groups.push_back({{"kind", kind}, {"name", name}});
    return answer(200, json{{"manual", order.manual}, {"groups", groups}});
  }
  if (path == "/api/policy-servers") {
    if (method != "GET") return error(405, "method not allowed");
    std::vector<admin::PolicyServer> servers;
    if (admin::Result r = _admin.policyServers(me, servers); !r.ok()) return fromResult(r);
    json out = json::array();
    for (const admin::PolicyServer& p : servers) {
      out.push_back({{"id", p.id}, {"address", p.address}, {"port", p.port}});
    }
    return answer(200, out);
  }
  if (path == "/api/changes") {
    if (method != "GET") return error(405, "method not allowed");
    std::vector<admin::Change> changes;
    if (admin::Result r = _admin.changes(me, changes); !r.ok()) return fromResult(r);
    json out = json::array();
    for (const admin::Change& c : changes) {
      out.push_back({{"id", c.id},
                     {"time", c.time},
                     {"admin", c.adminName},
                     {"operation", c.operation},
                     {"objectId", c.objectId},
                     {"objectName", c.objectName}});
    }
    return answer(200, out);
  }
  return error(404, "no such API resource");
}

Response Api::bindings(const Request& request, const std::string& path, std::uint32_t me) {
  const std::string& method = request.method;
  if (path == "/api/bindings" && method == "GET") {
    std::uint32_t entity = 0;
    const std::string wanted = queryValue(request.target, "entity");
    if (!wanted.empty()) {
      const std::optional<std::uint32_t> id = parseId(wanted);
      if (!id || *id == 0) return error(400, "the entity is not an id");
      entity = *id;
    }
    std::vector<admin::Binding> found;
    if (admin::Result r = _admin.visibleBindings(me, entity, found); !r.ok()) {
      return bindingRefusal(r);
    }
    json out = json::array();
    for (const admin::Binding& b : found) out.push_back(b);
    return answer(200, out);
  }
  if (path == "/api/bindings") {
    if (method != "POST") return error(405, "method not allowed");
    Response bad;
    std::optional<json> body = objectBody(request, bad);
    std::uint32_t entity = 0;
    std::uint32_t group = 0;
    std::string membership;
    if (!body || !idField(*body, "entity", entity, bad) || !idField(*body, "group", group, bad) ||
        !stringField(*body, "membership", membership, bad)) {
      return bad;
    }
    // Absent or negative: after the entity's last list.
    int position = -1;
    if (auto it = body->find("position"); it != body->end() && !it->is_null()) {
      if (!it->is_number_integer() || it->get<std::int64_t>() > 1000000) {
        return error(400, "the field \"position\" is not a whole number up to 1000000");
      }
      position = static_cast<int>(std::max<std::int64_t>(-1, it->get<std::int64_t>()));
    }
    GroupEntity bound;
    if (admin::Result r = _admin.bind(me, entity, group, membership, position, bound); !r.ok()) {
      return bindingRefusal(r);
    }
    return answer(201, json{{"entity", entity}, {"group", group}, {"membership", membership}});
  }
  // /api/bindings/{entity}/{group}/{membership}
  if (method != "DELETE") return error(405, "method not allowed");
  const std::string rest = path.substr(std::string("/api/bindings/").size());
  const std::size_t first = rest.find('/');
  const std::size_t second = first == std::string::npos ? first : rest.find('/', first + 1);
  if (second == std::string::npos) return error(404, "no such binding");
  const std::optional<std::uint32_t> entity = parseId(rest.substr(0, first));
  const std::optional<std::uint32_t> group = parseId(rest.substr(first + 1, second - first - 1));
  const std::string membership = rest.substr(second + 1);
  const auto& known = admin::memberships();
  if (!entity || !group || std::find(known.begin(), known.end(), membership) == known.end()) {
    return error(404, "no such binding");
  }
  std::size_t removed = 0;
  if (admin::Result r = _admin.unbind(me, *entity, *group, membership, removed); !r.ok()) {
    return bindingRefusal(r);
  }
  return noContent();
}

Response Api::settings(const Request& request, std::uint32_t me) {
  if (request.method == "GET") {
    admin::ServerSettings s;
    std::vector<std::string> messages;
    if (admin::Result r = _admin.showSettings(me, s, messages); !r.ok()) return fromResult(r);
    return answer(200, json{{"settings", settingsJson(s)}, {"messages", messages}});
  }
  if (request.method != "PUT") return error(405, "method not allowed");
  Response bad;
  std::optional<json> body = objectBody(request, bad);
  if (!body) return bad;
  admin::ServerSettings s;
  std::vector<admin::FieldProblem> problems;
  const std::pair<const char*, unsigned*> numbers[] = {{"backlog", &s.backlog},
                                                       {"port", &s.port},
                                                       {"recvTimeoutSecs", &s.recvTimeoutSecs},
                                                       {"sendTimeoutSecs", &s.sendTimeoutSecs},
                                                       {"threads", &s.threads},
                                                       {"maxThreads", &s.maxThreads},
                                                       {"cacheTTLMins", &s.cacheTTLMins}};
  for (const auto& [key, out] : numbers) {
    auto it = body->find(key);
    if (it == body->end() || !it->is_number_unsigned() ||
        it->get<std::uint64_t>() > 0xFFFFFFFFull) {
      problems.push_back({key, "must be a whole number"});
    } else {
      *out = it->get<unsigned>();
    }
  }
  const std::pair<const char*, bool*> flags[] = {{"keepAlive", &s.keepAlive}, {"https", &s.https}};
  for (const auto& [key, out] : flags) {
    auto it = body->find(key);
    if (it == body->end() || !it->is_boolean()) {
      problems.push_back({key, "must be true or false"});
    } else {
      *out = it->get<bool>();
    }
  }
  admin::Result r;
  if (problems.empty()) r = _admin.setSettings(me, s, problems);
  if (!problems.empty()) {
    json fields = json::object();
    for (const admin::FieldProblem& p : problems) fields[p.field] = p.message;
    return answer(400, json{{"error", "some settings were refused"}, {"fields", fields}});
  }
  if (!r.ok()) return fromResult(r);
  return answer(200, json{{"settings", settingsJson(s)}});
}

}  // namespace quor::console
