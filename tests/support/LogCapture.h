// Test support: capturing what the library logs through PolicyLog.
//
// Every test binary that links quor_test_support runs each test with a guard
// sink installed: an error-level message that no LogCapture collected fails
// the test. A LogCapture replaces the guard while it lives and collects every
// message, so a test states exactly which messages it expects.
#ifndef QUORPOLICY_TESTS_SUPPORT_LOGCAPTURE_H_
#define QUORPOLICY_TESTS_SUPPORT_LOGCAPTURE_H_

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace quor::test {

struct LogEntry {
  int level;
  std::string text;
  bool operator==(const LogEntry& other) const {
    return level == other.level && text == other.text;
  }
};

class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Everything logged since construction or the last clear(), in order.
  std::vector<LogEntry> entries() const;
  // The texts logged at `level`, in order.
  std::vector<std::string> texts(int level) const;
  // True when exactly this text was logged at this level.
  bool contains(int level, std::string_view text) const;
  size_t size() const;
  void clear();

 private:
  mutable std::mutex _mutex;
  std::vector<LogEntry> _entries;
};

// Formats entries for failure messages.
std::string describe(const std::vector<LogEntry>& entries);

}  // namespace quor::test

#endif  // QUORPOLICY_TESTS_SUPPORT_LOGCAPTURE_H_
