#include "settings/detail/ServerSettings.h"

#include <cstdlib>
#include <cstring>

#include "PolicyLog.h"
#include "QuorCommonUtil.h"
#include "port/Port.h"

namespace quor::settings::detail {
namespace {

constexpr const char* kServerSection = "policy_server";
constexpr const char* kClientSection = "policy_client";
constexpr const char* kLdapSection = "LDAP_SVR_1";
constexpr const char* kTtlKey = "ldap_cache_TTL_minutes";

// A bounded number setting: its longest accepted text, its ceiling, and the
// smallest accepted value with what replaces a smaller one.
struct Bounds {
  size_t maxDigits;
  unsigned int ceiling;
  unsigned int floor;  // values below this are replaced by floorValue
  unsigned int floorValue;
};

void logTooLong(const std::string& text, unsigned int value) {
  PolicyLog::log(PolicyLog::Error, "[ERROR]Size of '%s' is too long, use default value %d.",
                 text.c_str(), static_cast<int>(value));
}

void logInvalid(const std::string& text, unsigned int value) {
  PolicyLog::log(PolicyLog::Error, "[ERROR]Value of '%s' is invalid, use default value %d.",
                 text.c_str(), static_cast<int>(value));
}

// A non-numeric text leaves `value` as the caller set it, without a message:
// the caller's value is the default.
void applyBounded(const std::string& text, const Bounds& b, unsigned int& value) {
  if (!isNum(text.c_str())) return;
  if (text.size() > b.maxDigits) {
    value = b.ceiling;
    logTooLong(text, value);
    return;
  }
  const unsigned int n = numberOf(text);
  if (n < b.floor) {
    value = b.floorValue;
    logInvalid(text, value);
  } else if (n > b.ceiling) {
    value = b.ceiling;
    logInvalid(text, value);
  } else {
    value = n;
  }
}

bool isYes(const std::string& text) { return port::quorStricmp(text.c_str(), "yes") == 0; }

Protocol protocolOf(const std::string& text) {
  return port::quorStricmp(text.c_str(), "https") == 0 ? QuorPolicyServerInterface::HTTPS
                                                       : QuorPolicyServerInterface::HTTP;
}

// Looks `key` up among `items`; logs the read line, or the not-found line
// naming `section`, which is the section the administration knows the key
// by (for the cache lifetime not the one it is fetched from).
const std::string* readServerItem(const Items& items, const char* key, const char* section) {
  const auto it = items.find(key);
  if (it == items.end()) {
    PolicyLog::log(PolicyLog::Error, "[ERROR]Can not find setting '%s' in section [%s].", key,
                   section);
    return nullptr;
  }
  PolicyLog::log(PolicyLog::Error, "Read setting '%s' in section [%s], value is '%s'.", key,
                 section, it->second.c_str());
  return &it->second;
}

// Client time-outs: a non-number gives 0, never the caller's value.
unsigned int clientTimeout(const std::string& text) {
  if (!isNum(text.c_str())) return 0;
  if (text.size() > 3) return 300;
  const unsigned int n = numberOf(text);
  return n > 300 ? 300 : n;
}

}  // namespace

unsigned int numberOf(const std::string& digits) {
  // atoi is strtol narrowed to int; the narrowing wraps modulo 2^32.
  return static_cast<unsigned int>(static_cast<int>(std::strtol(digits.c_str(), nullptr, 10)));
}

QuorErrC readServerSettings(const FetchSection& fetch, const ServerOutputs& out,
                            bool prioritizeIni) {
  PolicyLog::log(PolicyLog::Progress, "Enter QuorPolicyServerInterface::getSettingsFromDatabase()");
  Items server;
  Items ldap;
  if (!fetch(server, kServerSection) || !fetch(ldap, kLdapSection)) {
    PolicyLog::log(PolicyLog::Error, "[ERROR]Can not retrieve items in section %s and %s.",
                   kServerSection, kLdapSection);
    return QuorErr::kServerSettingsUnreadable;
  }

  const std::string* text = readServerItem(server, "backlog", kServerSection);
  if (text == nullptr) return QuorErr::kServerSettingsUnreadable;
  applyBounded(*text, Bounds{4, 1000, 0, 0}, out.backlog);

  if ((text = readServerItem(server, "keep-alive", kServerSection)) == nullptr) {
    return QuorErr::kServerSettingsUnreadable;
  }
  out.keepAlive = isYes(*text);

  if ((text = readServerItem(server, "PolicyServerPort", kServerSection)) == nullptr) {
    return QuorErr::kServerSettingsUnreadable;
  }
  if (isValidPort(text->c_str())) {
    out.port = numberOf(*text);
  } else {
    PolicyLog::log(PolicyLog::Error, "[ERROR]Port value '%s' is invalid, use default value '%d'.",
                   text->c_str(), static_cast<int>(out.port));
  }

  if ((text = readServerItem(server, "protocol", kServerSection)) == nullptr) {
    return QuorErr::kServerSettingsUnreadable;
  }
  out.protocol = protocolOf(*text);
  PolicyLog::log(PolicyLog::Error, "Policy server will use protocal '%s'.",
                 out.protocol == QuorPolicyServerInterface::HTTPS ? "https" : "http");

  if ((text = readServerItem(server, "recv_timeout_secs", kServerSection)) == nullptr) {
    return QuorErr::kServerSettingsUnreadable;
  }
  applyBounded(*text, Bounds{3, 300, 0, 0}, out.recvTimeoutSecs);

  if ((text = readServerItem(server, "send_timeout_secs", kServerSection)) == nullptr) {
    return QuorErr::kServerSettingsUnreadable;
  }
  applyBounded(*text, Bounds{3, 300, 0, 0}, out.sendTimeoutSecs);

  if ((text = readServerItem(server, "threads", kServerSection)) == nullptr) {
    return QuorErr::kServerSettingsUnreadable;
  }
  applyBounded(*text, Bounds{4, 1000, 1, 1}, out.threads);

  if ((text = readServerItem(server, "max_threads", kServerSection)) == nullptr) {
    return QuorErr::kServerSettingsUnreadable;
  }
  applyBounded(*text, Bounds{4, 1000, 2, 2}, out.maxThreads);

  // The cache lifetime is fetched from the LDAP section but reported under
  // "policy_server", the section the writer stores it in.
  if ((text = readServerItem(ldap, kTtlKey, kServerSection)) == nullptr) {
    return QuorErr::kServerSettingsUnreadable;
  }
  if (isNum(text->c_str())) {
    out.cacheTTLMins = numberOf(*text);
  } else {
    out.cacheTTLMins = 1440;
    logInvalid(*text, out.cacheTTLMins);
  }

  PolicyLog::log(PolicyLog::Progress,
                 "QuorPolicyServerInterface: getSettingsFromDatabase() backlog=%d bKeepAlive=%d "
                 "port=%d protocol=%d recvTimeoutSecs=%d sendTimeoutSecs=%d threads=%d "
                 "maxThreads=%d cacheTTLMins=%d bPrioritizeINI=%d",
                 static_cast<int>(out.backlog), out.keepAlive ? 1 : 0, static_cast<int>(out.port),
                 static_cast<int>(out.protocol), static_cast<int>(out.recvTimeoutSecs),
                 static_cast<int>(out.sendTimeoutSecs), static_cast<int>(out.threads),
                 static_cast<int>(out.maxThreads), static_cast<int>(out.cacheTTLMins),
                 prioritizeIni ? 1 : 0);
  PolicyLog::log(PolicyLog::Progress, "Leave QuorPolicyServerInterface: getSettingsFromDatabase()");
  return QuorErr::kSuccess;
}

QuorErrC readClientSettings(const FetchSection& fetch, const ClientOutputs& out) {
  PolicyLog::log(PolicyLog::Progress,
                 "QuorPolicyServerInterface: getClientSettingsFromDatabase() ...\n");
  Items items;
  const auto fetchOrLog = [&](const char* section) {
    if (fetch(items, section)) return true;
    PolicyLog::log(PolicyLog::Error,
                   "QuorPolicyServerInterface::getClientSettingsFromDatabase: Error retrieving "
                   "items from section %s.",
                   section);
    return false;
  };
  const auto find = [&](const char* key, const char* section) -> const std::string* {
    const auto it = items.find(key);
    if (it != items.end()) return &it->second;
    PolicyLog::log(PolicyLog::Error,
                   "QuorPolicyServerInterface::getClientSettingsFromDatabase: Error retrieving %s "
                   "from section %s.",
                   key, section);
    return nullptr;
  };

  if (!fetchOrLog(kServerSection)) return QuorErr::kClientSettingsUnreadable;
  const std::string* text = find("PolicyServerPort", kServerSection);
  if (text == nullptr) return QuorErr::kClientSettingsUnreadable;
  out.port = isValidPort(text->c_str()) ? numberOf(*text) : 5060;
  if ((text = find("keep-alive", kServerSection)) == nullptr) {
    return QuorErr::kClientSettingsUnreadable;
  }
  out.keepAlive = isYes(*text);
  if ((text = find("protocol", kServerSection)) == nullptr) {
    return QuorErr::kClientSettingsUnreadable;
  }
  out.protocol = protocolOf(*text);

  // The client section is fetched into the same map: a store that does not
  // empty it lets a key missing from "policy_client" fall back to the
  // server's value.
  if (!fetchOrLog(kClientSection)) return QuorErr::kClientSettingsUnreadable;
  if ((text = find("host", kClientSection)) == nullptr) {
    return QuorErr::kClientSettingsUnreadable;
  }
  out.host = *text;
  if ((text = find("recv_timeout_secs", kClientSection)) == nullptr) {
    return QuorErr::kClientSettingsUnreadable;
  }
  out.recvTimeoutSecs = clientTimeout(*text);
  if ((text = find("send_timeout_secs", kClientSection)) == nullptr) {
    return QuorErr::kClientSettingsUnreadable;
  }
  out.sendTimeoutSecs = clientTimeout(*text);

  PolicyLog::log(PolicyLog::Progress,
                 "QuorPolicyServerInterface: getClientSettingsFromDatabase() !!!\n");
  return QuorErr::kSuccess;
}

QuorErrC writeServerSettings(const StoreItem& store, unsigned int backlog, bool keepAlive,
                             unsigned int port, Protocol protocol, unsigned int threads,
                             unsigned int maxThreads, unsigned int cacheTTLMins) {
  char buffer[256];
  const auto number = [&](const char* key, unsigned int value) {
    std::snprintf(buffer, sizeof buffer, "%u", value);
    return store(key, buffer);
  };
  const auto text = [&](const char* key, const char* value) {
    std::snprintf(buffer, sizeof buffer, "%s", value);
    return store(key, buffer);
  };
  const bool written =
      number("backlog", backlog) && text("keep-alive", keepAlive ? "yes" : "no") &&
      number("PolicyServerPort", port) &&
      text("protocol", protocol == QuorPolicyServerInterface::HTTPS ? "HTTPS" : "HTTP") &&
      number("threads", threads) && number("max_threads", maxThreads) &&
      number(kTtlKey, cacheTTLMins);
  return written ? QuorErr::kSuccess : QuorErr::kSettingNotWritten;
}

}  // namespace quor::settings::detail
