// The policy database of an installation root, as the tool's commands open it.
//
// `quorpolicy init` records in the root which statement folder belongs to its
// database (key "StatementFolder" of [Database_Settings] in
// config/database.ini: "sqlite" or "pgsql"), so that commands need nothing but
// QUOR_HOME. QUOR_DB_DIR, when set, still wins, as it does for every host of
// the library.
#ifndef QUORPOLICY_TOOLS_QUORPOLICY_ROOTDATABASE_H_
#define QUORPOLICY_TOOLS_QUORPOLICY_ROOTDATABASE_H_

#include <filesystem>
#include <string>
#include <vector>

#include "admin/LibraryLog.h"

namespace quor::tool {

// The schema version this tool makes and knows; `quorpolicy upgrade` brings
// older databases to it.
inline constexpr int kSchemaVersion = 5;

// Holds the library's errors and warnings back while it lives, in admin/'s
// per-request capture and not on standard error, so that a command can
// report them with its result: the library reports a failed bootstrap or
// connection only by logging. Made in one scope at a time; no other
// admin::LibraryLogRouter may live meanwhile.
class HeldLibraryLog {
 public:
  const std::vector<std::string>& errors() const { return _log.errors(); }
  // Errors and warnings, in order.
  const std::vector<std::string>& messages() const { return _log.messages(); }

 private:
  admin::LibraryLogRouter _router{false};
  admin::RequestLog _log;
};

// Sets QUOR_HOME to `home` when it is not empty, then QUOR_DB_DIR from the
// root's record when the environment does not set it. Throws CommandError
// (status 2) when no root is named, (status 1) when the statement folder is
// neither set nor recorded.
void selectRoot(const std::string& home);

// selectRoot, then RdbmsInterface::Init. Throws CommandError (status 1) with
// the library's reason when the database configuration cannot be used.
void openRootDatabase(const std::string& home);

// "sqlite" or "pgsql": the statement folder in use after selectRoot.
std::string rootDialect();

// The folder of the statement files that came with this tool (holding
// sqlite/ and pgsql/): `given` when not empty, else the data folder beside the
// installed tool, the configured data folder, the source tree. Throws
// CommandError (status 4) when none holds sqlite/schema.sql.
std::filesystem::path installedSqlFolder(const std::string& given);

// The whole content of a file; throws CommandError (status 1) naming it.
std::string readText(const std::filesystem::path& path);

// The folder of this program, or an empty path.
std::filesystem::path executableDir();

}  // namespace quor::tool

#endif  // QUORPOLICY_TOOLS_QUORPOLICY_ROOTDATABASE_H_
