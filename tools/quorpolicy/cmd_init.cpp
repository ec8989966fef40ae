// quorpolicy init [DIR]: makes a complete installation root for the embedded
// SQLite database.
//
// The root gets:
//   config/database.ini   section "Database_Settings" naming the data source
//   config/odbc.ini       data source "QuorPolicy": the SQLite driver and
//                         data/quorpolicy.db (used without ODBCINI)
//   config/quor.ini       policy server, client and LDAP settings
//   data/quorpolicy.db    the schema, plus sample data unless --no-sample
//   sql/sqlite/, sql/pgsql/  the statement files
//   resources/            the resource bundles, when they were built
// and the command prints the environment to set (QUOR_HOME, QUOR_DB_DIR).
// An existing, non-empty root is refused unless --force is given.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "QuorPolicy.h"
#include "tools/quorpolicy/Command.h"

namespace quor::tool {
namespace {

namespace fs = std::filesystem;

struct InitOptions {
  std::string root;
  std::string driver = "SQLite3";
  std::string sqlFrom;
  bool force = false;
  bool noSample = false;
};

fs::path executableDir() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : self.parent_path();
}

// The first folder that holds sqlite/schema.sql: the one given, the data
// folder beside the installed tool, the configured data folder, the source
// tree.
fs::path findSqlFolder(const std::string& given) {
  std::vector<fs::path> candidates;
  if (!given.empty()) candidates.emplace_back(given);
  if (const fs::path exe = executableDir(); !exe.empty()) {
    candidates.push_back(exe.parent_path() / "share" / "quorpolicy" / "sql");
  }
#ifdef QUOR_SQL_INSTALL_DIR
  candidates.emplace_back(QUOR_SQL_INSTALL_DIR);
#endif
#ifdef QUOR_SQL_SOURCE_DIR
  candidates.emplace_back(QUOR_SQL_SOURCE_DIR);
#endif
  for (const fs::path& c : candidates) {
    if (fs::is_regular_file(c / "sqlite" / "schema.sql")) return c;
  }
  if (!given.empty()) {
    throw CommandError(kExitNotFound, "no statement files (sqlite/schema.sql) in " + given);
  }
  throw CommandError(kExitNotFound,
                     "statement files not found; name their folder with --sql-from");
}

std::optional<fs::path> findResources() {
  std::vector<fs::path> candidates;
  if (const fs::path exe = executableDir(); !exe.empty()) {
    candidates.push_back(exe.parent_path() / "share" / "quorpolicy" / "resources");
  }
#ifdef QUOR_RESOURCES_INSTALL_DIR
  candidates.emplace_back(QUOR_RESOURCES_INSTALL_DIR);
#endif
#ifdef QUOR_RESOURCES_BUILD_DIR
  candidates.emplace_back(QUOR_RESOURCES_BUILD_DIR);
#endif
  for (const fs::path& c : candidates) {
    std::error_code ec;
    if (fs::is_directory(c, ec) && !fs::is_empty(c, ec)) return c;
  }
  return std::nullopt;
}

std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw CommandError(kExitFailure, "cannot read " + path.string());
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush()) throw CommandError(kExitFailure, "cannot write " + path.string());
}

// Runs a file of statements on `connection`; a failure names the file.
void runFile(ZoDbConnect& connection, const fs::path& file) {
  const std::string text = readText(file);
  try {
    connection.executeSQL(text.c_str(), ZoDbConnect::ZO_SQL_SPLIT);
  } catch (const char* failure) {
    throw CommandError(kExitFailure, file.filename().string() + ": " + failure);
  }
}

std::string quorIni() {
  return "; Settings of the policy server and of its clients.\n"
         "[policy_server]\n"
         "backlog = 100\n"
         "keep-alive = yes\n"
         "PolicyServerPort = 8443\n"
         "protocol = https\n"
         "recv_timeout_secs = 60\n"
         "send_timeout_secs = 60\n"
         "threads = 8\n"
         "max_threads = 64\n"
         "ldap_cache_TTL_minutes = 1440\n"
         "\n"
         "[policy_client]\n"
         "host = 127.0.0.1\n"
         "recv_timeout_secs = 30\n"
         "send_timeout_secs = 30\n"
         "\n"
         "[LDAP_SVR_1]\n"
         "host = ldap.example.com\n"
         "port = 389\n"
         "ldap_cache_TTL_minutes = 1440\n";
}

