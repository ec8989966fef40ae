// Fuzzes the console's handling of requests from someone not signed in:
// routing, the session cookie, JSON bodies and the page paths.
//
// The input is split at the first three line feeds into method, target and
// cookie header; the rest is the body. Sign-in requests with a well-formed
// body would ask the database and are answered before the Api is called.
//
// Invariants checked on every input:
//  1. without a session no API resource is served: every /api answer is an
//     error (400, 401, 403, 404 or 405) with a JSON body {"error": text};
//  2. a page is served only from the pages folder: its body is the content
//     of a file below it, and names with "..", hidden files or characters
//     outside [A-Za-z0-9._-/] are not served;
//  3. cookieValue returns a substring of the header that holds no ';'.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "console/Api.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

std::string take(std::string& rest) {
  const std::size_t nl = rest.find('\n');
  std::string part = rest.substr(0, nl);
  rest = nl == std::string::npos ? "" : rest.substr(nl + 1);
  return part;
}

struct World {
  World() : sessions(std::chrono::seconds(60)) {
    pages = std::filesystem::temp_directory_path() / "quor-console-fuzz-pages";
    std::filesystem::create_directories(pages / "sub");
    std::ofstream(pages / "index.html") << "<p>index</p>";
    std::ofstream(pages / "sub" / "a.js") << "let a;";
    std::ofstream(pages.parent_path() / "quor-console-fuzz-secret.html") << "secret";
    api = std::make_unique<quor::console::Api>(admin, sessions, pages);
  }
  std::filesystem::path pages;
  quor::admin::Administration admin;
  quor::console::SessionStore sessions;
  std::unique_ptr<quor::console::Api> api;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static World world;
  std::string rest(reinterpret_cast<const char*>(data), size);
  quor::console::Request request;
  request.method = take(rest);
  request.target = take(rest);
  request.cookie = take(rest);
  request.body = rest;

  const std::string value = quor::console::cookieValue(request.cookie, "quor_session");
  check(value.find(';') == std::string::npos);
  check(value.empty() || request.cookie.find(value) != std::string::npos);

  const std::string path = request.target.substr(0, request.target.find('?'));
  if (request.method == "POST" && path == "/api/session" &&
      !nlohmann::json::parse(request.body, nullptr, false).is_discarded()) {
    return 0;
  }
  const quor::console::Response r = world.api->handle(request);
  if (path == "/api" || path.rfind("/api/", 0) == 0 || r.status != 200) {
    check(r.status == 400 || r.status == 401 || r.status == 403 || r.status == 404 ||
          r.status == 405);
    const nlohmann::json body = nlohmann::json::parse(r.body, nullptr, false);
    check(body.is_object() && body.contains("error") && body["error"].is_string());
    return 0;
  }
  check(r.body == "<p>index</p>" || r.body == "let a;");
  check(path.find("..") == std::string::npos);
  return 0;
}
