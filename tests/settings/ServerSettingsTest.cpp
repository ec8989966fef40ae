// Validation of the policy server settings over an in-memory section source.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "settings/detail/ServerSettings.h"
#include "support/LogCapture.h"

namespace quor::settings::detail {
namespace {

using quor::test::LogCapture;
using Sections = std::map<std::string, Items>;
using P = QuorPolicyServerInterface;

// The server settings as plain values, for comparing all nine at once.
struct Values {
  unsigned int backlog, port, recv, send, threads, maxThreads, ttl;
  bool keepAlive;
  P::Protocol protocol;
  bool operator==(const Values&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Values& v) {
  return os << "{backlog=" << v.backlog << " keepAlive=" << v.keepAlive << " port=" << v.port
            << " protocol=" << v.protocol << " recv=" << v.recv << " send=" << v.send
            << " threads=" << v.threads << " maxThreads=" << v.maxThreads << " ttl=" << v.ttl
            << "}";
}

// What the caller holds before the call: its defaults.
constexpr Values kCallerDefaults{77, 5555, 66, 55, 44, 33, 22, false, P::HTTPS};

// A valid store and what it reads as.
Sections validStore() {
  return {{"policy_server",
           {{"backlog", "50"},
            {"keep-alive", "no"},
            {"PolicyServerPort", "8080"},
            {"protocol", "http"},
            {"recv_timeout_secs", "30"},
            {"send_timeout_secs", "40"},
            {"threads", "10"},
            {"max_threads", "20"}}},
          {"LDAP_SVR_1", {{"ldap_cache_TTL_minutes", "60"}}}};
}
constexpr Values kValidRead{50, 8080, 30, 40, 10, 20, 60, false, P::HTTP};

// The keys in reading order with the section each is fetched from.
const std::pair<const char*, const char*> kServerKeys[] = {
    {"backlog", "policy_server"},           {"keep-alive", "policy_server"},
    {"PolicyServerPort", "policy_server"},  {"protocol", "policy_server"},
    {"recv_timeout_secs", "policy_server"}, {"send_timeout_secs", "policy_server"},
    {"threads", "policy_server"},           {"max_threads", "policy_server"},
    {"ldap_cache_TTL_minutes", "LDAP_SVR_1"}};

FetchSection fetchFrom(const Sections& store) {
  return [&store](Items& items, const char* section) {
    const auto it = store.find(section);
    if (it == store.end()) return false;
    items = it->second;
    return true;
  };
}

struct ServerRun {
  QuorErrC rc;
  Values got;
  std::vector<std::string> errors;  // level-1 lines
};

ServerRun readServer(const Sections& store) {
  LogCapture log;
  Values v = kCallerDefaults;
  const ServerOutputs out{v.backlog, v.keepAlive, v.port,    v.protocol,  v.recv,
                          v.send,    v.threads,   v.maxThreads, v.ttl};
  const QuorErrC rc = readServerSettings(fetchFrom(store), out, true);
  return {rc, v, log.texts(1)};
}

// The level-1 lines of a full read of `store`, with `extra` logged right
// after the read line of `extraKey`. Written out from the message texts, not
// from the reader.
std::vector<std::string> expectedReadLines(const Sections& store, const std::string& extraKey,
                                           const std::string& extra) {
  std::vector<std::string> lines;
  for (const auto& [key, fetched] : kServerKeys) {
    const std::string& text = store.at(fetched).at(key);
    lines.push_back(std::string("Read setting '") + key + "' in section [policy_server], value is '" +
                    text + "'.");
    if (key == extraKey && !extra.empty()) lines.push_back(extra);
    if (std::string(key) == "protocol") {
      const bool https = text.size() == 5 && (text[0] | 0x20) == 'h' && (text[1] | 0x20) == 't' &&
                         (text[2] | 0x20) == 't' && (text[3] | 0x20) == 'p' &&
                         (text[4] | 0x20) == 's';
      lines.push_back(std::string("Policy server will use protocal '") + (https ? "https" : "http") +
                      "'.");
    }
  }
  return lines;
}

struct NumberCase {
  const char* key;
  const char* text;
  unsigned int Values::*field;
  unsigned int want;
  const char* extra;  // the message after the read line, "" for none
};

TEST(QuorPolicyServerInterface, ServerSettings_NumbersFollowTheValidationTable) {
  const NumberCase cases[] = {
      {"backlog", "0", &Values::backlog, 0, ""},
      {"backlog", "1000", &Values::backlog, 1000, ""},
      {"backlog", "0999", &Values::backlog, 999, ""},
      {"backlog", "1001", &Values::backlog, 1000,
       "[ERROR]Value of '1001' is invalid, use default value 1000."},
      {"backlog", "12345", &Values::backlog, 1000,
       "[ERROR]Size of '12345' is too long, use default value 1000."},
      {"backlog", "abc", &Values::backlog, 77, ""},
      {"backlog", "", &Values::backlog, 77, ""},
      {"backlog", "-5", &Values::backlog, 77, ""},
      {"backlog", "12a", &Values::backlog, 77, ""},
      {"recv_timeout_secs", "0", &Values::recv, 0, ""},
      {"recv_timeout_secs", "300", &Values::recv, 300, ""},
      {"recv_timeout_secs", "301", &Values::recv, 300,
       "[ERROR]Value of '301' is invalid, use default value 300."},
      {"recv_timeout_secs", "1000", &Values::recv, 300,
       "[ERROR]Size of '1000' is too long, use default value 300."},
      {"recv_timeout_secs", "x", &Values::recv, 66, ""},
      {"send_timeout_secs", "299", &Values::send, 299, ""},
      {"send_timeout_secs", "301", &Values::send, 300,
       "[ERROR]Value of '301' is invalid, use default value 300."},
      {"send_timeout_secs", "0300", &Values::send, 300,
       "[ERROR]Size of '0300' is too long, use default value 300."},
      {"send_timeout_secs", " 5", &Values::send, 55, ""},
      {"threads", "0", &Values::threads, 1,
       "[ERROR]Value of '0' is invalid, use default value 1."},
      {"threads", "1", &Values::threads, 1, ""},
      {"threads", "1000", &Values::threads, 1000, ""},
      {"threads", "1001", &Values::threads, 1000,
       "[ERROR]Value of '1001' is invalid, use default value 1000."},
      {"threads", "10000", &Values::threads, 1000,
       "[ERROR]Size of '10000' is too long, use default value 1000."},
      {"threads", "many", &Values::threads, 44, ""},
      {"max_threads", "0", &Values::maxThreads, 2,
       "[ERROR]Value of '0' is invalid, use default value 2."},
      {"max_threads", "1", &Values::maxThreads, 2,
       "[ERROR]Value of '1' is invalid, use default value 2."},
      {"max_threads", "2", &Values::maxThreads, 2, ""},
      {"max_threads", "1000", &Values::maxThreads, 1000, ""},
      {"max_threads", "1001", &Values::maxThreads, 1000,
       "[ERROR]Value of '1001' is invalid, use default value 1000."},
      {"max_threads", "99999", &Values::maxThreads, 1000,
       "[ERROR]Size of '99999' is too long, use default value 1000."},
      {"PolicyServerPort", "1", &Values::port, 1, ""},
      {"PolicyServerPort", "65535", &Values::port, 65535, ""},
      {"PolicyServerPort", "0", &Values::port, 5555,
       "[ERROR]Port value '0' is invalid, use default value '5555'."},
      {"PolicyServerPort", "65536", &Values::port, 5555,
       "[ERROR]Port value '65536' is invalid, use default value '5555'."},
      {"PolicyServerPort", "http", &Values::port, 5555,
       "[ERROR]Port value 'http' is invalid, use default value '5555'."},
      {"ldap_cache_TTL_minutes", "0", &Values::ttl, 0, ""},
      {"ldap_cache_TTL_minutes", "100000", &Values::ttl, 100000, ""},
      {"ldap_cache_TTL_minutes", "4294967295", &Values::ttl, 4294967295u, ""},
      {"ldap_cache_TTL_minutes", "abc", &Values::ttl, 1440,
       "[ERROR]Value of 'abc' is invalid, use default value 1440."},
      {"ldap_cache_TTL_minutes", "", &Values::ttl, 1440,
       "[ERROR]Value of '' is invalid, use default value 1440."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.text);
    Sections store = validStore();
    const char* section =
        std::string(c.key) == "ldap_cache_TTL_minutes" ? "LDAP_SVR_1" : "policy_server";
    store[section][c.key] = c.text;
    Values want = kValidRead;
    want.*c.field = c.want;

    const ServerRun run = readServer(store);
    EXPECT_EQ(QuorErr::kSuccess, run.rc);
    EXPECT_EQ(want, run.got);
    EXPECT_EQ(expectedReadLines(store, c.key, c.extra), run.errors);
  }
}

struct FlagCase {
  const char* key;
  const char* text;
  bool keepAlive;
  P::Protocol protocol;
};

TEST(QuorPolicyServerInterface, ServerSettings_KeepAliveAndProtocolIgnoreCaseOnly) {
  const FlagCase cases[] = {
      {"keep-alive", "yes", true, P::HTTP},   {"keep-alive", "YES", true, P::HTTP},
      {"keep-alive", "yEs", true, P::HTTP},   {"keep-alive", "true", false, P::HTTP},
      {"keep-alive", "yes ", false, P::HTTP}, {"keep-alive", "", false, P::HTTP},
      {"protocol", "https", false, P::HTTPS}, {"protocol", "HTTPS", false, P::HTTPS},
      {"protocol", "HttpS", false, P::HTTPS}, {"protocol", "http", false, P::HTTP},
      {"protocol", "ftp", false, P::HTTP},    {"protocol", "https2", false, P::HTTP},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.text);
    Sections store = validStore();
    store["policy_server"][c.key] = c.text;
    Values want = kValidRead;
    want.keepAlive = c.keepAlive;
    want.protocol = c.protocol;
    const ServerRun run = readServer(store);
    EXPECT_EQ(QuorErr::kSuccess, run.rc);
    EXPECT_EQ(want, run.got);
    EXPECT_EQ(expectedReadLines(store, "", ""), run.errors);
  }
}

TEST(QuorPolicyServerInterface, ServerSettings_AbsentKeyStopsWithEarlierOutputsSet) {
  for (size_t missing = 0; missing < std::size(kServerKeys); ++missing) {
    const auto& [key, section] = kServerKeys[missing];
    SCOPED_TRACE(key);
    Sections store = validStore();
    store[section].erase(key);

    Values want = kCallerDefaults;
    std::vector<std::string> lines;
    for (size_t i = 0; i < missing; ++i) {
      const auto& [k, s] = kServerKeys[i];
      lines.push_back(std::string("Read setting '") + k + "' in section [policy_server], value is '" +
                      store.at(s).at(k) + "'.");
      if (i == 3) lines.push_back("Policy server will use protocal 'http'.");
    }
    lines.push_back(std::string("[ERROR]Can not find setting '") + key +
                    "' in section [policy_server].");
    // The outputs set before the absent key, in reading order.
    if (missing > 0) want.backlog = kValidRead.backlog;
    if (missing > 1) want.keepAlive = kValidRead.keepAlive;
    if (missing > 2) want.port = kValidRead.port;
    if (missing > 3) want.protocol = kValidRead.protocol;
    if (missing > 4) want.recv = kValidRead.recv;
    if (missing > 5) want.send = kValidRead.send;
    if (missing > 6) want.threads = kValidRead.threads;
    if (missing > 7) want.maxThreads = kValidRead.maxThreads;

    const ServerRun run = readServer(store);
    EXPECT_EQ(QuorErr::kServerSettingsUnreadable, run.rc);
    EXPECT_EQ(want, run.got);
    EXPECT_EQ(lines, run.errors);
  }
}

TEST(QuorPolicyServerInterface, ServerSettings_UnfetchableSectionFailsBeforeReading) {
  for (const char* absent : {"policy_server", "LDAP_SVR_1"}) {
    SCOPED_TRACE(absent);
    Sections store = validStore();
    store.erase(absent);
    const ServerRun run = readServer(store);
    EXPECT_EQ(QuorErr::kServerSettingsUnreadable, run.rc);
    EXPECT_EQ(kCallerDefaults, run.got);
    EXPECT_EQ(std::vector<std::string>{
                  "[ERROR]Can not retrieve items in section policy_server and LDAP_SVR_1."},
              run.errors);
  }
}

TEST(QuorPolicyServerInterface, ServerSettings_ProgressLinesCarryOutputsAndSource) {
  const Sections store = validStore();
  for (const bool prioritize : {true, false}) {
    SCOPED_TRACE(prioritize);
    LogCapture log;
    Values v = kCallerDefaults;
    const ServerOutputs out{v.backlog, v.keepAlive, v.port,       v.protocol, v.recv,
                            v.send,    v.threads,   v.maxThreads, v.ttl};
    ASSERT_EQ(QuorErr::kSuccess, readServerSettings(fetchFrom(store), out, prioritize));
    const std::vector<std::string> want = {
        "Enter QuorPolicyServerInterface::getSettingsFromDatabase()",
        std::string("QuorPolicyServerInterface: getSettingsFromDatabase() backlog=50 bKeepAlive=0 "
                    "port=8080 protocol=0 recvTimeoutSecs=30 sendTimeoutSecs=40 threads=10 "
                    "maxThreads=20 cacheTTLMins=60 bPrioritizeINI=") +
            (prioritize ? "1" : "0"),
        "Leave QuorPolicyServerInterface: getSettingsFromDatabase()"};
    EXPECT_EQ(want, log.texts(4));
  }
}

// ---- client settings ----

struct ClientValues {
  std::string host;
  unsigned int port, recv, send;
  bool keepAlive;
  P::Protocol protocol;
  bool operator==(const ClientValues&) const = default;
};

std::ostream& operator<<(std::ostream& os, const ClientValues& v) {
  return os << "{host=" << v.host << " port=" << v.port << " keepAlive=" << v.keepAlive
            << " protocol=" << v.protocol << " recv=" << v.recv << " send=" << v.send << "}";
}

const ClientValues kClientDefaults{"default-host", 1234, 11, 12, false, P::HTTP};

Sections clientStore() {
  Sections s = validStore();
  s["policy_client"] = {
      {"host", "policy.example"}, {"recv_timeout_secs", "20"}, {"send_timeout_secs", "25"}};
  return s;
}

// A store whose section fetch replaces the map, or one that adds to it.
FetchSection clientFetch(const Sections& store, bool replaces) {
  return [&store, replaces](Items& items, const char* section) {
    const auto it = store.find(section);
    if (it == store.end()) return false;
    if (replaces) items.clear();
    for (const auto& [k, v] : it->second) items[k] = v;
    return true;
  };
}

struct ClientRun {
  QuorErrC rc;
  ClientValues got;
  std::vector<std::string> errors;
};

ClientRun readClient(const Sections& store, bool replaces = true) {
  LogCapture log;
  ClientValues v = kClientDefaults;
  const ClientOutputs out{v.host, v.port, v.keepAlive, v.protocol, v.recv, v.send};
  const QuorErrC rc = readClientSettings(clientFetch(store, replaces), out);
  return {rc, v, log.texts(1)};
}

struct ClientCase {
  const char* section;
  const char* key;
  const char* text;
  ClientValues want;
};

TEST(QuorPolicyServerInterface, ClientSettings_ReplaceUnusableValuesSilently) {
  const ClientCase cases[] = {
      {"policy_server", "PolicyServerPort", "8080", {"policy.example", 8080, 20, 25, false, P::HTTP}},
      {"policy_server", "PolicyServerPort", "70000", {"policy.example", 5060, 20, 25, false, P::HTTP}},
      {"policy_server", "PolicyServerPort", "", {"policy.example", 5060, 20, 25, false, P::HTTP}},
      {"policy_server", "keep-alive", "Yes", {"policy.example", 8080, 20, 25, true, P::HTTP}},
      {"policy_server", "protocol", "HTTPS", {"policy.example", 8080, 20, 25, false, P::HTTPS}},
      {"policy_client", "host", "", {"", 8080, 20, 25, false, P::HTTP}},
      {"policy_client", "recv_timeout_secs", "abc", {"policy.example", 8080, 0, 25, false, P::HTTP}},
      {"policy_client", "recv_timeout_secs", "0", {"policy.example", 8080, 0, 25, false, P::HTTP}},
      {"policy_client", "recv_timeout_secs", "300", {"policy.example", 8080, 300, 25, false, P::HTTP}},
      {"policy_client", "recv_timeout_secs", "301", {"policy.example", 8080, 300, 25, false, P::HTTP}},
      {"policy_client", "recv_timeout_secs", "1000", {"policy.example", 8080, 300, 25, false, P::HTTP}},
      {"policy_client", "send_timeout_secs", "-1", {"policy.example", 8080, 20, 0, false, P::HTTP}},
      {"policy_client", "send_timeout_secs", "0301", {"policy.example", 8080, 20, 300, false, P::HTTP}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.text);
    Sections store = clientStore();
    store[c.section][c.key] = c.text;
    const ClientRun run = readClient(store);
    EXPECT_EQ(QuorErr::kSuccess, run.rc);
    EXPECT_EQ(c.want, run.got);
    EXPECT_TRUE(run.errors.empty()) << run.errors.size();
  }
}

TEST(QuorPolicyServerInterface, ClientSettings_AbsentKeyOrSectionGives1608) {
  const std::pair<const char*, const char*> keys[] = {
      {"policy_server", "PolicyServerPort"}, {"policy_server", "keep-alive"},
      {"policy_server", "protocol"},         {"policy_client", "host"},
      {"policy_client", "recv_timeout_secs"}, {"policy_client", "send_timeout_secs"}};
  for (const auto& [section, key] : keys) {
    SCOPED_TRACE(key);
    Sections store = clientStore();
    store[section].erase(key);
    store["policy_server"].erase(key);  // no fallback through the shared map
    const ClientRun run = readClient(store);
    EXPECT_EQ(QuorErr::kClientSettingsUnreadable, run.rc);
    EXPECT_EQ(std::vector<std::string>{std::string("QuorPolicyServerInterface::"
                                                   "getClientSettingsFromDatabase: Error "
                                                   "retrieving ") +
                                       key + " from section " + section + "."},
              run.errors);
  }
  for (const char* section : {"policy_server", "policy_client"}) {
    SCOPED_TRACE(section);
    Sections store = clientStore();
    store.erase(section);
    const ClientRun run = readClient(store);
    EXPECT_EQ(QuorErr::kClientSettingsUnreadable, run.rc);
    EXPECT_EQ(std::vector<std::string>{std::string("QuorPolicyServerInterface::"
                                                   "getClientSettingsFromDatabase: Error "
                                                   "retrieving items from section ") +
                                       section + "."},
              run.errors);
  }
}

TEST(QuorPolicyServerInterface, ClientSettings_StoreThatKeepsItemsLetsServerValuesFillIn) {
  Sections store = clientStore();
  store["policy_client"].erase("recv_timeout_secs");
  // Kept map: the server's time-out (30) stands in for the client's.
  const ClientRun kept = readClient(store, false);
  EXPECT_EQ(QuorErr::kSuccess, kept.rc);
  EXPECT_EQ((ClientValues{"policy.example", 8080, 30, 25, false, P::HTTP}), kept.got);
  EXPECT_TRUE(kept.errors.empty());
  // Replaced map: the key is missing.
  const ClientRun replaced = readClient(store, true);
  EXPECT_EQ(QuorErr::kClientSettingsUnreadable, replaced.rc);
  EXPECT_EQ(std::vector<std::string>{"QuorPolicyServerInterface::getClientSettingsFromDatabase: "
                                     "Error retrieving recv_timeout_secs from section "
                                     "policy_client."},
            replaced.errors);
}

// ---- writer ----

TEST(QuorPolicyServerInterface, WriteSettings_WritesSevenKeysInOrderAndStopsAtFirstFailure) {
  const std::vector<std::pair<std::string, std::string>> all = {
      {"backlog", "100"},  {"keep-alive", "yes"},  {"PolicyServerPort", "8443"},
      {"protocol", "HTTPS"}, {"threads", "8"},     {"max_threads", "16"},
      {"ldap_cache_TTL_minutes", "4294967295"}};
  // failAt = index of the write that fails; 7 means none fails.
  for (size_t failAt = 0; failAt <= all.size(); ++failAt) {
    SCOPED_TRACE(failAt);
    std::vector<std::pair<std::string, std::string>> calls;
    const StoreItem store = [&](const char* key, const char* value) {
      calls.emplace_back(key, value);
      return calls.size() - 1 != failAt;
    };
    LogCapture log;
    const QuorErrC rc = writeServerSettings(store, 100, true, 8443, P::HTTPS, 8, 16, 4294967295u);
    EXPECT_EQ(failAt == all.size() ? QuorErr::kSuccess : QuorErr::kSettingNotWritten, rc);
    const size_t attempted = failAt == all.size() ? all.size() : failAt + 1;
    EXPECT_EQ(std::vector(all.begin(), all.begin() + static_cast<long>(attempted)), calls);
    EXPECT_EQ(0u, log.size());
  }
}

TEST(QuorPolicyServerInterface, WriteSettings_WrittenTextsReadBackThroughTheReaders) {
  // The writer's texts, stored where the readers look for them.
  Sections store = clientStore();
  const StoreItem put = [&](const char* key, const char* value) {
    store["policy_server"][key] = value;
    if (std::string(key) == "ldap_cache_TTL_minutes") store["LDAP_SVR_1"][key] = value;
    return true;
  };
  ASSERT_EQ(QuorErr::kSuccess, writeServerSettings(put, 0, false, 65535, P::HTTPS, 1000, 2, 0));
  const ServerRun run = readServer(store);
  EXPECT_EQ(QuorErr::kSuccess, run.rc);
  EXPECT_EQ((Values{0, 65535, 30, 40, 1000, 2, 0, false, P::HTTPS}), run.got);
  EXPECT_EQ(expectedReadLines(store, "", ""), run.errors);
}

}  // namespace
}  // namespace quor::settings::detail
