// The file of the UNIX socket the server listens on: taken over only from a
// server that is gone, and removed on exit only while it is still this
// process's.
#ifndef QUORPOLICY_SERVICE_DETAIL_SOCKETFILE_H_
#define QUORPOLICY_SERVICE_DETAIL_SOCKETFILE_H_

#include <sys/types.h>

#include <optional>
#include <string>

namespace quor::service::detail {

// The UNIX socket file this process bound, so that exit removes only that.
struct SocketFile {
  std::string path;
  dev_t dev = 0;
  ino_t ino = 0;
};

// A socket file that still answers belongs to a running server: throws
// StartError (Failed). One that refuses connections is left from a run that
// did not clean up and is removed. Anything else at the path is left for
// bind to report.
void claimSocketPath(const std::string& path);

// Gives the bound socket file its mode and group, and notes which file it
// is. Throws StartError (Failed), after removing the file when it was ours.
SocketFile finishSocketFile(const std::string& path, mode_t mode, std::optional<gid_t> group);

// Removes the file unless another has taken its place; a failure is logged.
void removeSocketFile(const SocketFile& file);

}  // namespace quor::service::detail

#endif  // QUORPOLICY_SERVICE_DETAIL_SOCKETFILE_H_
