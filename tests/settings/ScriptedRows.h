// A scripted unit of work for the faults a real database cannot produce:
// rows whose columns are null or hold any text, and failures thrown by the
// data-access layer at a chosen call. It offers the calls of
// QUOR::RdbmsInterface that the settings queries use.
#ifndef QUORPOLICY_TESTS_SETTINGS_SCRIPTEDROWS_H_
#define QUORPOLICY_TESTS_SETTINGS_SCRIPTEDROWS_H_

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quor::test {

using Row = std::map<std::string, std::optional<std::string>>;

class ScriptedRows {
 public:
  // The rows answered to the n-th executed statement, in order.
  std::vector<std::vector<Row>> results;
  // When set, getColVal throws this text for this column.
  std::optional<std::string> throwOnColumn;
  // The statements executed, in order.
  std::vector<std::string> executed;

  void executeSQL(const char* sql) {
    executed.emplace_back(sql);
    _rows = executed.size() <= results.size() ? &results[executed.size() - 1] : nullptr;
    _next = 0;
  }
  int fetchNextRow() {
    if (_rows == nullptr || _next >= _rows->size()) return 1;
    _current = &(*_rows)[_next++];
    return 0;
  }
  const char* getColVal(const char* column) {
    if (throwOnColumn && *throwOnColumn == column) throw "scripted failure";
    const auto it = _current->find(column);
    if (it == _current->end() || !it->second) return nullptr;
    return it->second->c_str();
  }

 private:
  std::vector<Row>* _rows = nullptr;
  size_t _next = 0;
  Row* _current = nullptr;
};

}  // namespace quor::test

#endif  // QUORPOLICY_TESTS_SETTINGS_SCRIPTEDROWS_H_
