#include "tools/quorpolicy/SchemaTools.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <cctype>

#include "RdbmsInterface.h"
#include "tools/quorpolicy/Command.h"
#include "tools/quorpolicy/RootDatabase.h"

namespace quor::tool {

namespace fs = std::filesystem;

const std::vector<std::string>& policyTables() {
  static const std::vector<std::string> tables = {"entities",
                                                  "administrators",
                                                  "admin_entities",
                                                  "named_objects",
                                                  "entity_named_objects",
                                                  "address_group_members",
                                                  "entity_list_bindings",
                                                  "filter_groups",
                                                  "rules",
                                                  "rule_named_objects",
                                                  "global_settings",
                                                  "components",
                                                  "change_log"};
  return tables;
}

std::vector<Migration> migrations(const fs::path& dialectFolder) {
  std::vector<Migration> out;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dialectFolder / "migrate", ec)) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() != ".sql") continue;
    std::size_t digits = 0;
    while (digits < name.size() && std::isdigit(static_cast<unsigned char>(name[digits]))) ++digits;
    if (digits == 0 || digits >= name.size() || name[digits] != '-') {
      throw CommandError(kExitFailure,
                         "migration file " + entry.path().string() + " is not named NNN-what.sql");
    }
    out.push_back({std::stoi(name.substr(0, digits)), entry.path()});
  }
  std::sort(out.begin(), out.end(),
            [](const Migration& a, const Migration& b) { return a.version < b.version; });
  return out;
}

SchemaSession::SchemaSession(SqlLink& link, std::string dialect)
    : _db(link), _dialect(std::move(dialect)) {}

void SchemaSession::exec(const std::string& sql, const std::string& what) {
  try {
    _db.run(sql.c_str());
  } catch (const char* failure) {
    throw CommandError(kExitFailure, what + ": " + failure);
  }
}

std::string SchemaSession::scalar(const std::string& sql, const std::string& column) {
  exec(sql, "reading the database");
  try {
    if (_db.fetchNextRow() != 0) return "";
    const char* value = _db.getColVal(column.c_str());
    return value != nullptr ? value : "";
  } catch (const char* failure) {
    throw CommandError(kExitFailure, std::string("reading the database: ") + failure);
  }
}

std::vector<std::string> SchemaSession::existingTables() {
  std::vector<std::string> names = policyTables();
  names.push_back("schema_version");
  names.push_back("policy_version");
  std::string list;
  for (const auto& n : names) list += (list.empty() ? "'" : ", '") + n + "'";
  const std::string sql =
      _dialect == "pgsql"
          ? "SELECT table_name AS name FROM information_schema.tables WHERE table_schema = "
            "current_schema() AND table_name IN (" +
                list + ") ORDER BY 1"
          : "SELECT name FROM sqlite_master WHERE type = 'table' AND name IN (" + list +
                ") ORDER BY 1";
  exec(sql, "listing the tables");
  std::vector<std::string> found;
  try {
    while (_db.fetchNextRow() == 0) {
      const char* name = _db.getColVal("name");
      if (name != nullptr) found.emplace_back(name);
    }
  } catch (const char* failure) {
    throw CommandError(kExitFailure, std::string("listing the tables: ") + failure);
  }
  return found;
}

int SchemaSession::version() {
  const auto tables = existingTables();
  auto has = [&](const char* name) {
    return std::find(tables.begin(), tables.end(), name) != tables.end();
  };
  if (!has("named_objects")) return 0;
  if (!has("schema_version")) return 1;
  const std::string v = scalar("SELECT MAX(version) AS version FROM schema_version", "version");
  return v.empty() ? 1 : std::stoi(v);
}

void SchemaSession::setVersion(int version) {
  exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)",
       "recording the schema version");
  exec("DELETE FROM schema_version", "recording the schema version");
  exec("INSERT INTO schema_version (version) VALUES (" + std::to_string(version) + ")",
       "recording the schema version");
}

std::vector<std::string> SchemaSession::nonEmptyTables() {
  std::vector<std::string> out;
  const auto existing = existingTables();
  for (const auto& table : policyTables()) {
    if (std::find(existing.begin(), existing.end(), table) == existing.end()) continue;
    const std::string n = scalar("SELECT COUNT(*) AS n FROM " + table, "n");
    if (!n.empty() && n != "0") out.push_back(table + " (" + n + " rows)");
  }
  return out;
}

void SchemaSession::inTransaction(const std::function<void()>& work) {
  exec("BEGIN", "starting a transaction");
  try {
    work();
  } catch (...) {
    try {
      _db.run("ROLLBACK");
    } catch (const char*) {
      // The connection is gone; the server has rolled back on its own.
    }
    throw;
  }
  exec("COMMIT", "committing");
}

void SchemaSession::resetIdentities() {
  if (_dialect != "pgsql") return;
  static const char* const kIdentities[][2] = {{"entities", "entity_id"},
                                               {"administrators", "admin_id"},
                                               {"named_objects", "object_id"},
                                               {"rules", "rule_id"},
                                               {"change_log", "change_id"}};
  for (const auto& id : kIdentities) {
    const std::string table = id[0], column = id[1];
    exec("SELECT setval(pg_get_serial_sequence('" + table + "', '" + column + "'), COALESCE(MAX(" +
             column + "), 0) + 1, false) FROM " + table,
         "moving the id counter of " + table);
  }
}

