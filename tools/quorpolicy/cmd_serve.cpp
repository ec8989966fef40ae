// quorpolicy serve: an access policy service for SMTP servers.
//
//   quorpolicy serve [--list FIRST.list [--list NEXT.list ...]] [--db [--home ROOT]]
//                    [--listen ADDR:PORT [--allow-from CIDR,...] |
//                     --socket PATH [--socket-mode MODE] [--socket-group GROUP]]
//                    [--check sender|recipient|both] [--reject-text TEXT]
//                    [--black-action REJECT|DEFER_IF_PERMIT|WARN]
//                    [--prepend-header NAME] [--recipient-delimiter CHARS]
//                    [--log-decisions] [--max-connections N] [--allow-shrink]
//                    [--user NAME]
//
// Loads the list files as `quorpolicy match` does, freezes them, and answers
// every request of the policy delegation protocol by deciding the sender
// (and/or the recipient): black-listed gives the black action ("action=REJECT
// <text>" by default), white-listed "action=OK" (or a PREPEND of the decision
// header), not listed "action=DUNNO".
//
// With --db the sender lists bound to entities in the policy database of the
// installation root decide the sender for each request's recipient, after
// the list files: a sender the list files list is decided by them, any other
// by the database. Changes in the database reach the running service by
// themselves (notifications on PostgreSQL, polling elsewhere); a snapshot of
// the last data loaded, in <root>/var/policy.snapshot, lets a start during a
// database outage serve. The server itself (reloads on SIGHUP,
// the stop on SIGTERM, connection limits, the socket file, statistics) is
// service::Server (service/Server.h); this file turns the options into its
// service::Options and its errors into exit statuses.
//
// Worker threads, listen backlog, time-outs and keep-alive come from the
// policy server's settings in <QUOR_HOME>/config/quor.ini when QUOR_HOME is
// set and the file exists (read, validated and logged as the policy server
// reads them), built-in defaults otherwise; command-line options override
// both.
#include <grp.h>

#include <charconv>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ConfigFile.h"
#include "QuorCrypt.h"
#include "QuorHome.h"
#include "QuorPolicyServerInterface.h"
#include "RdbmsInterface.h"
#include "lists/db/DbPolicy.h"
#include "lists/db/SqlitePoll.h"
#include "lists/pgnotify/PgListener.h"
#include "service/Log.h"
#include "service/Server.h"
#include "tools/quorpolicy/Command.h"
#include "tools/quorpolicy/RootDatabase.h"

namespace quor::tool {
namespace {

using service::say;
using P = QuorPolicyServerInterface;

struct ServeOptions {
  std::vector<std::string> lists;
  bool db = false;
  std::string home;
  std::string listen = "127.0.0.1:10040";
  std::string socketPath;
  std::string check = "sender";
  std::string rejectText;
  std::string blackAction = "REJECT";
  std::string prependHeader;
  std::string recipientDelimiter;
  bool logDecisions = false;
  std::optional<unsigned> threads, backlog, recvTimeout, sendTimeout;
  std::optional<std::string> keepAlive;
  unsigned statsSeconds = 60;

