// Test-only access to the process-wide state of QUOR::RdbmsInterface. Not
// exported and not installed: tests link the db object library directly.
#ifndef QUORPOLICY_DB_DETAIL_RDBMSTESTING_H_
#define QUORPOLICY_DB_DETAIL_RDBMSTESTING_H_

#include <string>

#include "RdbmsInterface.h"

namespace quor::db::detail {

struct RdbmsTestAccess {
  // Back to the state at load time: empty strings, no pool, not initialised,
  // zero timeouts. The pool, if any, is deleted; REQUIRES: none of its
  // connections is lent.
  static void reset();
  // Installs `pool` as the process-wide pool (owned by the caller; reset()
  // forgets it without deleting it when `owned` was false).
  static void usePool(ZoDataAccess* pool, bool owned);
  static ZoDataAccess* pool();
  static bool initCalled();
  static const std::string& initString();
  static const std::string& dsn();
  static const std::string& user();
  static const std::string& password();
};

}  // namespace quor::db::detail

#endif  // QUORPOLICY_DB_DETAIL_RDBMSTESTING_H_
