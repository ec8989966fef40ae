// The database work of miscUtils and QuorPolicyServerInterface, written once
// for any unit of work that offers the calls of QUOR::RdbmsInterface used
// here: executeSQL(const char*), fetchNextRow() (0 while a row is current)
// and getColVal(const char*) (null for a missing value). The exported
// operations instantiate it with RdbmsInterface and the SQL directory of
// RdbmsInterface::GetSqlPath().
//
// Failures of the data-access layer arrive as a thrown `const char*`; each
// operation catches exactly that at its boundary and turns it into its code.
#ifndef QUORPOLICY_SETTINGS_DETAIL_DBQUERIES_H_
#define QUORPOLICY_SETTINGS_DETAIL_DBQUERIES_H_

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "PolicyLog.h"
#include "QuorErrC.h"
#include "QuorFilter.h"
#include "QuorPolicyServerInterface.h"
#include "ZoDataAccess.h"

namespace quor::settings::detail {

// One filter group of the manual order: its expected name in the database
// and the run of filter kinds it stands for.
struct RuleGroup {
  const char* name;
  std::vector<QuorFilter::FilterType> kinds;
};

// The group with identifier 1 to 6, or null for any other identifier.
const RuleGroup* ruleGroup(int filterId);

// Logs that the row's name `name` is not the expected name of group
// `filterId` (1 to 6).
void logNameMismatch(int filterId, const char* name);

// Parses a column text as "%d" does; true when it yields one value.
bool parseInt(const char* text, int& value);

// Checks the current row of the manual-order statement; logs what differs
// from rank `expectedOrder` and group `filterId`. Swallows data-access
// failures after logging them.
template <class Db>
void verifyFilterRow(Db& db, int expectedOrder, int filterId) {
  try {
    int dbOrder = 0;
    const char* orderText = db.getColVal("RuleOrder");
    if (orderText == nullptr || !parseInt(orderText, dbOrder)) {
      dbOrder = 0;
      PolicyLog::log(PolicyLog::Error,
                     "miscUtils::_verifyFilterNames: failed to retrieve RuleOrder from %s string "
                     "for filterId %d",
                     orderText == nullptr ? "NULL" : orderText, filterId);
    }
    const char* nameText = db.getColVal("FilterType");
    if (nameText == nullptr) {
      PolicyLog::log(PolicyLog::Error,
                     "miscUtils::_verifyFilterNames: failed to retrieve FilterType for filterId %d",
                     filterId);
      return;
    }
    const std::string name(nameText);  // the connection's text dies at its next call
    if (expectedOrder != dbOrder) {
      PolicyLog::log(PolicyLog::Error,
                     "miscUtils::_verifyFilterNames: expected order %d != dbOrder %d for filter: "
                     "%d; %s",
                     expectedOrder, dbOrder, filterId, name.c_str());
    }
    const RuleGroup* group = ruleGroup(filterId);
    if (group == nullptr) {
      PolicyLog::log(PolicyLog::Error, "miscUtils::_verifyFilterNames: unexpected filter type %d",
                     filterId);
    } else if (name != group->name) {
      logNameMismatch(filterId, name.c_str());
    }
  } catch (const char* text) {
    PolicyLog::log(PolicyLog::Error, "miscUtils::_verifyFilterNames: Exception \"%s\" thrown",
                   text);
  }
}

// The body of miscUtils::getUserDefinedRuleOrder. `verify(rank, filterId)`
// checks the current row when `bVerify` is set.
template <class Db, class Verify>
QuorErrC userDefinedRuleOrder(Db& db, const char* sqlDir, bool& bManualOrder,
                              std::vector<QuorFilter::FilterType>& order, bool bVerify,
                              Verify&& verify) {
  order.clear();
  bManualOrder = false;
  // Statement texts start empty so that a failed load logs an empty text.
  char settingStmt[256] = "";
  char orderStmt[1024] = "";
  const char* current = settingStmt;
  try {
    ZoSqlLoader loader(sqlDir);
    loader.loadSQL(settingStmt, sizeof settingStmt, "ui_GetGlobalSettingValue.sql", "email-scan",
                   "manualRuleOrder");
    db.executeSQL(settingStmt);
    const char* value = db.fetchNextRow() == 0 ? db.getColVal("value") : nullptr;
    if (value == nullptr) {
      PolicyLog::log(PolicyLog::Error,
                     "miscUtils::getUserDefinedRuleOrder: could not retrieve manualRuleOrder "
                     "setting for statement %s",
                     settingStmt);
      return QuorErr::kMissingData;
    }
    if (std::strcmp(value, "on") != 0) return QuorErr::kSuccess;

    current = orderStmt;
    loader.loadSQL(orderStmt, sizeof orderStmt, "ui_GetManualOrderSetting.sql");
    db.executeSQL(orderStmt);
    int rank = 1;
    while (db.fetchNextRow() == 0) {
      const char* idText = db.getColVal("FilterID");
      int filterId = 0;
      if (idText == nullptr || !parseInt(idText, filterId)) {
        PolicyLog::log(PolicyLog::Error,
                       "miscUtils::getUserDefinedRuleOrder: failed to retrieve FilterID from %s "
                       "string for statement %s",
                       idText == nullptr ? "NULL" : idText, orderStmt);
        return QuorErr::kMissingData;
      }
      if (const RuleGroup* group = ruleGroup(filterId)) {
        order.insert(order.end(), group->kinds.begin(), group->kinds.end());
      } else {
        PolicyLog::log(PolicyLog::Error, "miscUtils::getUserDefinedRuleOrder: Invalid filter id %d",
                       filterId);
      }
      if (bVerify) verify(rank, filterId);
      ++rank;  // an invalid row still takes its rank
    }
    bManualOrder = true;
    return QuorErr::kSuccess;
  } catch (const char* text) {
    PolicyLog::log(PolicyLog::Error,
                   "miscUtils::getUserDefinedRuleOrder: Exception \"%s\" thrown for statement %s",
                   text, current);
    return QuorErr::kDataAccessFailed;
  }
}

// The body of miscUtils::getAdminId; `escape` is RdbmsInterface::escapeData.
template <class Db, class Escape>
QuorErrC adminId(Db& db, const char* sqlDir, const char* adminName, unsigned int& id,
                 Escape&& escape) {
  char stmt[4096] = "";
  try {
    std::string buffer;
    const char* escaped = nullptr;
    escape(adminName, buffer, escaped);
    ZoSqlLoader loader(sqlDir);
    loader.loadSQL(stmt, sizeof stmt, "ui_GetAdminId.sql", escaped);
    db.executeSQL(stmt);
    if (db.fetchNextRow() != 0) return QuorErr::kMissingData;
    const char* text = db.getColVal("AdminID");
    int value = 0;
    if (text == nullptr || !parseInt(text, value) || value == -1) {
      PolicyLog::log(PolicyLog::Error,
                     "miscUtils::_getAdminId: could not retrieve admin ID from %s for statement %s",
                     text == nullptr ? "NULL string" : text, stmt);
      return QuorErr::kMissingData;
    }
    id = static_cast<unsigned int>(value);
    return QuorErr::kSuccess;
  } catch (const char* text) {
    PolicyLog::log(PolicyLog::Error,
                   "miscUtils::_getAdminId: Exception \"%s\" thrown for statement %s", text, stmt);
    return QuorErr::kDataAccessFailed;
  }
}

// The body of QuorPolicyServerInterface::getPolicyServerInfo after the SQL
// directory was checked.
template <class Db>
QuorErrC policyServers(Db& db, const char* sqlDir, std::vector<PolicyServerInfo>& servers) {
  char stmt[1024] = "";
  try {
    ZoSqlLoader loader(sqlDir);
    loader.loadSQL(stmt, sizeof stmt, "ui_GetComponentInfo.sql", "P");
    db.executeSQL(stmt);
    while (db.fetchNextRow() == 0) {
      // A text that is not a number is as unusable as a missing one.
      const auto number = [&](const char* column, const char* label, std::uint32_t& out) {
        const char* text = db.getColVal(column);
        int value = 0;
        if (text != nullptr && parseInt(text, value)) {
          out = static_cast<std::uint32_t>(value);
          return true;
        }
        PolicyLog::log(PolicyLog::Error,
                       "QuorPolicyServerInterface::getPolicyServerInfo: could not retrieve %s from "
                       "NULL string for statement %s",
                       label, stmt);
        return false;
      };
      PolicyServerInfo info;
      if (!number("scanner_id", "ScannerID", info.scannerId)) return QuorErr::kMissingData;
      const char* ip = db.getColVal("ip_addr");
      if (ip == nullptr) {
        PolicyLog::log(PolicyLog::Error,
                       "QuorPolicyServerInterface::getPolicyServerInfo: could not retrieve "
                       "IP_Addr from NULL string for statement %s",
                       stmt);
        return QuorErr::kMissingData;
      }
      info.ipAddr = ip;
      if (!number("agent_port", "AgentPort", info.agentPort)) return QuorErr::kMissingData;
      servers.push_back(std::move(info));
    }
    return QuorErr::kSuccess;
  } catch (const char* text) {
    PolicyLog::log(PolicyLog::Error, "pszErr=%s", text);
    return QuorErr::kListPolicyServersFailed;
  }
}

}  // namespace quor::settings::detail

#endif  // QUORPOLICY_SETTINGS_DETAIL_DBQUERIES_H_
