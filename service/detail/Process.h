// What the server asks of the process: its identity and its descriptors.
#ifndef QUORPOLICY_SERVICE_DETAIL_PROCESS_H_
#define QUORPOLICY_SERVICE_DETAIL_PROCESS_H_

#include <cstddef>
#include <string>

namespace quor::service::detail {

// Leaves root for `user` (initgroups, setgid, setuid) and checks that root
// cannot be regained; logs the new identity. Empty `user`: stays, with a
// warning when that is root. Throws StartError: BadOptions for an unknown
// user, Failed when the change is refused or incomplete.
// REQUIRES: no other thread of the process runs yet.
void dropPrivileges(const std::string& user);

// How many connections may be open when no limit is given: the descriptor
// limit less what the process holds now and a few for reloads.
std::size_t defaultMaxConnections();

}  // namespace quor::service::detail

#endif  // QUORPOLICY_SERVICE_DETAIL_PROCESS_H_
