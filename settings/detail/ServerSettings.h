// Validation of the policy server settings, independent of where the items
// come from. QuorPolicyServerInterface picks the settings store and hands
// these functions a way to fetch a section's items and to store one item.
#ifndef QUORPOLICY_SETTINGS_DETAIL_SERVERSETTINGS_H_
#define QUORPOLICY_SETTINGS_DETAIL_SERVERSETTINGS_H_

#include <functional>
#include <map>
#include <string>

#include "QuorErrC.h"
#include "QuorPolicyServerInterface.h"

namespace quor::settings::detail {

using Items = std::map<std::string, std::string>;

// Fills `items` with the section's keys and texts; false when the section
// cannot be fetched. Whether `items` is emptied first is the store's choice.
using FetchSection = std::function<bool(Items& items, const char* section)>;

// Stores one text under `key` of "policy_server"; false when it was not
// written.
using StoreItem = std::function<bool(const char* key, const char* value)>;

using Protocol = QuorPolicyServerInterface::Protocol;

// The server's outputs, bound to the caller's variables.
struct ServerOutputs {
  unsigned int& backlog;
  bool& keepAlive;
  unsigned int& port;
  Protocol& protocol;
  unsigned int& recvTimeoutSecs;
  unsigned int& sendTimeoutSecs;
  unsigned int& threads;
  unsigned int& maxThreads;
  unsigned int& cacheTTLMins;
};

struct ClientOutputs {
  std::string& host;
  unsigned int& port;
  bool& keepAlive;
  Protocol& protocol;
  unsigned int& recvTimeoutSecs;
  unsigned int& sendTimeoutSecs;
};

// The body of getSettingsFromDatabase once the store is chosen; returns 0 or
// 1609. `prioritizeIni` only appears in the closing log line.
QuorErrC readServerSettings(const FetchSection& fetch, const ServerOutputs& out,
                            bool prioritizeIni);

// The body of getClientSettingsFromDatabase once the store is chosen;
// returns 0 or 1608.
QuorErrC readClientSettings(const FetchSection& fetch, const ClientOutputs& out);

// The body of setSettingsInDatabase; returns 0 or 1610.
QuorErrC writeServerSettings(const StoreItem& store, unsigned int backlog, bool keepAlive,
                             unsigned int port, Protocol protocol, unsigned int threads,
                             unsigned int maxThreads, unsigned int cacheTTLMins);

// The number of a text that isNum accepted, as the C runtime's atoi reads it
// and seen unsigned; digit strings beyond the range of long give 4294967295,
// as atoi does on this platform.
unsigned int numberOf(const std::string& digits);

}  // namespace quor::settings::detail

#endif  // QUORPOLICY_SETTINGS_DETAIL_SERVERSETTINGS_H_
