#include "service/detail/Process.h"

#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "service/Log.h"
#include "service/Server.h"

namespace quor::service::detail {

void dropPrivileges(const std::string& user) {
  if (user.empty()) {
    if (::geteuid() == 0) say("warning: running as root; --user NAME would drop to NAME");
    return;
  }
  const passwd* pw = ::getpwnam(user.c_str());
  if (pw == nullptr) throw StartError(StartError::BadOptions, "--user: no user " + user);
  const uid_t uid = pw->pw_uid;
  const gid_t gid = pw->pw_gid;
  if (::geteuid() != 0) {
    if (::geteuid() == uid) return;
    throw StartError(StartError::Failed, "--user " + user + " needs the service started as root");
  }
  if (::initgroups(user.c_str(), gid) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
    throw StartError(StartError::Failed, "cannot become " + user + ": " + std::strerror(errno));
  }
  if (::getuid() != uid || ::geteuid() != uid || ::getgid() != gid || ::getegid() != gid ||
      (uid != 0 && ::setuid(0) == 0)) {
    throw StartError(StartError::Failed, "the privileges of root were not given up");
  }
  say("running as %s (uid %u, gid %u)", user.c_str(), static_cast<unsigned>(uid),
      static_cast<unsigned>(gid));
}

std::size_t defaultMaxConnections() {
  constexpr std::size_t kSpare = 4;
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 10000;
  std::size_t held = 32;  // when the open descriptors cannot be counted
  std::error_code ec;
  std::filesystem::directory_iterator it("/proc/self/fd", ec), end;
  if (!ec) {
    held = 0;
    for (; it != end; it.increment(ec)) {
      if (ec) break;
      ++held;
    }
  }
  const auto cur = static_cast<std::size_t>(limit.rlim_cur);
  return cur > held + kSpare ? cur - held - kSpare : 1;
}

}  // namespace quor::service::detail
