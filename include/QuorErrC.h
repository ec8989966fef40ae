// QuorErrC: the result code of the database-facing operations.
// 0 is success; every other value names one kind of failure.
#ifndef QUORPOLICY_INCLUDE_QUORERRC_H_
#define QUORPOLICY_INCLUDE_QUORERRC_H_

#include <cstdint>

using QuorErrC = std::int32_t;

namespace QuorErr {
inline constexpr QuorErrC kSuccess = 0;
// A row, column or setting was missing or unreadable; an administrator without
// managing entities; a wildcard parent without a candidate of that name; no
// shared quarantine area.
inline constexpr QuorErrC kMissingData = 1002;
// The data-access library threw; in named-object removal also no connection
// or no result row.
inline constexpr QuorErrC kDataAccessFailed = 1003;
inline constexpr QuorErrC kNullRootEntity = 1004;
// An entity type outside 0 to 7, or a root pattern the pattern tree refused.
inline constexpr QuorErrC kBadEntity = 1007;
inline constexpr QuorErrC kClientSettingsUnreadable = 1608;
inline constexpr QuorErrC kServerSettingsUnreadable = 1609;
inline constexpr QuorErrC kSettingNotWritten = 1610;
inline constexpr QuorErrC kListPolicyServersFailed = 4002;
inline constexpr QuorErrC kSqlPathNotSet = 4005;
inline constexpr QuorErrC kBufferNotAllocated = 4008;
inline constexpr QuorErrC kMemberUnreadable = 6003;
inline constexpr QuorErrC kRemoveAnsweredMinus1 = 6022;
inline constexpr QuorErrC kRemoveAnsweredMinus2 = 6023;
inline constexpr QuorErrC kNotEditable = 6024;
inline constexpr QuorErrC kReferencedByRule = 6025;
}  // namespace QuorErr

#endif  // QUORPOLICY_INCLUDE_QUORERRC_H_