  // Connections, the socket file, reloads and privileges.
  std::optional<unsigned> maxConnections;
  std::string socketMode = "0660";
  std::string socketGroup;
  std::vector<std::string> allowFrom;
  bool allowShrink = false;
  std::string user;
};

// An installation root without a settings file (the package's fresh one) runs
// on the built-in settings; a settings file that cannot be read or is wrong
// stops the start. Options given on the command line override both.
service::NetSettings readSettings(const ServeOptions& o) {
  service::NetSettings s;
  if (getQuorHome() != nullptr) {
    const std::string file = std::string(getQuorHome()) + "/config/quor.ini";
    std::error_code ec;
    // Only "no such file" counts as absent: a folder that cannot be searched
    // goes on to the reader and fails there.
    if (std::filesystem::symlink_status(file, ec).type() == std::filesystem::file_type::not_found) {
      say("no settings file %s: running on the built-in settings", file.c_str());
    } else {
      // The reader fills only what it reads; the rest keeps these values.
      unsigned int port = 5060, maxThreads = 50, cacheTTL = 1440;
      P::Protocol protocol = P::HTTP;
      const QuorErrC rc =
          P::getSettingsFromDatabase(s.backlog, s.keepAlive, port, protocol, s.recvTimeoutSecs,
                                     s.sendTimeoutSecs, s.threads, maxThreads, cacheTTL, false);
      if (rc != 0) {
        throw CommandError(kExitFailure, "serve: the policy server settings in " + file +
                                             " could not be read (code " + std::to_string(rc) +
                                             ")");
      }
    }
  }
  if (o.threads) s.threads = *o.threads;
  if (o.backlog) s.backlog = *o.backlog;
  if (o.recvTimeout) s.recvTimeoutSecs = *o.recvTimeout;
  if (o.sendTimeout) s.sendTimeoutSecs = *o.sendTimeout;
  if (o.keepAlive) s.keepAlive = *o.keepAlive == "yes";
  return s;
}

mode_t parseSocketMode(const std::string& text) {
  unsigned mode = 0;
  const char* last = text.data() + text.size();
  const auto [end, ec] = std::from_chars(text.data(), last, mode, 8);
  if (text.empty() || ec != std::errc() || end != last || mode > 0777) {
    throw CommandError(kExitBadInput, "serve: --socket-mode wants an octal mode such as 0660");
  }
  return static_cast<mode_t>(mode);
}

std::optional<gid_t> parseSocketGroup(const std::string& name) {
  if (name.empty()) return std::nullopt;
  const group* g = ::getgrnam(name.c_str());
  if (g == nullptr) throw CommandError(kExitBadInput, "serve: --socket-group: no group " + name);
  return g->gr_gid;
}

// A libpq connection string for the root's PostgreSQL database: server,
// port and database of the root's data source (config/odbc.ini), user and
// password (decrypted) of config/database.ini.
std::string notifyConninfo() {
  const std::string config = std::string(getQuorHome()) + "/config/";
  QUOR::ConfigFileOnDisk settings((config + "database.ini").c_str());
  QUOR::ConfigFileOnDisk odbc((config + "odbc.ini").c_str());
  std::string dsn = "QuorPolicy";
  settings.getparam("Database_Settings", "DataSourceName", dsn);
  std::vector<std::pair<std::string, std::string>> attributes;
  for (const char* key : {"Servername", "Port", "Database", "Username"}) {
    std::string value;
    if (odbc.getparam(dsn.c_str(), key, value)) attributes.emplace_back(key, value);
  }
  std::string value;
  if (settings.getparam("Database_Settings", "UserId", value)) {
    attributes.emplace_back("Username", value);
  }
  if (settings.getparam("Database_Settings", "Database", value)) {
    attributes.emplace_back("Database", value);
  }
  if (settings.getparam("Database_Settings", "Password", value) && !value.empty()) {
    std::vector<char> clear(value.begin(), value.end());
    clear.push_back('\0');
    if (NewDecryptStr(clear.data()) != 0) value = clear.data();
    attributes.emplace_back("Password", value);
  }
  return lists::libpqConninfo(attributes);
}

// The policy database of the root, as the service reads it.
service::DbSource dbSource(const ServeOptions& o) {
  openRootDatabase(o.home);
  service::DbSource source;
  source.read = [](const std::set<unsigned>* known) {
    QUOR::RdbmsInterface db;
    return lists::readDbPolicy(db, known);
  };
  source.readGroups = [](const std::set<unsigned>& groups) {
    QUOR::RdbmsInterface db;
    return lists::readDbGroups(db, groups);
  };
  source.readVersion = [] {
    QUOR::RdbmsInterface db;
    return lists::readPolicyVersion(db);
  };
  if (rootDialect() == "pgsql") {
    source.notifyConninfo = notifyConninfo();
  } else {
    source.readChanges = [](long long after) {
      QUOR::RdbmsInterface db;
      return lists::readPolicyChanges(db, after);
    };
  }
  const std::filesystem::path var = std::filesystem::path(getQuorHome()) / "var";
  std::error_code ec;
  std::filesystem::create_directories(var, ec);
  source.snapshotPath = (var / "policy.snapshot").string();
  return source;
}

// How to decide and answer, from the options.
service::DecideOptions decideOptions(const ServeOptions& o) {
  service::DecideOptions d;
  d.what = o.check == "recipient" ? service::CheckWhat::Recipient
           : o.check == "both"    ? service::CheckWhat::Both
                                  : service::CheckWhat::Sender;
  d.rejectText = o.rejectText;
  d.blackAction = o.blackAction == "WARN"              ? service::BlackAction::Warn
                  : o.blackAction == "DEFER_IF_PERMIT" ? service::BlackAction::DeferIfPermit
                                                       : service::BlackAction::Reject;
  d.prependHeader = o.prependHeader;
  d.delimiters = o.recipientDelimiter;
  return d;
}

// The service's own checks come first, as the options are given; then what
// the command line resolves (mode, group, the settings file).
service::Options serviceOptions(const ServeOptions& o) {
  service::Options s;
  s.lists = o.lists;
  if (o.db) s.db = dbSource(o);
  s.decision = decideOptions(o);
  service::checkOptions(s);
  s.socketMode = parseSocketMode(o.socketMode);
  s.socketGroup = parseSocketGroup(o.socketGroup);
  s.net = readSettings(o);
  s.listen = o.listen;
  s.socketPath = o.socketPath;
  s.allowFrom = o.allowFrom;
  s.logDecisions = o.logDecisions;
  s.statsSeconds = o.statsSeconds;
  if (o.maxConnections) s.maxConnections = *o.maxConnections;
  s.allowShrink = o.allowShrink;
  s.user = o.user;
  return s;
}

void runServe(const ServeOptions& o) {
  try {
    service::Server(serviceOptions(o)).run();
  } catch (const service::StartError& e) {
    throw CommandError(e.kind() == service::StartError::BadOptions ? kExitBadInput : kExitFailure,
                       std::string("serve: ") + e.what());
  }
}

// How requests are decided and answered.
void addDecisionOptions(CLI::App& cmd, ServeOptions& o) {
  cmd.add_option("--check", o.check, "Which address decides")
      ->check(CLI::IsMember({"sender", "recipient", "both"}))
      ->default_str("sender");
  cmd.add_option("--reject-text", o.rejectText,
                 "Text of the answers to black-listed addresses (default: \"sender address "
                 "rejected by policy\", or recipient)");
  cmd.add_option("--black-action", o.blackAction,
                 "Answer to black-listed addresses: REJECT, DEFER_IF_PERMIT (a temporary "
                 "refusal) or WARN (logged by the SMTP server only)")
      ->transform(CLI::IsMember({"REJECT", "DEFER_IF_PERMIT", "WARN"}, CLI::ignore_case))
      ->default_str("REJECT");
  cmd.add_option("--prepend-header", o.prependHeader,
                 "Header NAME added to accepted listed mail (\"NAME: white-listed\", or "
                 "black-listed under WARN) instead of OK or WARN")
      ->check([](const std::string& name) -> std::string {
        if (name.empty()) return "a header name must not be empty";
        for (const char c : name) {
          if (c <= ' ' || c > '~' || c == ':') return "not a header name: " + name;
        }
        return "";
      });
  cmd.add_option("--recipient-delimiter", o.recipientDelimiter,
                 "Characters that start an address extension (Postfix's recipient_delimiter): "
                 "user+tag@d, when not listed as such, is decided as user@d")
      ->check([](const std::string& chars) -> std::string {
        for (const char c : chars) {
          if (c <= ' ' || c > '~' || c == '@' || c == '.') return "not a delimiter: " + chars;
        }
        return "";
      });
  cmd.add_flag("--log-decisions", o.logDecisions,
               "Log every decision (black-listed ones are always logged)");
}

// Threads, time-outs, connections, the socket file, reloads and the user.
void addServerOptions(CLI::App& cmd, ServeOptions& o) {
  cmd.add_option("--threads", o.threads, "Worker threads")->check(CLI::Range(1u, 1000u));
  cmd.add_option("--backlog", o.backlog, "Listen backlog")->check(CLI::Range(0u, 1000u));
  cmd.add_option("--recv-timeout", o.recvTimeout, "Seconds to wait for a request (0: forever)")
      ->check(CLI::Range(0u, 300u));
  cmd.add_option("--send-timeout", o.sendTimeout, "Seconds to wait for an answer to be taken")
      ->check(CLI::Range(0u, 300u));
  cmd.add_option("--keep-alive", o.keepAlive, "TCP keep-alive")
      ->check(CLI::IsMember({"yes", "no"}));
  cmd.add_option("--stats-interval", o.statsSeconds, "Seconds between statistics lines")
      ->check(CLI::Range(1u, 86400u))
      ->group("");
  cmd.add_option("--max-connections", o.maxConnections,
                 "Open connections at most; more are closed at once (default: what the "
                 "descriptor limit leaves)")
      ->check(CLI::Range(1u, 1000000u));
  cmd.add_option("--allow-from", o.allowFrom,
                 "Client addresses allowed over TCP, as CIDR[,CIDR...]; needed for --listen "
                 "on an address other than loopback")
      ->delimiter(',')
      ->excludes(cmd.get_option("--socket"));
  cmd.add_option("--socket-mode", o.socketMode, "Permissions of the --socket file")
      ->default_str("0660");
  cmd.add_option("--socket-group", o.socketGroup, "Group of the --socket file");
  cmd.add_flag("--allow-shrink", o.allowShrink,
               "Let a reload load a list that lost more than half of its entries");
  cmd.add_option("--user", o.user,
                 "Drop root's privileges for this user once the socket and lists are open");
}

void registerServe(CLI::App& app) {
  auto o = std::make_shared<ServeOptions>();
  CLI::App* cmd = app.add_subcommand(
      "serve",
      "Answer the access policy requests of SMTP servers from list files and/or the sender "
      "lists of the policy database");
  cmd->add_option("-l,--list", o->lists,
                  "A list file; repeat for several lists, the strongest first")
      ->allow_extra_args(false);
  cmd->add_flag("--db", o->db,
                "Decide the sender for each request's recipient from the sender lists bound to "
                "entities in the policy database, after the list files (a sender they list is "
                "decided by them); live on changes, from a snapshot during an outage");
  cmd->add_option("--home", o->home, "With --db: installation root (default: $QUOR_HOME)");
  auto* listen = cmd->add_option("--listen", o->listen, "TCP address and port to listen on")
                     ->default_str("127.0.0.1:10040");
  cmd->add_option("--socket", o->socketPath, "UNIX socket to listen on instead")->excludes(listen);
  addDecisionOptions(*cmd, *o);
  addServerOptions(*cmd, *o);
  cmd->callback([o] { runServe(*o); });
}

const CommandRegistration kRegistration(25, registerServe);

}  // namespace
}  // namespace quor::tool
