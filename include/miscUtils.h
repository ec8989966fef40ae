// miscUtils: the administrator's manual order of the e-mail scan's filter
// groups, and the look-up of an administrator's id by name.
//
// The manual order is in force when the global setting "manualRuleOrder" of
// section "email-scan" is exactly "on". Its rows name six filter groups by
// identifier; each expands to a fixed run of filter kinds:
//   1 "Virus"      -> 1
//   2 "Attachment" -> 2, 3, 4, 5
//   3 "Size"       -> 6, 7
//   4 "Spam"       -> 8
//   5 "Content"    -> 9, 10, 11, 12, 13
//   6 "Other"      -> 14, 15, 16, 23
//
// Thread safety: all members are static and reentrant. The caller's
// RdbmsInterface (one connection) must not be used by another thread during
// a call.
#ifndef QUORPOLICY_INCLUDE_MISCUTILS_H_
#define QUORPOLICY_INCLUDE_MISCUTILS_H_

#include <vector>

#include "QuorErrC.h"
#include "QuorExport.h"
#include "QuorFilter.h"

namespace QUOR {
class RdbmsInterface;
}  // namespace QUOR

class QUORPOLICY_API miscUtils {
 public:
  // Empties `order` and, when a manual order is in force, fills it with the
  // filter kinds of the groups in rule order and sets `bManualOrder`.
  // Returns 0 (also when no manual order is in force), 1002 when the setting,
  // a row or a column is missing or unreadable, 1003 when the data-access
  // layer fails; `bManualOrder` is true only when every row was read. An
  // unknown group identifier is logged and skipped but still takes a rank.
  // With `bVerify`, each row's order and name are checked and mismatches
  // logged; they never change the result.
  static QuorErrC getUserDefinedRuleOrder(QUOR::RdbmsInterface& db, bool& bManualOrder,
                                          std::vector<QuorFilter::FilterType>& order, bool bVerify);

  // The id of the administrator `adminName` (matched exactly). Returns 0 with
  // the id; 1002 without a log when no row matches, 1002 with a log when the
  // stored id is null, not a number or -1; 1003 when the data-access layer
  // fails. REQUIRES: adminName is not null.
  static QuorErrC getAdminId(QUOR::RdbmsInterface& db, const char* adminName,
                             unsigned int& adminId);

  miscUtils() = delete;

 private:
  // Checks the current row of the manual-order statement against the rank
  // it was read at (`expectedOrder`) and the group's expected name; logs what
  // differs.
  static void _verifyFilterNames(QUOR::RdbmsInterface& db, int expectedOrder, int filterId);
};

#endif  // QUORPOLICY_INCLUDE_MISCUTILS_H_
