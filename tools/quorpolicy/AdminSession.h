// One `quorpolicy admin` command's use of the shared administration: the
// root opened once, the library's messages on standard error and in each
// operation's own capture, administrators given by name or id.
#ifndef QUORPOLICY_TOOLS_QUORPOLICY_ADMINSESSION_H_
#define QUORPOLICY_TOOLS_QUORPOLICY_ADMINSESSION_H_

#include <cstdint>
#include <string>

#include "admin/Administration.h"
#include "admin/LibraryLog.h"
#include "tools/quorpolicy/Command.h"
#include "tools/quorpolicy/RootDatabase.h"

namespace quor::tool {

// The exit status that tells an administration outcome.
inline int exitStatusOf(const admin::Result& r) {
  switch (r.outcome) {
    case admin::Outcome::kOk:
      return kExitOk;
    case admin::Outcome::kNotVisible:
      return kExitNotFound;
    case admin::Outcome::kRefused:
      return kExitRefused;
    case admin::Outcome::kBadInput:
      return kExitBadInput;
    case admin::Outcome::kFailed:
      break;
  }
  return kExitFailure;
}

class AdminSession {
 public:
  // The database is opened before the router takes the library's log.
  explicit AdminSession(const std::string& home) : _opened((openRootDatabase(home), true)) {}

  admin::Administration& administration() { return _administration; }

  // The id of an administrator given by id or name.
  unsigned adminId(const std::string& admin) {
    if (isNumber(admin)) return static_cast<unsigned>(std::stoul(admin));
    std::uint32_t id = 0;
    const admin::Result r = _administration.adminByName(admin, id);
    if (r.outcome == admin::Outcome::kNotVisible) {
      throw CommandError(kExitNotFound, "no administrator named '" + admin + "'");
    }
    if (!r.ok())
      throw CommandError(kExitFailure, "looking up administrator '" + admin + "' failed");
    return id;
  }

  // The command line works with the whole database: the root's view.
  unsigned root() {
    std::uint32_t id = 0;
    const admin::Result r = _administration.rootAdmin(id);
    if (!r.ok()) throw CommandError(exitStatusOf(r), "the root administrator: " + r.message);
    return id;
  }

 private:
  static bool isNumber(const std::string& text) {
    if (text.empty() || text.size() > 10) return false;
    for (const char c : text) {
      if (c < '0' || c > '9') return false;
    }
    return std::stoull(text) <= 0xFFFFFFFFull;
  }

  bool _opened;
  admin::LibraryLogRouter _router;
  admin::Administration _administration;
};

}  // namespace quor::tool

#endif  // QUORPOLICY_TOOLS_QUORPOLICY_ADMINSESSION_H_
