// quorpolicy console: the administration console in a browser.
//
//   quorpolicy console [--listen ADDR:PORT] [--tls-cert PEM --tls-key PEM]
//                      [--insecure-http] [--threads N] [--pages DIR] [--home DIR]
//
// Serves the pages and the JSON API on ADDR:PORT (default 127.0.0.1:8080)
// for the policy database of the installation root, which is read once at
// start. Prints "listening on ADDR:PORT" when ready; SIGINT or SIGTERM stop
// it.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "RdbmsInterface.h"
#include "admin/Administration.h"
#include "admin/LibraryLog.h"
#include "console/Api.h"
#include "console/HttpServer.h"
#include "tools/quorpolicy/Command.h"
#include "tools/quorpolicy/RootDatabase.h"

namespace quor::tool {
namespace {

struct ConsoleOptions {
  std::string home;
  std::string listen = "127.0.0.1:8080";
  std::string pages;
  console::ServerOptions server;
};

// The pages: --pages, else the share folder beside the installed tool, the
// configured share folder, the source tree (a tool run from the build tree).
std::filesystem::path pagesFolder(const std::string& given) {
  std::vector<std::filesystem::path> candidates;
  if (!given.empty()) candidates.emplace_back(given);
  if (const std::filesystem::path exe = executableDir(); !exe.empty()) {
    candidates.push_back(exe.parent_path() / "share" / "quorpolicy" / "console");
  }
#ifdef QUOR_CONSOLE_INSTALL_DIR
  candidates.emplace_back(QUOR_CONSOLE_INSTALL_DIR);
#endif
#ifdef QUOR_CONSOLE_SOURCE_DIR
  candidates.emplace_back(QUOR_CONSOLE_SOURCE_DIR);
#endif
  for (const std::filesystem::path& c : candidates) {
    if (std::filesystem::is_regular_file(c / "index.html")) return c;
  }
  throw CommandError(kExitNotFound,
                     "the console's pages (index.html) were not found; name "
                     "their folder with --pages");
}

void runConsole(ConsoleOptions& options) {
  const std::size_t colon = options.listen.rfind(':');
  if (colon == std::string::npos || colon + 1 == options.listen.size()) {
    throw CommandError(kExitBadInput, "--listen wants ADDR:PORT, not '" + options.listen + "'");
  }
  std::string host = options.listen.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  unsigned long port = 0;
  try {
    std::size_t used = 0;
    port = std::stoul(options.listen.substr(colon + 1), &used);
    if (used != options.listen.size() - colon - 1 || port > 65535) throw std::out_of_range("");
  } catch (const std::exception&) {
    throw CommandError(kExitBadInput, "--listen has a bad port: '" + options.listen + "'");
  }
  options.server.address = host;
  options.server.port = static_cast<unsigned short>(port);
  if (const std::string why = console::listenProblem(options.server); !why.empty()) {
    throw CommandError(kExitRefused, why);
  }
  const std::filesystem::path pages = pagesFolder(options.pages);

  selectRoot(options.home);
  admin::LibraryLogRouter router;
  {
    admin::RequestLog log;
    const int connections = std::max(2, options.server.threads * 2);
    if (!QUOR::RdbmsInterface::Init(connections, nullptr, nullptr, nullptr, nullptr, nullptr)) {
      throw CommandError(kExitFailure,
                         "cannot open the policy database: " +
                             (log.errors().empty() ? std::string("see config/database.ini")
                                                   : log.errors().back()));
    }
  }
  admin::Administration administration;
  console::SessionStore sessions(std::chrono::minutes(30));
  console::Api api(administration, sessions, pages);
  std::unique_ptr<console::HttpServer> server;
  try {
    server = std::make_unique<console::HttpServer>(api, options.server);
  } catch (const std::runtime_error& e) {
    throw CommandError(kExitRefused, e.what());
  }
  std::printf("listening on %s:%u\n", host.c_str(), static_cast<unsigned>(server->port()));
  std::fflush(stdout);
  server->run();
}

void registerConsole(CLI::App& app) {
  auto options = std::make_shared<ConsoleOptions>();
  CLI::App* cmd = app.add_subcommand("console", "Serve the administration console in a browser");
  cmd->add_option("--home", options->home, "Installation root (default: $QUOR_HOME)");
  cmd->add_option("--listen", options->listen, "ADDR:PORT to listen on (default 127.0.0.1:8080)");
  cmd->add_option("--tls-cert", options->server.tlsCert, "PEM certificate chain for HTTPS");
  cmd->add_option("--tls-key", options->server.tlsKey, "PEM private key for HTTPS");
  cmd->add_flag("--insecure-http", options->server.insecureHttp,
                "Allow plain HTTP on an address beyond loopback");
  cmd->add_option("--threads", options->server.threads, "Worker threads (default 16)")
      ->check(CLI::Range(1, 64));
  cmd->add_option("--pages", options->pages, "Folder of the console's pages");
  cmd->callback([options] { runConsole(*options); });
}

const CommandRegistration kConsoleRegistration(45, registerConsole);

}  // namespace
}  // namespace quor::tool
