// Schema upgrades and moving a policy database between roots.
//
//   quorpolicy upgrade [--home DIR] [--db sqlite|pgsql]
//       refreshes the root's statement files from this tool's and applies the
//       migration files sql/<db>/migrate/NNN-*.sql above the database's
//       version, each in one transaction; a database newer than this tool
//       knows is refused. --db records the statement folder of a root made
//       before roots recorded it.
//   quorpolicy export [--home DIR] [--output FILE]
//       writes every policy table as one JSON document (standard output
//       without --output).
//   quorpolicy import [--home DIR] FILE
//       loads such a document into the root's empty database in one
//       transaction, keeping every id.
//
// Exit statuses: 0 done; 1 the database or a file failed; 2 a malformed
// export file or bad arguments; 3 refused (a newer schema, a database that
// is not empty or has no schema).
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "ConfigFile.h"
#include "QuorHome.h"
#include "RdbmsInterface.h"
#include "tools/quorpolicy/Command.h"
#include "tools/quorpolicy/RootDatabase.h"
#include "tools/quorpolicy/SchemaTools.h"

namespace quor::tool {
namespace {

namespace fs = std::filesystem;

struct DbOptions {
  std::string home;
  std::string db;
  std::string output;
  std::string input;
};

// One unit of work on the root's database; fails when it has no connection
// (the library then only logs).
class RootSession {
 public:
  explicit RootSession(const std::string& home) {
    openRootDatabase(home);
    std::string failure;
    {
      HeldLibraryLog log;
      _db = std::make_unique<QUOR::RdbmsInterface>();
      if (!log.errors().empty()) failure = log.errors().front();
    }
    if (!failure.empty()) {
      throw CommandError(kExitFailure, "cannot connect to the policy database: " + failure);
    }
    _link = std::make_unique<SqlLinkTo<QUOR::RdbmsInterface>>(*_db);
    _session = std::make_unique<SchemaSession>(*_link, rootDialect());
  }
  SchemaSession& operator*() { return *_session; }
  SchemaSession* operator->() { return _session.get(); }

