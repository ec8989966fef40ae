// quorpolicy init [DIR] [--pgsql CONNECTION]: makes a complete installation
// root, with the embedded SQLite database or on a PostgreSQL server.
//
// The root gets:
//   config/database.ini   section "Database_Settings" naming the data source,
//                         the password encrypted ("ENC1:"), and the statement
//                         folder of the database ("StatementFolder")
//   config/odbc.ini       data source "QuorPolicy" (used without ODBCINI)
//   config/quor.ini       policy server, client and LDAP settings
//   data/quorpolicy.db    SQLite only: the database
//   sql/common/, sql/sqlite/, sql/pgsql/  the statement files
//   resources/            the resource bundles, when they were built
// The schema (and the sample data unless --no-sample) is applied in one
// transaction. Before anything is written, the database is reached and
// checked: a server that is down, a refused login, or a database that already
// holds a policy schema (unless --force) stop the command with the root
// untouched. An existing, non-empty root is refused unless --force is given.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "QuorCrypt.h"
#include "QuorPolicy.h"
#include "tools/quorpolicy/Command.h"
#include "tools/quorpolicy/RootDatabase.h"
#include "tools/quorpolicy/SchemaTools.h"

namespace quor::tool {
namespace {

namespace fs = std::filesystem;

struct InitOptions {
  std::string root;
  std::string driver;  // empty: "SQLite3", or "PostgreSQL Unicode" with --pgsql
  std::string sqlFrom;
  std::string pgsql;  // the server's connection, empty for SQLite
  bool force = false;
  bool noSample = false;
};

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

void writeText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out.flush()) throw CommandError(kExitFailure, "cannot write " + path.string());
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

// Where the new database is, and how the root names it.
struct Target {
  std::string dialect;        // "sqlite" or "pgsql"
  std::string connectString;  // for connecting now, before the root exists
  std::string description;    // for messages: never holds the password
  std::string odbcIni;        // the root's data source, empty for a system DSN
  std::string dsn = "QuorPolicy";
  std::string user = "quor";
  std::string password;
  std::string database;
};

// A value for an ODBC connection string: in braces, with "}" doubled, when
// it holds a character that would end or confuse it.
std::string odbcValue(const std::string& value) {
  if (value.find_first_of(";{} \t") == std::string::npos) return value;
  std::string out = "{";
  for (const char c : value) {
    out.push_back(c);
    if (c == '}') out.push_back('}');
  }
  return out + "}";
}

// "Servername=db1 Port=5432 Database=quorpolicy Username=quor Password=x"
// (blanks or ";" between pairs, keys without regard to case), or the name of
// a data source. A value may be quoted as ODBC connection strings quote:
// "Password={a; b}" (a "}" inside written "}}").
Target pgsqlTarget(const std::string& text, const std::string& driver) {
  Target t;
  t.dialect = "pgsql";
  std::string server = "127.0.0.1", port = "5432", dsn;
  t.database = "quorpolicy";
  std::string pair;
  std::vector<std::string> pairs;
  bool braced = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (braced) {
      if (c != '}') {
        pair.push_back(c);
      } else if (i + 1 < text.size() && text[i + 1] == '}') {
        pair.push_back('}');
        ++i;
      } else {
        braced = false;
      }
    } else if (c == '{' && !pair.empty() && pair.back() == '=') {
      braced = true;
    } else if (c == ';' || c == ' ' || c == '\t') {
      if (!pair.empty()) pairs.push_back(pair);
      pair.clear();
    } else {
      pair.push_back(c);
    }
  }
  if (braced) throw CommandError(kExitBadInput, "--pgsql: a value's '{' is not closed by '}'");
  if (!pair.empty()) pairs.push_back(pair);
  for (const std::string& p : pairs) {
    const auto eq = p.find('=');
    if (eq == std::string::npos) {
      if (pairs.size() != 1) {
        throw CommandError(kExitBadInput, "--pgsql: '" + p + "' is not key=value");
      }
      dsn = p;
      continue;
    }
    std::string key = p.substr(0, eq);
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string value = p.substr(eq + 1);
    if (key == "servername" || key == "server" || key == "host") {
      server = value;
    } else if (key == "port") {
      port = value;
    } else if (key == "database") {
      t.database = value;
    } else if (key == "username" || key == "uid" || key == "user") {
      t.user = value;
    } else if (key == "password" || key == "pwd") {
      t.password = value;
    } else if (key == "dsn" || key == "datasourcename") {
      dsn = value;
    } else {
      throw CommandError(kExitBadInput,
                         "--pgsql: unknown key '" + p.substr(0, eq) +
                             "' (Servername, Port, Database, Username, Password or DSN)");
    }
  }
  const std::string credentials =
      "UID=" + odbcValue(t.user) + ";PWD=" + odbcValue(t.password) + ";";
  if (!dsn.empty()) {
    t.dsn = dsn;
    t.connectString = "DSN=" + dsn + ";" + credentials;
    t.description = "data source " + dsn;
    return t;
  }
  t.connectString = "DRIVER={" + driver + "};Servername=" + odbcValue(server) +
                    ";Port=" + odbcValue(port) + ";Database=" + odbcValue(t.database) + ";" +
                    credentials;
  t.description =
      "PostgreSQL database " + t.database + " on " + server + ":" + port + " as " + t.user;
  t.odbcIni = "[QuorPolicy]\nDescription = QuorPolicy policy database\nDriver = " + driver +
              "\nServername = " + server + "\nPort = " + port + "\nDatabase = " + t.database +
              "\nUsername = " + t.user + "\n";
  return t;
}

