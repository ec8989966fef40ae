#include "miscUtils.h"

#include "RdbmsInterface.h"
#include "settings/detail/DbQueries.h"

namespace detail = quor::settings::detail;

QuorErrC miscUtils::getUserDefinedRuleOrder(QUOR::RdbmsInterface& db, bool& bManualOrder,
                                            std::vector<QuorFilter::FilterType>& order,
                                            bool bVerify) {
  return detail::userDefinedRuleOrder(
      db, QUOR::RdbmsInterface::GetSqlPath(), bManualOrder, order, bVerify,
      [&db](int rank, int filterId) { _verifyFilterNames(db, rank, filterId); });
}

void miscUtils::_verifyFilterNames(QUOR::RdbmsInterface& db, int expectedOrder, int filterId) {
  detail::verifyFilterRow(db, expectedOrder, filterId);
}

QuorErrC miscUtils::getAdminId(QUOR::RdbmsInterface& db, const char* adminName,
                               unsigned int& adminId) {
  return detail::adminId(db, QUOR::RdbmsInterface::GetSqlPath(), adminName, adminId,
                         [](const char* in, std::string& buffer, const char*& out) {
                           QUOR::RdbmsInterface::escapeData(in, buffer, out);
                         });
}
