// Schema work on a policy database: versions, migrations, the identity
// counters of PostgreSQL, and the JSON form of every table for moving a
// database from one root (or database system) to another.
#ifndef QUORPOLICY_TOOLS_QUORPOLICY_SCHEMATOOLS_H_
#define QUORPOLICY_TOOLS_QUORPOLICY_SCHEMATOOLS_H_

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "ZoDataAccess.h"

namespace quor::tool {

// The policy tables in an order in which every reference points backwards,
// so rows can be loaded table by table; schema_version is not among them.
const std::vector<std::string>& policyTables();

// One migration file: sql/<db>/migrate/NNN-what.sql.
struct Migration {
  int version = 0;
  std::filesystem::path file;
};

// The migration files of a statement folder (sql/<db>), by version. Throws
// CommandError for a file whose name does not start with a number.
std::vector<Migration> migrations(const std::filesystem::path& dialectFolder);

// What SchemaSession needs of a connection: ZoDbConnect (before a root
// exists) and the library's unit of work (in a root) both provide it.
class SqlLink {
 public:
  virtual ~SqlLink() = default;
  virtual void run(const char* sql) = 0;  // throws const char* on failure
  virtual int fetchNextRow() = 0;
  virtual const char* getColVal(const char* column) = 0;
  virtual void* getStmtHandle() = 0;
};

template <typename Connection>
class SqlLinkTo : public SqlLink {
 public:
  explicit SqlLinkTo(Connection& c) : _c(c) {}
  void run(const char* sql) override { _c.executeSQL(sql, ZoDbConnect::ZO_SQL_SPLIT); }
  int fetchNextRow() override { return _c.fetchNextRow(); }
  const char* getColVal(const char* column) override { return _c.getColVal(column); }
  void* getStmtHandle() override { return _c.getStmtHandle(); }

 private:
  Connection& _c;
};

// Statements on one connection, with failures turned into CommandError
// (status 1) that name what was being done.
class SchemaSession {
 public:
  // `link` must be connected; `dialect` is "sqlite" or "pgsql".
  SchemaSession(SqlLink& link, std::string dialect);

  // Runs a text of one or more statements.
  void exec(const std::string& sql, const std::string& what);
  // The value of column `column` of the first row of `sql`, or "" without one.
  std::string scalar(const std::string& sql, const std::string& column);

  // 0 when the database holds no policy schema, 1 for a schema made before
  // versions were recorded, otherwise the recorded version.
  int version();
  void setVersion(int version);
  // Names of the policy tables that hold rows, with their counts.
  std::vector<std::string> nonEmptyTables();
  // Names of the policy tables (and schema_version, policy_version) that exist.
  std::vector<std::string> existingTables();

  // BEGIN, work, COMMIT; ROLLBACK when work throws (and rethrows).
  void inTransaction(const std::function<void()>& work);

  // PostgreSQL: moves each identity counter past the largest id stored, after
  // rows were inserted with their ids. Nothing on SQLite.
  void resetIdentities();

  // Every policy table as {"columns": [...], "rows": [[...], ...]}; values
  // are texts, NULL is null.
  nlohmann::json exportTables();
  // Inserts the rows of an export document's "tables" (already checked).
  void importTables(const nlohmann::json& tables);

  const std::string& dialect() const { return _dialect; }

 private:
  SqlLink& _db;
  std::string _dialect;
};

// Checks an export document; throws CommandError (status 2) naming the fault.
void checkExportDocument(const nlohmann::json& doc);

}  // namespace quor::tool

#endif  // QUORPOLICY_TOOLS_QUORPOLICY_SCHEMATOOLS_H_
