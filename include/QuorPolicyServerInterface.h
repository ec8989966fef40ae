// QuorPolicyServerInterface: the network settings of the policy server and of
// its clients, and the list of registered policy servers.
//
// The settings live in the gateway's settings store, in the sections
// "policy_server", "policy_client" and "LDAP_SVR_1" of "quor.ini". The
// readers validate every value and fall back to defaults; the output
// parameters double as the defaults, so callers fill them before the call:
// a value that is present but unusable in some ways leaves the caller's value
// as it was. Every setting read is logged at level 1.
//
// Sources. With bPrioritizeINI true the readers use the process's in-memory
// settings store (GlobalSettingOnMem::Instance); with false they read
// "quor.ini" through a GlobalSettingIF made for the call. The writer always
// goes through a GlobalSettingIF.
//
// Thread safety: all operations are static and reentrant; each call makes its
// own settings object, item maps and database connection. Serialising access
// to the settings themselves is the settings store's concern.
#ifndef QUORPOLICY_INCLUDE_QUORPOLICYSERVERINTERFACE_H_
#define QUORPOLICY_INCLUDE_QUORPOLICYSERVERINTERFACE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "QuorErrC.h"
#include "QuorExport.h"

// One registered policy server (a component of kind "P").
struct QUORPOLICY_API PolicyServerInfo {
  std::uint32_t scannerId = 0;  // column "scanner_id"
  std::string ipAddr;           // column "ip_addr"
  std::uint32_t agentPort = 0;  // column "agent_port"
};

class QUORPOLICY_API QuorPolicyServerInterface {
 public:
  enum Protocol { HTTP = 0, HTTPS = 1 };

  // The policy server's own settings, from "policy_server" (and
  // "ldap_cache_TTL_minutes" from "LDAP_SVR_1"). Returns 0, or 1609 when the
  // store is unusable, a section cannot be fetched or a key is absent (the
  // outputs set before the absent key keep their new values). Out-of-range
  // values are replaced and logged, never errors:
  //   backlog          0..1000, longer than 4 characters or above 1000 -> 1000
  //   recv/send secs   0..300,  longer than 3 characters or above 300  -> 300
  //   threads          1..1000, 0 -> 1;     maxThreads 2..1000, 0 or 1 -> 2
  //   port             a valid port, else unchanged
  //   cacheTTLMins     any number, a non-number -> 1440
  // A non-numeric backlog, time-out or thread count leaves the output as it
  // was.
  static QuorErrC getSettingsFromDatabase(unsigned int& backlog, bool& bKeepAlive,
                                          unsigned int& port, Protocol& protocol,
                                          unsigned int& recvTimeoutSecs,
                                          unsigned int& sendTimeoutSecs, unsigned int& threads,
                                          unsigned int& maxThreads, unsigned int& cacheTTLMins,
                                          bool bPrioritizeINI);

  // The settings with which a client reaches the server: port, keep-alive and
  // protocol from "policy_server" (an invalid port gives 5060), host and the
  // time-outs from "policy_client" (a non-number gives 0, longer than 3
  // characters or above 300 gives 300). Returns 0, or 1608 when the store is
  // unusable, a section cannot be fetched or a key is absent.
  static QuorErrC getClientSettingsFromDatabase(std::string& host, unsigned int& port,
                                                bool& bKeepAlive, Protocol& protocol,
                                                unsigned int& recvTimeoutSecs,
                                                unsigned int& sendTimeoutSecs, bool bPrioritizeINI);

  // Writes "backlog", "keep-alive" ("yes"/"no"), "PolicyServerPort",
  // "protocol" ("HTTPS"/"HTTP"), "threads", "max_threads" and
  // "ldap_cache_TTL_minutes" under "policy_server" of "quor.ini", in that
  // order. The first write that fails ends the call with 1610; earlier writes
  // stay. The time-outs are not written. Logs nothing.
  static QuorErrC setSettingsInDatabase(unsigned int backlog, bool bKeepAlive, unsigned int port,
                                        Protocol protocol, unsigned int threads,
                                        unsigned int maxThreads, unsigned int cacheTTLMins);

  // Appends one record per registered policy server (statement
  // "ui_GetComponentInfo.sql" with the kind "P"). Returns 0; 4005 when the
  // SQL directory has not been set; 1002 when a column of a row is null
  // (records already appended stay); 4002 when the data-access layer fails.
  // REQUIRES: RdbmsInterface::Init has run.
  static QuorErrC getPolicyServerInfo(std::vector<PolicyServerInfo>& servers);

  QuorPolicyServerInterface() = delete;
};

#endif  // QUORPOLICY_INCLUDE_QUORPOLICYSERVERINTERFACE_H_
