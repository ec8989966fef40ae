#include "lists/db/SqlitePoll.h"

#include <stdexcept>
#include <utility>

#include "RdbmsInterface.h"
#include "ZoDataAccess.h"

namespace quor::lists {

long long readPolicyVersion(QUOR::RdbmsInterface& db) {
  char stmt[256];
  try {
    ZoSqlLoader loader(QUOR::RdbmsInterface::GetSqlPath());
    loader.loadSQL(stmt, sizeof stmt, "ui_GetPolicyVersion.sql");
    db.executeSQL(stmt);
    if (db.fetchNextRow() != 0) throw "no policy_version row";
    const char* value = db.getColVal("version");
    if (value == nullptr) throw "the policy version is NULL";
    return std::stoll(value);
  } catch (const char* failure) {
    throw std::runtime_error(std::string("reading the policy version: ") + failure);
  } catch (const std::logic_error&) {
    throw std::runtime_error("reading the policy version: not a number");
  }
}

std::vector<PolicyChange> readPolicyChanges(QUOR::RdbmsInterface& db, long long after) {
  char stmt[512];
  std::vector<PolicyChange> rows;
  try {
    ZoSqlLoader loader(QUOR::RdbmsInterface::GetSqlPath());
    loader.loadSQL(stmt, sizeof stmt, "ui_GetPolicyChanges.sql", std::to_string(after).c_str());
    db.executeSQL(stmt);
    while (db.fetchNextRow() == 0) {
      const char* version = db.getColVal("version");
      const char* table = db.getColVal("table_name");
      const char* ids = db.getColVal("ids");
      if (version == nullptr || table == nullptr) throw "a change without version or table";
      PolicyChange change;
      change.version = std::stoll(version);
      change.payload = table;
      if (ids != nullptr && *ids != '\0') change.payload += std::string(" ") + ids;
      rows.push_back(std::move(change));
    }
  } catch (const char* failure) {
    throw std::runtime_error(std::string("reading the policy changes: ") + failure);
  } catch (const std::logic_error&) {
    throw std::runtime_error("reading the policy changes: a version that is not a number");
  }
  return rows;
}

std::optional<std::vector<std::string>> changesBetween(const std::vector<PolicyChange>& rows,
                                                       long long from, long long to) {
  if (to <= from || rows.empty() || rows.back().version < to) return std::nullopt;
  std::vector<std::string> payloads;
  long long expected = from + 1;
  for (const PolicyChange& row : rows) {
    if (row.version != expected) return std::nullopt;
    payloads.push_back(row.payload);
    ++expected;
  }
  return payloads;
}

SqlitePoll::SqlitePoll(Reader read, std::chrono::milliseconds every, Callbacks callbacks)
    : _read(std::move(read)), _every(every), _callbacks(std::move(callbacks)) {}

SqlitePoll::~SqlitePoll() { stop(); }

bool SqlitePoll::poll() {
  long long version = 0;
  try {
    version = _read();
  } catch (const std::exception& e) {
    if (!_failing && _callbacks.failed) _callbacks.failed(e.what());
    _failing = true;
    _last.reset();  // the next good read reloads everything
    return false;
  }
  _failing = false;
  if (_last && *_last == version) return false;
  _last = version;
  if (_callbacks.changed) _callbacks.changed(version);
  return true;
}

void SqlitePoll::start() {
  std::lock_guard<std::mutex> guard(_mutex);
  if (_thread.joinable()) return;
  _stopping = false;
  _thread = std::thread([this] {
    std::unique_lock<std::mutex> lock(_mutex);
    while (!_stopping) {
      lock.unlock();
      poll();
      lock.lock();
      _wake.wait_for(lock, _every, [this] { return _stopping; });
    }
  });
}

void SqlitePoll::stop() {
  {
    std::lock_guard<std::mutex> lock(_mutex);
    _stopping = true;
  }
  _wake.notify_all();
  if (_thread.joinable()) _thread.join();
}

}  // namespace quor::lists