// Checks the new root the way the library will use it: bootstrap from the
// root's configuration and read back through a unit of work.
void verifyRoot(const fs::path& root, bool sample) {
  ::setenv("QUOR_HOME", root.c_str(), 1);
  ::setenv("QUOR_DB_DIR", "sqlite", 1);
  ::unsetenv("QUOR_DB_INI");
  ::unsetenv("ODBCINI");  // the root's own odbc.ini is the one to use
  if (!QUOR::RdbmsInterface::Init(nullptr, nullptr, nullptr, nullptr)) {
    throw CommandError(kExitFailure, "the new root does not bootstrap (see the log above)");
  }
  QUOR::RdbmsInterface db;
  try {
    db.executeSQL("SELECT COUNT(*) AS n FROM administrators");
    if (db.fetchNextRow() != 0) throw "no row";
    const int admins = db.getColValInt("n");
    if (sample && admins != 3) throw "sample data missing";
    std::cout << "database ready: " << admins << " administrator(s)\n";
  } catch (const char* failure) {
    throw CommandError(kExitFailure, std::string("cannot read the new database: ") + failure);
  }
}

void runInit(const InitOptions& options) {
  const fs::path root = fs::absolute(options.root).lexically_normal();
  std::error_code ec;
  if (fs::exists(root, ec) && !fs::is_empty(root, ec)) {
    if (!options.force) {
      throw CommandError(kExitRefused,
                         root.string() + " exists and is not empty; use --force to overwrite");
    }
  }
  const fs::path sqlFrom = findSqlFolder(options.sqlFrom);
  const fs::path config = root / "config";
  const fs::path data = root / "data";
  const fs::path database = data / "quorpolicy.db";
  fs::create_directories(config);
  fs::create_directories(data);
  fs::remove(database, ec);

  // Statement files of both flavours, so the root can move to PostgreSQL.
  for (const char* flavour : {"sqlite", "pgsql"}) {
    const fs::path from = sqlFrom / flavour;
    if (!fs::is_directory(from)) continue;
    const fs::path to = root / "sql" / flavour;
    fs::create_directories(to);
    fs::copy(from, to, fs::copy_options::overwrite_existing | fs::copy_options::recursive);
  }

  writeText(config / "odbc.ini", "[QuorPolicy]\n"
                                 "Description = QuorPolicy policy database\n"
                                 "Driver = " + options.driver + "\n"
                                 "Database = " + database.string() + "\n"
                                 "Timeout = 5000\n");
  writeText(config / "database.ini", "[Database_Settings]\n"
                                     "DataSourceName = QuorPolicy\n"
                                     "UserId = quor\n"
                                     "Database = " + database.string() + "\n");
  writeText(config / "quor.ini", quorIni());

  {
    ZoDbConnect connection;
    const std::string target =
        "DRIVER=" + options.driver + ";Database=" + database.string() + ";";
    try {
      connection.connect(target.c_str(), nullptr, nullptr, nullptr);
    } catch (const char* failure) {
      throw CommandError(kExitFailure, std::string("cannot create the database: ") + failure);
    }
    runFile(connection, sqlFrom / "sqlite" / "schema.sql");
    if (!options.noSample) runFile(connection, sqlFrom / "sqlite" / "sample_data.sql");
  }

  if (const auto resources = findResources()) {
    fs::create_directories(root / "resources");
    fs::copy(*resources, root / "resources",
             fs::copy_options::overwrite_existing | fs::copy_options::recursive);
  } else {
    std::cout << "note: no resource bundles found; resources/ not made\n";
  }

  verifyRoot(root, !options.noSample);
  std::cout << "installation root ready: " << root.string() << "\n"
            << "set:\n"
            << "  export QUOR_HOME=" << root.string() << "\n"
            << "  export QUOR_DB_DIR=sqlite\n";
}

void registerInit(CLI::App& app) {
  auto options = std::make_shared<InitOptions>();
  CLI::App* cmd = app.add_subcommand(
      "init", "Make an installation root with a SQLite policy database, configuration and samples");
  cmd->add_option("DIR", options->root, "Root folder (default: $QUOR_HOME, else ./quorhome)");
  cmd->add_flag("--force", options->force, "Overwrite an existing root");
  cmd->add_flag("--no-sample", options->noSample, "Apply the schema without sample data");
  cmd->add_option("--driver", options->driver,
                  "ODBC driver: a name from the driver list or a library path")
      ->capture_default_str();
  cmd->add_option("--sql-from", options->sqlFrom, "Folder holding sqlite/ and pgsql/ statement files");
  cmd->callback([options] {
    InitOptions o = *options;
    if (o.root.empty()) {
      const char* home = std::getenv("QUOR_HOME");
      o.root = home != nullptr && *home != '\0' ? home : "quorhome";
    }
    runInit(o);
  });
}

const CommandRegistration kRegistration(10, registerInit);

}  // namespace
}  // namespace quor::tool
