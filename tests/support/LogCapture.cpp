#include "support/LogCapture.h"

#include <gtest/gtest.h>


#include "PolicyLog.h"

namespace quor::test {
namespace {

// Error-level messages logged while no LogCapture was active.
std::mutex gUnexpectedMutex;
std::vector<std::string> gUnexpected;

void guardSink(int level, const std::string& message) {
  if (level == PolicyLog::Error) {
    std::lock_guard<std::mutex> guard(gUnexpectedMutex);
    gUnexpected.push_back(message);
  }
}

// Installs the guard sink before each test and, when the test ends, fails it
// for every error-level message that no LogCapture collected. OnTestEnd runs
// while the test is still current and before the result printer (end events
// go to listeners in reverse order), so the failure counts for this test.
class UnexpectedErrorListener : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    {
      std::lock_guard<std::mutex> guard(gUnexpectedMutex);
      gUnexpected.clear();
    }
    PolicyLog::setSink(guardSink);
  }
  void OnTestEnd(const ::testing::TestInfo&) override {
    PolicyLog::setSink({});
    std::vector<std::string> unexpected;
    {
      std::lock_guard<std::mutex> guard(gUnexpectedMutex);
      unexpected.swap(gUnexpected);
    }
    for (const auto& text : unexpected) {
      ADD_FAILURE() << "unexpected error-level log message: " << text;
    }
  }
};

struct Registration {
  Registration() {
    ::testing::UnitTest::GetInstance()->listeners().Append(new UnexpectedErrorListener);
  }
};
const Registration gRegistration;

}  // namespace

LogCapture::LogCapture() {
  PolicyLog::setSink([this](int level, const std::string& text) {
    std::lock_guard<std::mutex> guard(_mutex);
    _entries.push_back({level, text});
  });
}

LogCapture::~LogCapture() { PolicyLog::setSink(guardSink); }

std::vector<LogEntry> LogCapture::entries() const {
  std::lock_guard<std::mutex> guard(_mutex);
  return _entries;
}

std::vector<std::string> LogCapture::texts(int level) const {
  std::lock_guard<std::mutex> guard(_mutex);
  std::vector<std::string> out;
  for (const auto& e : _entries) {
    if (e.level == level) out.push_back(e.text);
  }
  return out;
}

bool LogCapture::contains(int level, std::string_view text) const {
  std::lock_guard<std::mutex> guard(_mutex);
  for (const auto& e : _entries) {
    if (e.level == level && e.text == text) return true;
  }
  return false;
}

size_t LogCapture::size() const {
  std::lock_guard<std::mutex> guard(_mutex);
  return _entries.size();
}

void LogCapture::clear() {
  std::lock_guard<std::mutex> guard(_mutex);
  _entries.clear();
}

std::string describe(const std::vector<LogEntry>& entries) {
  std::string out;
  for (const auto& e : entries) {
    out += "  [" + std::to_string(e.level) + "] " + e.text + "\n";
  }
  return out.empty() ? std::string("  (nothing logged)\n") : out;
}

}  // namespace quor::test