 private:
  std::unique_ptr<QUOR::RdbmsInterface> _db;
  std::unique_ptr<SqlLink> _link;
  std::unique_ptr<SchemaSession> _session;
};

void runUpgrade(const DbOptions& o) {
  if (!o.db.empty()) {
    if (!o.home.empty()) ::setenv("QUOR_HOME", o.home.c_str(), 1);
    const char* root = getQuorHome();
    if (root == nullptr) throw CommandError(kExitBadInput, "QUOR_HOME is not set (or give --home)");
    QUOR::ConfigFileOnDisk ini((std::string(root) + "/config/database.ini").c_str());
    if (!ini.isOpen() || !ini.setparam("Database_Settings", "StatementFolder", o.db.c_str())) {
      throw CommandError(kExitFailure, std::string("cannot record the statement folder in ") +
                                           root + "/config/database.ini");
    }
  }
  selectRoot(o.home);
  const std::string dialect = rootDialect();
  const fs::path root = getQuorHome();
  const fs::path mine = installedSqlFolder("");

  // The root's statement files come from the tool that made it; a newer tool
  // brings fixed ones. The shared folder is made for a root from before it
  // existed, and a dialect folder loses the copies of statements that are
  // shared now, which would otherwise hide the newer shared ones.
  const bool hasDialect =
      fs::is_directory(root / "sql" / "sqlite") || fs::is_directory(root / "sql" / "pgsql");
  if (hasDialect && fs::is_directory(mine / "common")) {
    std::error_code ec;
    fs::create_directories(root / "sql" / "common", ec);
    for (const char* flavour : {"sqlite", "pgsql"}) {
      for (const auto& entry : fs::directory_iterator(mine / "common", ec)) {
        const fs::path own = root / "sql" / flavour / entry.path().filename();
        if (!fs::exists(mine / flavour / entry.path().filename())) fs::remove(own, ec);
      }
    }
  }
  for (const char* flavour : {"common", "sqlite", "pgsql"}) {
    std::error_code ec;
    if (!fs::is_directory(mine / flavour) || !fs::is_directory(root / "sql" / flavour, ec))
      continue;
    fs::copy(mine / flavour, root / "sql" / flavour,
             fs::copy_options::overwrite_existing | fs::copy_options::recursive, ec);
    if (ec) {
      throw CommandError(kExitFailure, "cannot refresh the statement files in " +
                                           (root / "sql" / flavour).string() + ": " + ec.message());
    }
  }

  const std::vector<Migration> steps = migrations(mine / dialect);
  int known = kSchemaVersion;
  for (const auto& m : steps) known = std::max(known, m.version);

  RootSession session(o.home);
  const int from = session->version();
  if (from == 0) {
    throw CommandError(kExitRefused, "the database of " + root.string() +
                                         " holds no policy schema: make it with `quorpolicy init`");
  }
  if (from > known) {
    throw CommandError(kExitRefused, "the database is at schema version " + std::to_string(from) +
                                         ", newer than this quorpolicy knows (" +
                                         std::to_string(known) + "): use a newer quorpolicy");
  }
  int at = from;
  for (const auto& m : steps) {
    if (m.version <= at) continue;
    const std::string text = readText(m.file);
    session->inTransaction([&] {
      session->exec(text, m.file.filename().string());
      session->setVersion(m.version);
    });
    std::cout << "applied " << m.file.filename().string() << "\n";
    at = m.version;
  }
  if (at == from) {
    std::cout << "schema is up to date (version " << at << ")\n";
  } else {
    std::cout << "schema upgraded from version " << from << " to " << at << "\n";
  }
}

void runExport(const DbOptions& o) {
  RootSession session(o.home);
  const int version = session->version();
  if (version == 0) throw CommandError(kExitRefused, "the database holds no policy schema");
  nlohmann::json doc = {{"format", "quorpolicy-export"},
                        {"schemaVersion", version},
                        {"dialect", session->dialect()},
                        {"tables", session->exportTables()}};
  const std::string text = doc.dump(1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  if (o.output.empty() || o.output == "-") {
    std::cout << text;
    std::cout.flush();
    if (!std::cout) throw CommandError(kExitFailure, "cannot write the export");
    return;
  }
  // A whole file or none: written beside its place, then renamed.
  const std::string temporary = o.output + ".partial";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) {
      std::error_code ec;
      fs::remove(temporary, ec);
      throw CommandError(kExitFailure, "cannot write " + o.output);
    }
  }
  std::error_code ec;
  fs::rename(temporary, o.output, ec);
  if (ec) throw CommandError(kExitFailure, "cannot write " + o.output + ": " + ec.message());
  std::size_t rows = 0;
  for (const auto& [name, table] : doc["tables"].items()) rows += table["rows"].size();
  std::cout << "exported " << rows << " rows of " << doc["tables"].size()
            << " tables (schema version " << version << ") to " << o.output << "\n";
}

void runImport(const DbOptions& o) {
  nlohmann::json doc;
  try {
    doc = nlohmann::json::parse(readText(o.input));
  } catch (const nlohmann::json::parse_error& e) {
    throw CommandError(kExitBadInput,
                       o.input + " is not a whole export (truncated or not JSON): " + e.what());
  }
  checkExportDocument(doc);

  RootSession session(o.home);
  const int version = session->version();
  if (version == 0) {
    throw CommandError(kExitRefused,
                       "the database holds no policy schema: make it with `quorpolicy init "
                       "--no-sample` first");
  }
  const int theirs = doc["schemaVersion"].get<int>();
  if (theirs > version) {
    throw CommandError(kExitRefused, "the export is of schema version " + std::to_string(theirs) +
                                         " but this database is at " + std::to_string(version) +
                                         ": run `quorpolicy upgrade` first");
  }
  const std::vector<std::string> filled = session->nonEmptyTables();
  if (!filled.empty()) {
    std::string names;
    for (const auto& n : filled) names += (names.empty() ? "" : ", ") + n;
    throw CommandError(kExitRefused, "the database is not empty (" + names +
                                         "): import loads only an empty database (make one with "
                                         "`quorpolicy init --no-sample`)");
  }
  session->inTransaction([&] { session->importTables(doc["tables"]); });
  std::size_t rows = 0;
  for (const auto& [name, table] : doc["tables"].items()) rows += table["rows"].size();
  std::cout << "imported " << rows << " rows of " << doc["tables"].size() << " tables\n";
}

void registerDb(CLI::App& app) {
  auto o = std::make_shared<DbOptions>();
  CLI::App* upgrade = app.add_subcommand(
      "upgrade", "Bring the policy database's schema and the root's statement files up to date");
  upgrade->add_option("--home", o->home, "Installation root (default: $QUOR_HOME)");
  upgrade->add_option("--db", o->db, "Record the statement folder of an older root")
      ->check(CLI::IsMember({"sqlite", "pgsql"}));
  upgrade->callback([o] { runUpgrade(*o); });

  CLI::App* exp = app.add_subcommand("export", "Write every policy table as one JSON document");
  exp->add_option("--home", o->home, "Installation root (default: $QUOR_HOME)");
  exp->add_option("-o,--output", o->output, "File to write (default: standard output)");
  exp->callback([o] { runExport(*o); });

  CLI::App* imp =
      app.add_subcommand("import", "Load an export into the root's empty database, keeping ids");
  imp->add_option("--home", o->home, "Installation root (default: $QUOR_HOME)");
  imp->add_option("FILE", o->input, "The export file")->required();
  imp->callback([o] { runImport(*o); });
}

const CommandRegistration kRegistration(15, registerDb);

}  // namespace
}  // namespace quor::tool
