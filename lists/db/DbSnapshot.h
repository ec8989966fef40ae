// A snapshot of what sender lists from the policy database are decided from,
// in a file, so that a service that starts while the database is out of
// reach can still decide from the last data it loaded.
//
// The file is one JSON document: {"format": "quorpolicy-db-snapshot",
// "policyVersion": N, "entities": [[id, name, type], ...], "bindings":
// [[entity, group, groupName, membership, position], ...], "members":
// {"<group>": [pattern, ...], ...}}. It is written beside its place and
// renamed over it, so a reader finds the old file or the new one, never a
// part of one.
#ifndef QUORPOLICY_LISTS_DB_DBSNAPSHOT_H_
#define QUORPOLICY_LISTS_DB_DBSNAPSHOT_H_

#include <string>

#include "lists/db/DbPolicy.h"

namespace quor::lists {

// Writes `data` to `path` (through "<path>.partial", synced, then renamed).
// Throws std::runtime_error naming the path and the failure; the file at
// `path` is then unchanged.
void writeDbSnapshot(const DbPolicyData& data, const std::string& path);

// Reads a snapshot. Throws std::runtime_error naming the path and what is
// wrong (missing, not a snapshot, a malformed part).
DbPolicyData readDbSnapshot(const std::string& path);

}  // namespace quor::lists

#endif  // QUORPOLICY_LISTS_DB_DBSNAPSHOT_H_
