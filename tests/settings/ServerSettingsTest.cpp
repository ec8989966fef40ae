// Validation of the policy server settings over an in-memory section source.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "settings/detail/ServerSettings.h"
#include "support/LogCapture.h"

namespace quor::settings::detail {
namespace {

using quor::test::LogCapture;
using Sections = std::map<std::string, Items>;
using Lines = std::vector<std::string>;

// The keys in reading order with the section each is fetched from.
const std::pair<const char*, const char*> kKeys[] = {
    {"backlog", "policy_server"},           {"keep-alive", "policy_server"},
    {"PolicyServerPort", "policy_server"},  {"protocol", "policy_server"},
    {"recv_timeout_secs", "policy_server"}, {"send_timeout_secs", "policy_server"},
    {"threads", "policy_server"},           {"max_threads", "policy_server"},
    {"ldap_cache_TTL_minutes", "LDAP_SVR_1"}};

Sections validStore() {
  return {{"policy_server", {{"backlog", "50"}, {"keep-alive", "no"}, {"PolicyServerPort", "8080"},
                             {"protocol", "http"}, {"recv_timeout_secs", "30"}, {"send_timeout_secs", "40"},
                             {"threads", "10"}, {"max_threads", "20"}}},
          {"LDAP_SVR_1", {{"ldap_cache_TTL_minutes", "60"}}},
          {"policy_client", {{"host", "h.example"}, {"recv_timeout_secs", "20"}, {"send_timeout_secs", "25"}}}};
}

// Replaces the map with the section, as a store that clears it would.
FetchSection fetchFrom(const Sections& store) {
  return [&store](Items& items, const char* section) {
    const auto it = store.find(section);
    if (it == store.end()) return false;
    items = it->second;
    return true;
  };
}

// Reads with the caller's defaults 77 false 5555 1(https) 66 55 44 33 22 and
// gives the nine outputs in that order as text.
std::string readServer(const Sections& store, QuorErrC& rc, Lines& errors) {
  unsigned int backlog = 77, port = 5555, recv = 66, send = 55, threads = 44, maxThreads = 33,
               ttl = 22;
  bool keepAlive = false;
  auto protocol = QuorPolicyServerInterface::HTTPS;
  LogCapture log;
  rc = readServerSettings(
      fetchFrom(store), {backlog, keepAlive, port, protocol, recv, send, threads, maxThreads, ttl},
      false);
  errors = log.texts(1);
  char text[128];
  std::snprintf(text, sizeof text, "%u %d %u %d %u %u %u %u %u", backlog, keepAlive, port,
                static_cast<int>(protocol), recv, send, threads, maxThreads, ttl);
  return text;
}

// The error-level lines of a read that stops at no key: a read line per key
// and the protocol line after the fourth, `extra` lines besides.
size_t readLineCount(size_t keys, size_t extra = 0) { return keys + (keys > 3 ? 1 : 0) + extra; }

struct ValueCase {
  const char* key;
  const char* text;
  const char* want;   // the nine outputs
  const char* extra;  // the message after the key's read line, "" for none
};

TEST(QuorPolicyServerInterface, ServerSettings_FollowTheValidationTable) {
  // clang-format off
  const ValueCase cases[] = {
      {"backlog", "0", "0 0 8080 0 30 40 10 20 60", ""},
      {"backlog", "1000", "1000 0 8080 0 30 40 10 20 60", ""},
      {"backlog", "0999", "999 0 8080 0 30 40 10 20 60", ""},
      {"backlog", "1001", "1000 0 8080 0 30 40 10 20 60", "[ERROR]Value of '1001' is invalid, use default value 1000."},
      {"backlog", "12345", "1000 0 8080 0 30 40 10 20 60", "[ERROR]Size of '12345' is too long, use default value 1000."},
      {"backlog", "abc", "77 0 8080 0 30 40 10 20 60", ""},
      {"keep-alive", "YES", "50 1 8080 0 30 40 10 20 60", ""},
      {"PolicyServerPort", "65535", "50 0 65535 0 30 40 10 20 60", ""},
      {"PolicyServerPort", "0", "50 0 5555 0 30 40 10 20 60", "[ERROR]Port value '0' is invalid, use default value '5555'."},
      {"protocol", "HttpS", "50 0 8080 1 30 40 10 20 60", ""},
      {"protocol", "https2", "50 0 8080 0 30 40 10 20 60", ""},
      {"recv_timeout_secs", "301", "50 0 8080 0 300 40 10 20 60", "[ERROR]Value of '301' is invalid, use default value 300."},
      {"recv_timeout_secs", "1000", "50 0 8080 0 300 40 10 20 60", "[ERROR]Size of '1000' is too long, use default value 300."},
      {"send_timeout_secs", "0", "50 0 8080 0 30 0 10 20 60", ""},
      {"send_timeout_secs", "0300", "50 0 8080 0 30 300 10 20 60", "[ERROR]Size of '0300' is too long, use default value 300."},
      {"threads", "0", "50 0 8080 0 30 40 1 20 60", "[ERROR]Value of '0' is invalid, use default value 1."},
      {"threads", "1", "50 0 8080 0 30 40 1 20 60", ""},
      {"threads", "1001", "50 0 8080 0 30 40 1000 20 60", "[ERROR]Value of '1001' is invalid, use default value 1000."},
      {"threads", "10000", "50 0 8080 0 30 40 1000 20 60", "[ERROR]Size of '10000' is too long, use default value 1000."},
      {"max_threads", "1", "50 0 8080 0 30 40 10 2 60", "[ERROR]Value of '1' is invalid, use default value 2."},
      {"max_threads", "2", "50 0 8080 0 30 40 10 2 60", ""},
      {"max_threads", "1001", "50 0 8080 0 30 40 10 1000 60", "[ERROR]Value of '1001' is invalid, use default value 1000."},
      {"ldap_cache_TTL_minutes", "0", "50 0 8080 0 30 40 10 20 0", ""},
      {"ldap_cache_TTL_minutes", "4294967295", "50 0 8080 0 30 40 10 20 4294967295", ""},
      {"ldap_cache_TTL_minutes", "abc", "50 0 8080 0 30 40 10 20 1440", "[ERROR]Value of 'abc' is invalid, use default value 1440."},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.text);
    Sections store = validStore();
    store[std::string(c.key) == "ldap_cache_TTL_minutes" ? "LDAP_SVR_1" : "policy_server"][c.key] =
        c.text;
    QuorErrC rc = -1;
    Lines errors;
    EXPECT_EQ(c.want, readServer(store, rc, errors));
    EXPECT_EQ(0, rc);
    ASSERT_EQ(readLineCount(9, c.extra[0] != '\0'), errors.size());
    EXPECT_EQ(c.extra[0] != '\0', std::find(errors.begin(), errors.end(), c.extra) != errors.end());
  }
  Sections store = validStore();
  Lines errors;
  QuorErrC rc = -1;
  readServer(store, rc, errors);
  ASSERT_EQ(readLineCount(9), errors.size());
  EXPECT_EQ("Read setting 'backlog' in section [policy_server], value is '50'.", errors[0]);
  EXPECT_EQ("Policy server will use protocal 'http'.", errors[4]);
  store["policy_server"]["protocol"] = "HTTPS";
  readServer(store, rc, errors);
  EXPECT_EQ("Policy server will use protocal 'https'.", errors.at(4));
}

TEST(QuorPolicyServerInterface, ServerSettings_AbsentKeyStopsWithEarlierOutputsSet) {
  // clang-format off
  const char* const want[] = {
      "77 0 5555 1 66 55 44 33 22",  "50 0 5555 1 66 55 44 33 22", "50 0 5555 1 66 55 44 33 22",
      "50 0 8080 1 66 55 44 33 22",  "50 0 8080 0 66 55 44 33 22", "50 0 8080 0 30 55 44 33 22",
      "50 0 8080 0 30 40 44 33 22",  "50 0 8080 0 30 40 10 33 22", "50 0 8080 0 30 40 10 20 22"};
  for (size_t missing = 0; missing < std::size(kKeys); ++missing) {
    const auto& [key, section] = kKeys[missing];
    SCOPED_TRACE(key);
    Sections store = validStore();
    store[section].erase(key);
    QuorErrC rc = -1;
    Lines errors;
    EXPECT_EQ(want[missing], readServer(store, rc, errors));
    EXPECT_EQ(1609, rc);
    ASSERT_EQ(readLineCount(missing, 1), errors.size());
    EXPECT_EQ(std::string("[ERROR]Can not find setting '") + key + "' in section [policy_server].",
              errors.back());
  }
  for (const char* absent : {"policy_server", "LDAP_SVR_1"}) {
    SCOPED_TRACE(absent);
    Sections store = validStore();
    store.erase(absent);
    QuorErrC rc = -1;
    Lines errors;
    EXPECT_EQ("77 0 5555 1 66 55 44 33 22", readServer(store, rc, errors));
    EXPECT_EQ(1609, rc);
    EXPECT_EQ(Lines{"[ERROR]Can not retrieve items in section policy_server and LDAP_SVR_1."}, errors);
  }
}

struct ClientCase {
  const char* section;
  const char* key;
  const char* text;  // nullptr: the key is absent
  QuorErrC rc;
  const char* want;  // host port keepAlive protocol recv send
};

TEST(QuorPolicyServerInterface, ClientSettings_ReplaceUnusableValuesAndNeedEveryKey) {
  // clang-format off
  const ClientCase cases[] = {
      {"policy_server", "PolicyServerPort", "70000", 0, "h.example 5060 0 0 20 25"},
      {"policy_server", "keep-alive", "Yes", 0, "h.example 8080 1 0 20 25"},
      {"policy_server", "protocol", "HTTPS", 0, "h.example 8080 0 1 20 25"},
      {"policy_client", "recv_timeout_secs", "abc", 0, "h.example 8080 0 0 0 25"},
      {"policy_client", "recv_timeout_secs", "301", 0, "h.example 8080 0 0 300 25"},
      {"policy_client", "recv_timeout_secs", "1000", 0, "h.example 8080 0 0 300 25"},
      {"policy_client", "send_timeout_secs", "300", 0, "h.example 8080 0 0 20 300"},
      {"policy_server", "PolicyServerPort", nullptr, 1608, "d 1 1 1 11 12"},
      {"policy_server", "protocol", nullptr, 1608, "d 8080 0 1 11 12"},
      {"policy_client", "host", nullptr, 1608, "d 8080 0 0 11 12"},
      {"policy_client", "send_timeout_secs", nullptr, 1608, "h.example 8080 0 0 20 12"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + (c.text ? c.text : "<absent>"));
    Sections store = validStore();
    if (c.text)
      store[c.section][c.key] = c.text;
    else
      store[c.section].erase(c.key);
    std::string host = "d";
    unsigned int port = 1, recv = 11, send = 12;
    bool keepAlive = true;
    auto protocol = QuorPolicyServerInterface::HTTPS;
    LogCapture log;
    EXPECT_EQ(c.rc,
              readClientSettings(fetchFrom(store), {host, port, keepAlive, protocol, recv, send}));
    EXPECT_EQ(c.want, host + " " + std::to_string(port) + " " + std::to_string(keepAlive) + " " +
                          std::to_string(protocol) + " " + std::to_string(recv) + " " +
                          std::to_string(send));
    const Lines want = c.text
                           ? Lines{}
                           : Lines{std::string("QuorPolicyServerInterface::"
                                               "getClientSettingsFromDatabase: Error retrieving ") +
                                   c.key + " from section " + c.section + "."};
    EXPECT_EQ(want, log.texts(1));
  }
}

TEST(QuorPolicyServerInterface, WriteSettings_WritesSevenKeysInOrderAndStopsAtFirstFailure) {
  const std::vector<std::pair<std::string, std::string>> all = {
      {"backlog", "100"},
      {"keep-alive", "yes"},
      {"PolicyServerPort", "8443"},
      {"protocol", "HTTPS"},
      {"threads", "8"},
      {"max_threads", "16"},
      {"ldap_cache_TTL_minutes", "4294967295"}};
  for (size_t failAt = 0; failAt <= all.size(); ++failAt) {  // all.size(): none fails
    SCOPED_TRACE(failAt);
    std::vector<std::pair<std::string, std::string>> calls;
    const StoreItem store = [&](const char* key, const char* value) {
      calls.emplace_back(key, value);
      return calls.size() - 1 != failAt;
    };
    LogCapture log;
    EXPECT_EQ(failAt == all.size() ? 0 : 1610,
              writeServerSettings(store, 100, true, 8443, QuorPolicyServerInterface::HTTPS, 8, 16,
                                  4294967295u));
    EXPECT_EQ(
        std::vector(all.begin(), all.begin() + static_cast<long>(std::min(failAt + 1, all.size()))),
        calls);
    EXPECT_EQ(0u, log.size());
  }
}

}  // namespace
}  // namespace quor::settings::detail
