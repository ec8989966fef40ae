#include "service/detail/SocketFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "service/Log.h"
#include "service/Server.h"
#include "service/detail/Asio.h"

namespace quor::service::detail {

void claimSocketPath(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return;
  asio::io_context probe;
  asio::local::stream_protocol::socket socket(probe);
  ErrorCode ec;
  socket.open(asio::local::stream_protocol(), ec);
  // Non-blocking: a live server with a full backlog must not hold us here.
  if (!ec) socket.non_blocking(true, ec);
  if (!ec) socket.connect(asio::local::stream_protocol::endpoint(path), ec);
  if (!ec || ec == asio::error::would_block || ec == asio::error::try_again) {
    throw StartError(StartError::Failed,
                     path + " is the socket of a running server; not taking it over");
  }
  if (ec != asio::error::connection_refused) {
    throw StartError(StartError::Failed, "cannot probe the socket " + path + ": " + ec.message());
  }
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    throw StartError(StartError::Failed,
                     "cannot remove the stale socket " + path + ": " + std::strerror(errno));
  }
}

SocketFile finishSocketFile(const std::string& path, mode_t mode, std::optional<gid_t> group) {
  if (::chmod(path.c_str(), mode) != 0 ||
      (group && ::chown(path.c_str(), static_cast<uid_t>(-1), *group) != 0)) {
    const std::string why = std::strerror(errno);
    ::unlink(path.c_str());  // just bound: ours
    throw StartError(StartError::Failed, "cannot set the mode or group of " + path + ": " + why);
  }
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    throw StartError(StartError::Failed, path + " vanished after binding");
  }
  return SocketFile{path, st.st_dev, st.st_ino};
}

void removeSocketFile(const SocketFile& file) {
  struct stat st {};
  if (::lstat(file.path.c_str(), &st) != 0 || st.st_dev != file.dev || st.st_ino != file.ino) {
    return;  // another server's now, or gone
  }
  if (::unlink(file.path.c_str()) != 0) {
    say("cannot remove the socket %s: %s", file.path.c_str(), std::strerror(errno));
  }
}

}  // namespace quor::service::detail