namespace {

// Column names of the current result, from the statement handle.
std::vector<std::string> resultColumns(void* handle) {
  std::vector<std::string> names;
  SQLSMALLINT count = 0;
  if (handle == nullptr || !SQL_SUCCEEDED(SQLNumResultCols(handle, &count))) return names;
  for (SQLSMALLINT i = 1; i <= count; ++i) {
    SQLCHAR name[256] = {0};
    SQLSMALLINT length = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    if (!SQL_SUCCEEDED(SQLDescribeCol(handle, i, name, sizeof name, &length, &type, &size, &digits,
                                      &nullable))) {
      names.clear();
      return names;
    }
    names.emplace_back(reinterpret_cast<const char*>(name));
  }
  return names;
}

std::string quoted(const std::string& text) {
  std::string escaped;
  const char* out = nullptr;
  QUOR::RdbmsInterface::escapeData(text.c_str(), escaped, out);
  return "'" + std::string(out) + "'";
}

}  // namespace

nlohmann::json SchemaSession::exportTables() {
  nlohmann::json tables = nlohmann::json::object();
  for (const auto& table : policyTables()) {
    exec("SELECT * FROM " + table + " ORDER BY 1, 2", "reading " + table);
    const std::vector<std::string> columns = resultColumns(_db.getStmtHandle());
    if (columns.empty()) throw CommandError(kExitFailure, "cannot read the columns of " + table);
    nlohmann::json rows = nlohmann::json::array();
    try {
      while (_db.fetchNextRow() == 0) {
        nlohmann::json row = nlohmann::json::array();
        for (const auto& column : columns) {
          const char* value = _db.getColVal(column.c_str());
          row.push_back(value != nullptr ? nlohmann::json(value) : nlohmann::json());
        }
        rows.push_back(std::move(row));
      }
    } catch (const char* failure) {
      throw CommandError(kExitFailure, "reading " + table + ": " + failure);
    }
    tables[table] = {{"columns", columns}, {"rows", std::move(rows)}};
  }
  return tables;
}

void SchemaSession::importTables(const nlohmann::json& tables) {
  constexpr std::size_t kRowsPerStatement = 200;
  for (const auto& table : policyTables()) {
    if (!tables.contains(table)) continue;
    const auto& t = tables[table];
    std::string head = "INSERT INTO " + table + " (";
    for (std::size_t i = 0; i < t["columns"].size(); ++i) {
      head += (i == 0 ? "" : ", ") + t["columns"][i].get<std::string>();
    }
    head += ") VALUES ";
    const auto& rows = t["rows"];
    for (std::size_t first = 0; first < rows.size(); first += kRowsPerStatement) {
      std::string sql = head;
      const std::size_t last = std::min(rows.size(), first + kRowsPerStatement);
      for (std::size_t r = first; r < last; ++r) {
        sql += r == first ? "(" : ", (";
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
          const auto& v = rows[r][c];
          sql += (c == 0 ? "" : ", ") +
                 (v.is_null() ? std::string("NULL") : quoted(v.get<std::string>()));
        }
        sql += ")";
      }
      exec(sql, "loading " + table);
    }
  }
  resetIdentities();
}

void checkExportDocument(const nlohmann::json& doc) {
  auto bad = [](const std::string& why) {
    throw CommandError(kExitBadInput, "not a quorpolicy export: " + why);
  };
  if (!doc.is_object() || doc.value("format", "") != "quorpolicy-export") bad("no \"format\"");
  if (!doc.contains("schemaVersion") || !doc["schemaVersion"].is_number_integer()) {
    bad("no \"schemaVersion\"");
  }
  const int version = doc["schemaVersion"].get<int>();
  if (version > kSchemaVersion) {
    throw CommandError(kExitRefused, "the export is of schema version " + std::to_string(version) +
                                         ", newer than this quorpolicy knows (" +
                                         std::to_string(kSchemaVersion) +
                                         "): import it with a newer quorpolicy");
  }
  if (!doc.contains("tables") || !doc["tables"].is_object()) bad("no \"tables\"");
  const auto& known = policyTables();
  for (const auto& [name, table] : doc["tables"].items()) {
    if (std::find(known.begin(), known.end(), name) == known.end()) bad("unknown table " + name);
    if (!table.is_object() || !table.contains("columns") || !table["columns"].is_array() ||
        table["columns"].empty() || !table.contains("rows") || !table["rows"].is_array()) {
      bad("table " + name + " lacks \"columns\" or \"rows\"");
    }
    for (const auto& column : table["columns"]) {
      const std::string c = column.is_string() ? column.get<std::string>() : "";
      if (c.empty() || !std::all_of(c.begin(), c.end(), [](unsigned char ch) {
            return std::isalnum(ch) || ch == '_';
          })) {
        bad("table " + name + " has a column name that is not a plain word");
      }
    }
    for (const auto& row : table["rows"]) {
      if (!row.is_array() || row.size() != table["columns"].size()) {
        bad("a row of " + name + " does not match its columns");
      }
      for (const auto& v : row) {
        if (!v.is_null() && !v.is_string()) bad("a value of " + name + " is not text or null");
      }
    }
  }
}

}  // namespace quor::tool
