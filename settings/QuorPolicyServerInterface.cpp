#include "QuorPolicyServerInterface.h"

#include <map>
#include <memory>
#include <string>

#include "GlobalSetting.h"
#include "RdbmsInterface.h"
#include "settings/detail/DbQueries.h"
#include "settings/detail/ServerSettings.h"

namespace detail = quor::settings::detail;

namespace {

constexpr const char* kSettingsFile = "quor.ini";

// Runs `read` on the settings source the caller chose: the process's
// in-memory store, or "quor.ini" through a settings object made for the
// call. An unusable in-memory store fails with `failure` without a message.
template <class Read>
QuorErrC withSource(bool prioritizeIni, QuorErrC failure, Read&& read) {
  if (prioritizeIni) {
    QUOR::GlobalSettingOnMem* store =
        QUOR::GlobalSettingOnMem::Instance(nullptr, true, nullptr, nullptr, nullptr, nullptr, true);
    if (store == nullptr || !store->ok()) return failure;
    return read([store](detail::Items& items, const char* section) {
      return store->getItemsInSection(items, section) == 0;
    });
  }
  QUOR::GlobalSettingIF settings;
  return read([&settings](detail::Items& items, const char* section) {
    return settings.getItemsInSection(items, section, kSettingsFile) == 0;
  });
}

}  // namespace

QuorErrC QuorPolicyServerInterface::getSettingsFromDatabase(
    unsigned int& backlog, bool& bKeepAlive, unsigned int& port, Protocol& protocol,
    unsigned int& recvTimeoutSecs, unsigned int& sendTimeoutSecs, unsigned int& threads,
    unsigned int& maxThreads, unsigned int& cacheTTLMins, bool bPrioritizeINI) {
  const detail::ServerOutputs out{backlog,  bKeepAlive,      port,
                                  protocol, recvTimeoutSecs, sendTimeoutSecs,
                                  threads,  maxThreads,      cacheTTLMins};
  return withSource(bPrioritizeINI, QuorErr::kServerSettingsUnreadable,
                    [&](const detail::FetchSection& fetch) {
                      return detail::readServerSettings(fetch, out, bPrioritizeINI);
                    });
}

QuorErrC QuorPolicyServerInterface::getClientSettingsFromDatabase(
    std::string& host, unsigned int& port, bool& bKeepAlive, Protocol& protocol,
    unsigned int& recvTimeoutSecs, unsigned int& sendTimeoutSecs, bool bPrioritizeINI) {
  const detail::ClientOutputs out{host,           port, bKeepAlive, protocol, recvTimeoutSecs,
                                  sendTimeoutSecs};
  return withSource(
      bPrioritizeINI, QuorErr::kClientSettingsUnreadable,
      [&](const detail::FetchSection& fetch) { return detail::readClientSettings(fetch, out); });
}

QuorErrC QuorPolicyServerInterface::setSettingsInDatabase(unsigned int backlog, bool bKeepAlive,
                                                          unsigned int port, Protocol protocol,
                                                          unsigned int threads,
                                                          unsigned int maxThreads,
                                                          unsigned int cacheTTLMins) {
  QUOR::GlobalSettingIF settings;
  return detail::writeServerSettings(
      [&settings](const char* key, const char* value) {
        return settings.setItem(key, value, "policy_server", kSettingsFile) == 0;
      },
      backlog, bKeepAlive, port, protocol, threads, maxThreads, cacheTTLMins);
}

QuorErrC QuorPolicyServerInterface::getPolicyServerInfo(std::vector<PolicyServerInfo>& servers) {
  QUOR::RdbmsInterface db;
  const char* sqlDir = QUOR::RdbmsInterface::GetSqlPath();
  if (sqlDir == nullptr || *sqlDir == '\0') return QuorErr::kSqlPathNotSet;
  return detail::policyServers(db, sqlDir, servers);
}
