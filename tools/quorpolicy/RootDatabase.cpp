#include "tools/quorpolicy/RootDatabase.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ConfigFile.h"
#include "QuorHome.h"
#include "RdbmsInterface.h"
#include "tools/quorpolicy/Command.h"

namespace quor::tool {

void selectRoot(const std::string& home) {
  if (!home.empty()) ::setenv("QUOR_HOME", home.c_str(), 1);
  const char* root = getQuorHome();
  if (root == nullptr) {
    throw CommandError(kExitBadInput,
                       "QUOR_HOME is not set: it must name the installation root (or give --home)");
  }
  const char* dir = std::getenv("QUOR_DB_DIR");
  if (dir != nullptr && *dir != '\0') return;
  const std::string ini = std::string(root) + "/config/database.ini";
  QUOR::ConfigFileOnDisk file(ini.c_str());
  std::string folder;
  if (file.isOpen() && file.getparam("Database_Settings", "StatementFolder", folder) &&
      !folder.empty()) {
    ::setenv("QUOR_DB_DIR", folder.c_str(), 1);
    return;
  }
  // A root whose statements sit directly in sql/ needs no folder.
  if (std::filesystem::exists(std::string(root) + "/sql/ui_GetAllEntities.sql")) return;
  throw CommandError(kExitFailure,
                     std::string("the installation root ") + root +
                         " does not record its statement folder: set QUOR_DB_DIR=sqlite (or "
                         "pgsql), or run `quorpolicy upgrade --db sqlite` once to record it");
}

void openRootDatabase(const std::string& home) {
  selectRoot(home);
  std::string failure;
  {
    HeldLibraryLog log;
    if (QUOR::RdbmsInterface::Init(nullptr, nullptr, nullptr, nullptr)) return;
    if (!log.errors().empty()) failure = log.errors().back();
  }
  throw CommandError(kExitFailure, "cannot open the policy database of " +
                                       std::string(getQuorHome()) + ": " +
                                       (failure.empty() ? "see config/database.ini" : failure));
}

std::filesystem::path executableDir() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : self.parent_path();
}

std::filesystem::path installedSqlFolder(const std::string& given) {
  std::vector<std::filesystem::path> candidates;
  if (!given.empty()) candidates.emplace_back(given);
  if (const std::filesystem::path exe = executableDir(); !exe.empty()) {
    candidates.push_back(exe.parent_path() / "share" / "quorpolicy" / "sql");
  }
#ifdef QUOR_SQL_INSTALL_DIR
  candidates.emplace_back(QUOR_SQL_INSTALL_DIR);
#endif
#ifdef QUOR_SQL_SOURCE_DIR
  candidates.emplace_back(QUOR_SQL_SOURCE_DIR);
#endif
  for (const std::filesystem::path& c : candidates) {
    if (std::filesystem::is_regular_file(c / "sqlite" / "schema.sql")) return c;
  }
  if (!given.empty()) {
    throw CommandError(kExitNotFound, "no statement files (sqlite/schema.sql) in " + given);
  }
  throw CommandError(kExitNotFound, "statement files not found; name their folder with --sql-from");
}

std::string readText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw CommandError(kExitFailure, "cannot read " + path.string());
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string rootDialect() {
  const char* dir = std::getenv("QUOR_DB_DIR");
  if (dir != nullptr && std::string(dir) == "pgsql") return "pgsql";
  return "sqlite";
}

}  // namespace quor::tool
