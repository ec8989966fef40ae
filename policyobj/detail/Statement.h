// Helpers shared by the policy-object operations: statement texts loaded from
// the SQL directory into buffers of a given size, integer columns read as
// text, and the boundary that turns a failure thrown by the data-access
// library into an operation's own log line and result.
#ifndef QUORPOLICY_POLICYOBJ_DETAIL_STATEMENT_H_
#define QUORPOLICY_POLICYOBJ_DETAIL_STATEMENT_H_

#include <cstddef>
#include <cstdio>
#include <limits>
#include <new>
#include <vector>

#include "RdbmsInterface.h"
#include "ZoDataAccess.h"

namespace quor::policyobj::detail {

inline constexpr unsigned kInvalidObjectId = 0xFFFFFFFFu;

// One statement text. The buffer starts as the empty text, so a statement
// whose loading failed logs as empty.
class Statement {
 public:
  // REQUIRES: 0 < capacity <= INT_MAX. May throw std::bad_alloc.
  explicit Statement(size_t capacity) : _buffer(capacity, '\0') {}

  // Loads `file` of the SQL directory with printf-style arguments. Throws
  // the data-access library's failure text.
  template <class... Args>
  void load(const char* file, Args... args) {
    ZoSqlLoader loader(QUOR::RdbmsInterface::GetSqlPath());
    loader.loadSQL(_buffer.data(), static_cast<int>(_buffer.size()), file, args...);
  }

  // Loads and runs the statement on `db`.
  template <class... Args>
  void run(QUOR::RdbmsInterface& db, const char* file, Args... args) {
    load(file, args...);
    db.executeSQL(_buffer.data());
  }

  const char* text() const { return _buffer.data(); }

 private:
  std::vector<char> _buffer;
};

// Parses an integer column read as text the way the database layer always
// has: "%d" must yield exactly one value. A NULL text does not parse.
inline bool parseIntColumn(const char* text, int& value) {
  return text != nullptr && std::sscanf(text, "%d", &value) == 1;
}

// The text shown in a log line for a column value that may be NULL.
inline const char* shownColumn(const char* text) { return text != nullptr ? text : "NULL string"; }

// Runs `work`; when the data-access library throws its failure text, passes
// the text to `report` (which logs the operation's own message) and returns
// `onThrow`. Nothing else is thrown by the layers below.
template <class R, class Report, class Work>
R guardStatement(R onThrow, Report&& report, Work&& work) {
  try {
    return work();
  } catch (const char* text) {
    report(text);
    return onThrow;
  }
}

}  // namespace quor::policyobj::detail

#endif  // QUORPOLICY_POLICYOBJ_DETAIL_STATEMENT_H_
