// quorpolicy commands for the policy server settings, the registered policy
// servers, the manual rule order and administrator look-up:
//
//   settings show [--memory]     the server's settings as the server reads them
//   settings set [options]       write the server's settings to quor.ini
//   settings client [--memory]   the settings clients use to reach the server
//   settings set-client [opts]   write the client section of quor.ini
//   policy-servers               the registered policy servers
//   rule-order [--verify]        the manual order of the filter groups
//   admin-id NAME                an administrator's id
//
// The settings live in <QUOR_HOME>/config/quor.ini; the database commands
// use the installation's database configuration.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "GlobalSetting.h"
#include "QuorHome.h"
#include "QuorPolicyServerInterface.h"
#include "RdbmsInterface.h"
#include "admin/Administration.h"
#include "miscUtils.h"
#include "tools/quorpolicy/Command.h"
#include "tools/quorpolicy/RootDatabase.h"

namespace quor::tool {
namespace {

using P = QuorPolicyServerInterface;

// What the tool starts from before reading; the reader keeps these where a
// stored value is unusable.
struct ServerDefaults {
  unsigned int backlog = 100;
  bool keepAlive = true;
  unsigned int port = 5060;
  P::Protocol protocol = P::HTTP;
  unsigned int recvTimeoutSecs = 60;
  unsigned int sendTimeoutSecs = 60;
  unsigned int threads = 10;
  unsigned int maxThreads = 50;
  unsigned int cacheTTLMins = 1440;
};

void printMessages(const HeldLibraryLog& log) {
  const auto messages = log.messages();
  if (messages.empty()) return;
  std::printf("messages:\n");
  for (const auto& m : messages) std::printf("  %s\n", m.c_str());
}

const char* protocolName(P::Protocol p) { return p == P::HTTPS ? "https" : "http"; }

void requireHome() {
  if (getQuorHome() == nullptr) {
    throw CommandError(kExitBadInput, "QUOR_HOME is not set: it must name the installation root");
  }
}

// The in-memory store loads quor.ini once; an unusable store is reported as
// the reader reports it.
void loadMemoryStore() {
  QUOR::GlobalSettingOnMem::Instance(nullptr, true, nullptr, nullptr, nullptr, nullptr, true);
}

// ---- settings show / client ----

void showServer(bool memory) {
  requireHome();
  if (memory) loadMemoryStore();
  ServerDefaults s;
  QuorErrC rc;
  HeldLibraryLog log;
  rc = P::getSettingsFromDatabase(s.backlog, s.keepAlive, s.port, s.protocol, s.recvTimeoutSecs,
                                  s.sendTimeoutSecs, s.threads, s.maxThreads, s.cacheTTLMins,
                                  memory);
  if (rc == 0) {
    std::printf(
        "backlog = %u\nkeep-alive = %s\nPolicyServerPort = %u\nprotocol = %s\n"
        "recv_timeout_secs = %u\nsend_timeout_secs = %u\nthreads = %u\n"
        "max_threads = %u\nldap_cache_TTL_minutes = %u\n",
        s.backlog, s.keepAlive ? "yes" : "no", s.port, protocolName(s.protocol), s.recvTimeoutSecs,
        s.sendTimeoutSecs, s.threads, s.maxThreads, s.cacheTTLMins);
  }
  printMessages(log);
  if (rc != 0) {
    throw CommandError(kExitFailure, "the policy server settings could not be read (code " +
                                         std::to_string(rc) + ")");
  }
}

void showClient(bool memory) {
  requireHome();
  if (memory) loadMemoryStore();
  std::string host;
  unsigned int port = 5060, recv = 60, send = 60;
  bool keepAlive = true;
  P::Protocol protocol = P::HTTP;
  HeldLibraryLog log;
  const QuorErrC rc =
      P::getClientSettingsFromDatabase(host, port, keepAlive, protocol, recv, send, memory);
  if (rc == 0) {
    std::printf(
        "host = %s\nPolicyServerPort = %u\nkeep-alive = %s\nprotocol = %s\n"
        "recv_timeout_secs = %u\nsend_timeout_secs = %u\n",
        host.c_str(), port, keepAlive ? "yes" : "no", protocolName(protocol), recv, send);
  }
  printMessages(log);
  if (rc != 0) {
    throw CommandError(kExitFailure, "the policy client settings could not be read (code " +
                                         std::to_string(rc) + ")");
  }
}

// ---- settings set ----

struct SetOptions {
  std::optional<unsigned int> backlog, port, threads, maxThreads, cacheTTL, recv, send;
  std::optional<std::string> keepAlive, protocol;
};

struct ClientOptions {
  std::optional<std::string> host;
  std::optional<unsigned int> recv, send;
};

// Stores one text in quor.ini; false when it was not written (the store has
// logged why).
bool storeItem(const char* key, unsigned int value, const char* section) {
  QUOR::GlobalSettingIF settings;
  return settings.setItem(key, std::to_string(value).c_str(), section, "quor.ini") ==
         QUOR::GS_SUCCESS;
}

void checkRange(const char* name, const std::optional<unsigned int>& v, unsigned int low,
                unsigned int high) {
  if (v && (*v < low || *v > high)) {
    throw CommandError(kExitBadInput, std::string(name) + " must be between " +
                                          std::to_string(low) + " and " + std::to_string(high));
  }
}

bool parseYesNo(const std::string& text) {
  if (text == "yes") return true;
  if (text == "no") return false;
  throw CommandError(kExitBadInput, "--keep-alive takes yes or no, not '" + text + "'");
}

P::Protocol parseProtocol(const std::string& text) {
  if (text == "http" || text == "HTTP") return P::HTTP;
  if (text == "https" || text == "HTTPS") return P::HTTPS;
  throw CommandError(kExitBadInput, "--protocol takes http or https, not '" + text + "'");
}

void setServer(const SetOptions& o) {
  requireHome();
  const std::optional<bool> keepAlive =
      o.keepAlive ? std::optional<bool>(parseYesNo(*o.keepAlive)) : std::nullopt;
  const std::optional<P::Protocol> protocol =
      o.protocol ? std::optional<P::Protocol>(parseProtocol(*o.protocol)) : std::nullopt;

  // Settings not given keep their current value, or the tool's default when
  // the file does not hold a usable one (the reader stops at the first absent
  // key and leaves unusable values as they were).
  ServerDefaults s;
  // The reader never yields 0 for the thread counts, so a 0 left in place
  // tells that the value did not come from the file.
  s.threads = 0;
  s.maxThreads = 0;
  {
    HeldLibraryLog quiet;
    P::getSettingsFromDatabase(s.backlog, s.keepAlive, s.port, s.protocol, s.recvTimeoutSecs,
                               s.sendTimeoutSecs, s.threads, s.maxThreads, s.cacheTTLMins, false);
  }
  const bool threadsStored = s.threads != 0;
  const bool maxThreadsStored = s.maxThreads != 0;
  admin::ServerSettings w;
  w.backlog = o.backlog.value_or(s.backlog);
  w.keepAlive = keepAlive.value_or(s.keepAlive);
  w.port = o.port.value_or(s.port);
  w.https = protocol.value_or(s.protocol) == P::HTTPS;
  w.threads = o.threads.value_or(threadsStored ? s.threads : ServerDefaults{}.threads);
  w.maxThreads =
      o.maxThreads.value_or(maxThreadsStored ? s.maxThreads : ServerDefaults{}.maxThreads);
  w.cacheTTLMins = o.cacheTTL.value_or(s.cacheTTLMins);
  w.recvTimeoutSecs = o.recv.value_or(s.recvTimeoutSecs);
  w.sendTimeoutSecs = o.send.value_or(s.sendTimeoutSecs);

  // Only values the server accepts as they are: anything else would be
  // replaced when it reads them. A value the file holds and the user did not
  // give is written back as it is, except for the order of the thread counts.
  const struct {
    const char* field;
    const char* option;
    bool given;
  } options[] = {{"backlog", "--backlog", o.backlog.has_value()},
                 {"port", "--port", o.port.has_value()},
                 {"threads", "--threads", o.threads.has_value()},
                 {"maxThreads", "--max-threads", o.maxThreads.has_value()},
                 {"recvTimeoutSecs", "--recv-timeout", o.recv.has_value()},
                 {"sendTimeoutSecs", "--send-timeout", o.send.has_value()}};
  for (const admin::FieldProblem& p : admin::settingsProblems(w)) {
    if (p.message.rfind("must be between", 0) == 0) {
      for (const auto& option : options) {
        if (option.given && p.field == option.field) {
          throw CommandError(kExitBadInput, std::string(option.option) + " " + p.message);
        }
      }
      continue;
    }
    // The thread counts out of order: name each value by where it came from,
    // the user's option, the file or the tool's default.
    const std::string file = std::string(getQuorHome()) + "/config/quor.ini";
    auto origin = [&file](const char* opt, const char* key, unsigned int value, bool isGiven,
                          bool stored) {
      const std::string v = std::to_string(value);
      if (isGiven) return std::string(opt) + " " + v;
      return std::string(key) + "=" + v + (stored ? " stored in " + file : " (the default)");
    };
    throw CommandError(kExitBadInput, origin("--threads", "threads", w.threads,
                                             o.threads.has_value(), threadsStored) +
                                          " is above " +
                                          origin("--max-threads", "max_threads", w.maxThreads,
                                                 o.maxThreads.has_value(), maxThreadsStored));
  }

  HeldLibraryLog log;
  const bool written = admin::writeServerSettings(w);
  for (const auto& m : log.messages()) std::fprintf(stderr, "%s\n", m.c_str());
  if (!written) {
    throw CommandError(kExitFailure, "the policy server settings were not written (code " +
                                         std::to_string(QuorErr::kSettingNotWritten) + ")");
  }
  std::printf("policy server settings written\n");
}

void setClient(const ClientOptions& o) {
  requireHome();
  checkRange("--recv-timeout", o.recv, 0, 300);
  checkRange("--send-timeout", o.send, 0, 300);
  if (o.host && (o.host->empty() || o.host->find_first_of(" \t\r\n") != std::string::npos)) {
    throw CommandError(kExitBadInput, "--host must be a host name or address without blanks");
  }
  if (!o.host && !o.recv && !o.send) {
    throw CommandError(kExitBadInput,
                       "nothing to set: give --host, --recv-timeout or --send-timeout");
  }
  HeldLibraryLog log;
  QUOR::GlobalSettingIF settings;
  bool ok = true;
  if (o.host) ok = settings.setItem("host", o.host->c_str(), "policy_client", "quor.ini") == 0;
  if (ok && o.recv) ok = storeItem("recv_timeout_secs", *o.recv, "policy_client");
  if (ok && o.send) ok = storeItem("send_timeout_secs", *o.send, "policy_client");
  for (const auto& m : log.messages()) std::fprintf(stderr, "%s\n", m.c_str());
  if (!ok) {
    throw CommandError(kExitFailure, "the policy client settings were not written (code " +
                                         std::to_string(QuorErr::kSettingNotWritten) + ")");
  }
  std::printf("policy client settings written\n");
}

// ---- database commands ----

void initDatabase() {
  requireHome();
  selectRoot("");
  HeldLibraryLog log;
  if (!QUOR::RdbmsInterface::Init(nullptr, nullptr, nullptr, nullptr)) {
    const auto messages = log.errors();
    throw CommandError(kExitFailure,
                       "the policy database is not configured: " +
                           (messages.empty() ? std::string("unknown reason") : messages.back()));
  }
}

// Fails when the unit of work made while `log` collected could not connect.
void requireConnection(const HeldLibraryLog& log) {
  for (const std::string& failure : log.errors()) {
    if (failure.rfind("RdbmsInterface::RdbmsInterface: ", 0) == 0) {
      throw CommandError(kExitFailure, "cannot connect to the policy database: " + failure);
    }
  }
}

void listPolicyServers() {
  initDatabase();
  std::vector<PolicyServerInfo> servers;
  HeldLibraryLog log;
  const QuorErrC rc = P::getPolicyServerInfo(servers);
  requireConnection(log);
  if (rc != 0) {
    const auto messages = log.errors();
    throw CommandError(kExitFailure, "the policy servers could not be listed (code " +
                                         std::to_string(rc) + ")" +
                                         (messages.empty() ? "" : ": " + messages.back()));
  }
  std::printf("%-10s %-40s %s\n", "scanner_id", "ip_addr", "agent_port");
  for (const auto& s : servers) {
    std::printf("%-10u %-40s %u\n", s.scannerId, s.ipAddr.c_str(), s.agentPort);
  }
}

void showRuleOrder(bool verify) {
  initDatabase();
  bool manual = false;
  std::vector<QuorFilter::FilterType> order;
  QuorErrC rc;
  HeldLibraryLog log;
  {
    QUOR::RdbmsInterface db;
    requireConnection(log);
    rc = miscUtils::getUserDefinedRuleOrder(db, manual, order, verify);
  }
  if (rc == 0) {
    if (!manual) {
      std::printf("manual rule order: off\n");
    } else {
      std::printf("manual rule order: on\n");
      for (const auto kind : order) {
        std::printf("  %2d %s\n", static_cast<int>(kind), QuorFilter::getFilterName(kind));
      }
    }
  }
  printMessages(log);
  if (rc != 0) {
    throw CommandError(kExitFailure,
                       "the manual rule order could not be read (code " + std::to_string(rc) + ")");
  }
  if (verify && !log.errors().empty()) {
    throw CommandError(kExitRefused, "the manual rule order does not verify");
  }
}

void showAdminId(const std::string& name) {
  initDatabase();
  unsigned int id = 0;
  QuorErrC rc;
  HeldLibraryLog log;
  {
    QUOR::RdbmsInterface db;
    requireConnection(log);
    rc = miscUtils::getAdminId(db, name.c_str(), id);
  }
  if (rc == 0) {
    std::printf("%u\n", id);
    return;
  }
  const auto messages = log.errors();
  if (rc == QuorErr::kMissingData && messages.empty()) {
    throw CommandError(kExitNotFound, "no administrator named '" + name + "'");
  }
  throw CommandError(kExitFailure, "the administrator's id could not be read (code " +
                                       std::to_string(rc) + ")" +
                                       (messages.empty() ? "" : ": " + messages.back()));
}

void registerSettings(CLI::App& app) {
  auto* settings = app.add_subcommand("settings", "Policy server and client settings (quor.ini)");
  settings->require_subcommand(1);

  auto* show = settings->add_subcommand(
      "show", "Show the policy server's settings as the server reads them, with its messages");
  auto showMemory = std::make_shared<bool>(false);
  show->add_flag("--memory", *showMemory, "Read through the in-memory settings store");
  show->callback([showMemory] { showServer(*showMemory); });

  auto* client =
      settings->add_subcommand("client", "Show the settings clients reach the server with");
  auto clientMemory = std::make_shared<bool>(false);
  client->add_flag("--memory", *clientMemory, "Read through the in-memory settings store");
  client->callback([clientMemory] { showClient(*clientMemory); });

  auto* set = settings->add_subcommand(
      "set", "Write the policy server's settings; settings not given keep their value");
  auto opts = std::make_shared<SetOptions>();
  set->add_option("--backlog", opts->backlog, "Listen backlog (0 to 1000)");
  set->add_option("--keep-alive", opts->keepAlive, "yes or no");
  set->add_option("--port", opts->port, "Port (1 to 65535)");
  set->add_option("--protocol", opts->protocol, "http or https");
  set->add_option("--threads", opts->threads, "Threads (1 to 1000)");
  set->add_option("--max-threads", opts->maxThreads, "Most threads (2 to 1000)");
  set->add_option("--cache-ttl", opts->cacheTTL, "LDAP cache lifetime in minutes");
  set->add_option("--recv-timeout", opts->recv, "Receive time-out in seconds (0 to 300)");
  set->add_option("--send-timeout", opts->send, "Send time-out in seconds (0 to 300)");
  set->callback([opts] { setServer(*opts); });

  auto* setClientCmd =
      settings->add_subcommand("set-client", "Write the settings clients reach the server with");
  auto clientOpts = std::make_shared<ClientOptions>();
  setClientCmd->add_option("--host", clientOpts->host, "The policy server's host name or address");
  setClientCmd->add_option("--recv-timeout", clientOpts->recv, "Receive time-out (0 to 300)");
  setClientCmd->add_option("--send-timeout", clientOpts->send, "Send time-out (0 to 300)");
  setClientCmd->callback([clientOpts] { setClient(*clientOpts); });

  auto* servers = app.add_subcommand("policy-servers", "List the registered policy servers");
  servers->callback([] { listPolicyServers(); });

  auto* ruleOrder = app.add_subcommand("rule-order", "Show the manual order of the filter groups");
  auto verify = std::make_shared<bool>(false);
  ruleOrder->add_flag("--verify", *verify,
                      "Check each group's order and name; exit status 3 when one differs");
  ruleOrder->callback([verify] { showRuleOrder(*verify); });

  auto* admin = app.add_subcommand("admin-id", "Print the id of an administrator");
  auto adminName = std::make_shared<std::string>();
  admin->add_option("name", *adminName, "The administrator's account name")->required();
  admin->callback([adminName] { showAdminId(*adminName); });
}

const CommandRegistration kRegistration(60, registerSettings);

}  // namespace
}  // namespace quor::tool