Target sqliteTarget(const fs::path& root, const std::string& driver) {
  Target t;
  t.dialect = "sqlite";
  t.database = (root / "data" / "quorpolicy.db").string();
  t.connectString = "DRIVER=" + driver + ";Database=" + t.database + ";";
  t.description = "SQLite database " + t.database;
  t.odbcIni = "[QuorPolicy]\nDescription = QuorPolicy policy database\nDriver = " + driver +
              "\nDatabase = " + t.database + "\nTimeout = 5000\n";
  return t;
}

// Checks the new root the way the library will use it: bootstrap from the
// root's configuration and read back through a unit of work.
void verifyRoot(const fs::path& root, bool sample) {
  ::setenv("QUOR_HOME", root.c_str(), 1);
  ::unsetenv("QUOR_DB_DIR");  // the root's own record is the one to use
  ::unsetenv("QUOR_DB_INI");
  ::unsetenv("ODBCINI");  // the root's own odbc.ini is the one to use
  openRootDatabase("");
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

// Writes the root's files; the database itself is not touched.
void writeRoot(const fs::path& root, const fs::path& sqlFrom, const Target& target) {
  const fs::path config = root / "config";
  fs::create_directories(config);
  // Statement files of both flavours, so the root can move between them,
  // and the statements they share.
  for (const char* flavour : {"common", "sqlite", "pgsql"}) {
    const fs::path from = sqlFrom / flavour;
    if (!fs::is_directory(from)) continue;
    const fs::path to = root / "sql" / flavour;
    fs::create_directories(to);
    fs::copy(from, to, fs::copy_options::overwrite_existing | fs::copy_options::recursive);
  }
  if (!target.odbcIni.empty()) writeText(config / "odbc.ini", target.odbcIni);

  std::string password;
  if (!target.password.empty()) {
    // The key is made in the new root (config/credentials.key, mode 0600).
    ::setenv("QUOR_HOME", root.c_str(), 1);
    std::string encrypted;
    if (NewEncryptStr(target.password.c_str(), encrypted) == 0) {
      throw CommandError(kExitFailure, "cannot encrypt the password under " +
                                           (config / "credentials.key").string());
    }
    password = "Password = " + encrypted + "\n";
  }
  writeText(config / "database.ini",
            "[Database_Settings]\n"
            "DataSourceName = " +
                target.dsn +
                "\n"
                "UserId = " +
                target.user + "\n" + password + "Database = " + target.database +
                "\n"
                "StatementFolder = " +
                target.dialect + "\n");
  writeText(config / "quor.ini", quorIni());

  if (const auto resources = findResources()) {
    fs::create_directories(root / "resources");
    fs::copy(*resources, root / "resources",
             fs::copy_options::overwrite_existing | fs::copy_options::recursive);
  } else {
    std::cout << "note: no resource bundles found; resources/ not made\n";
  }
}

void runInit(const InitOptions& options) {
  const fs::path root = fs::absolute(options.root).lexically_normal();
  std::error_code ec;
  const bool rootExisted = fs::exists(root, ec);
  const bool rootWasEmpty = !rootExisted || fs::is_empty(root, ec);
  if (!rootWasEmpty && !options.force) {
    throw CommandError(kExitRefused,
                       root.string() + " exists and is not empty; use --force to overwrite");
  }
  const fs::path sqlFrom = installedSqlFolder(options.sqlFrom);
  const bool pgsql = !options.pgsql.empty();
  const std::string driver =
      !options.driver.empty() ? options.driver : (pgsql ? "PostgreSQL Unicode" : "SQLite3");
  const Target target = pgsql ? pgsqlTarget(options.pgsql, driver) : sqliteTarget(root, driver);
  const fs::path dialectSql = sqlFrom / target.dialect;

  if (!pgsql) {
    fs::create_directories(root / "data");
    fs::remove(target.database, ec);
  }
  // Reach and check the database before the root is written.
  ZoDbConnect connection;
  try {
    connection.connect(target.connectString.c_str(), nullptr, nullptr, nullptr);
  } catch (const char* failure) {
    if (rootWasEmpty) {
      fs::remove_all(root, ec);
      if (rootExisted) fs::create_directory(root, ec);
    }
    throw CommandError(kExitFailure,
                       "cannot connect to the " + target.description + ": " + failure);
  }
  SqlLinkTo<ZoDbConnect> link(connection);
  SchemaSession session(link, target.dialect);
  const std::vector<std::string> existing = session.existingTables();
  if (!existing.empty() && !options.force) {
    std::string names;
    for (const auto& n : existing) names += (names.empty() ? "" : ", ") + n;
    throw CommandError(kExitRefused, "the " + target.description +
                                         " already holds policy tables (" + names +
                                         "); use --force to replace them");
  }

  try {
    writeRoot(root, sqlFrom, target);
    session.inTransaction([&] {
      // Referencing tables first, so that every drop is allowed.
      std::vector<std::string> order = policyTables();
      order.insert(order.begin(), {"schema_version", "policy_version"});
      for (auto it = order.rbegin(); it != order.rend(); ++it) {
        if (std::find(existing.begin(), existing.end(), *it) == existing.end()) continue;
        session.exec("DROP TABLE " + *it, "removing the old table " + *it);
      }
      session.exec(readText(dialectSql / "schema.sql"), "schema.sql");
      // The sample rows are plain INSERTs that both databases take.
      if (!options.noSample) {
        session.exec(readText(sqlFrom / "sample" / "sample_data.sql"), "sample_data.sql");
        session.resetIdentities();
      }
    });
  } catch (...) {
    // Leave nothing half-made where nothing was: a new or empty root is
    // emptied again (a root overwritten with --force cannot be restored).
    if (rootWasEmpty) {
      fs::remove_all(root, ec);
      if (rootExisted) fs::create_directory(root, ec);
    }
    throw;
  }

  verifyRoot(root, !options.noSample);
  std::cout << "installation root ready: " << root.string() << " (" << target.description << ")\n"
            << "set:\n"
            << "  export QUOR_HOME=" << root.string() << "\n";
}

void registerInit(CLI::App& app) {
  auto options = std::make_shared<InitOptions>();
  CLI::App* cmd = app.add_subcommand(
      "init",
      "Make an installation root: a policy database (SQLite, or PostgreSQL with --pgsql), "
      "configuration and samples");
  cmd->add_option("DIR", options->root, "Root folder (default: $QUOR_HOME, else ./quorhome)");
  cmd->add_flag("--force", options->force, "Overwrite an existing root");
  cmd->add_flag("--no-sample", options->noSample, "Apply the schema without sample data");
  cmd->add_option("--driver", options->driver,
                  "ODBC driver: a name from the driver list or a library path (default "
                  "SQLite3, or PostgreSQL Unicode with --pgsql)");
  cmd->add_option("--pgsql", options->pgsql,
                  "Use a PostgreSQL server: \"Servername=H Port=P Database=D Username=U "
                  "Password=W\" or a data source name");
  cmd->add_option("--sql-from", options->sqlFrom,
                  "Folder holding sqlite/ and pgsql/ statement files");
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
