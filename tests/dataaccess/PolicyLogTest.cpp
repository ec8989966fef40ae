#include "PolicyLog.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "support/LogCapture.h"

namespace {

using quor::test::LogCapture;
using quor::test::LogEntry;

TEST(PolicyLog, Log_FormatsPrintfStyleKeepsLevelWholeAndIgnoresNullFormat) {
  LogCapture capture;
  const std::string big(100000, 'x');
  PolicyLog::log(PolicyLog::Error, "ZoX::op: %s, %lu.", "text", 42UL);
  PolicyLog::log(PolicyLog::Warning, "[WARNING] %d%%", 7);
  PolicyLog::log(PolicyLog::Error, nullptr);
  PolicyLog::log(PolicyLog::Progress, "plain");
  PolicyLog::log(PolicyLog::Progress, "<%s>", big.c_str());
  PolicyLog::log(PolicyLog::Progress, "%s", big.substr(0, 512).c_str());  // one past the stack buffer
  const std::vector<LogEntry> want = {
      {1, "ZoX::op: text, 42."}, {2, "[WARNING] 7%"}, {4, "plain"}, {4, "<" + big + ">"}, {4, big.substr(0, 512)}};
  EXPECT_EQ(want, capture.entries());
}

TEST(PolicyLog, SetSink_EmptyFunctionRestoresDefaultSink) {
  std::vector<std::string> seen;
  PolicyLog::setSink([&](int, const std::string& m) { seen.push_back(m); });
  PolicyLog::log(PolicyLog::Progress, "one");
  PolicyLog::setSink({});
  const auto now = [] {
    // The log's clock; std::time reads a coarser one that can lag it by a tick.
    const std::time_t t = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
    return std::string(text);
  };
  testing::internal::CaptureStderr();
  const std::string before = now();
  PolicyLog::log(PolicyLog::Warning, "two %d", 2);
  PolicyLog::log(PolicyLog::Progress, "hidden by the default threshold");
  const std::string after = now();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::vector<std::string>{"one"}, seen);
  // <UTC time to the second>.<milliseconds>Z WARNING <message>
  ASSERT_EQ(39u, err.size()) << err;
  EXPECT_LE(before, err.substr(0, 19)) << err;
  EXPECT_GE(after, err.substr(0, 19)) << err;
  EXPECT_EQ('.', err[19]) << err;
  EXPECT_EQ("Z WARNING two 2\n", err.substr(23)) << err;
}

TEST(PolicyLog, SetSink_ThresholdChoosesTheLevelsTheSinkReceives) {
  std::vector<LogEntry> seen;
  auto collect = [&](int level, const std::string& m) { seen.push_back({level, m}); };
  PolicyLog::setSink(collect, PolicyLog::Warning);
  const bool progressRead = PolicyLog::isLogged(PolicyLog::Progress);
  const bool warningRead = PolicyLog::isLogged(PolicyLog::Warning);
  PolicyLog::log(PolicyLog::Progress, "dropped");
  PolicyLog::log(PolicyLog::Warning, "kept");
  PolicyLog::setSink(collect);  // without a threshold: every level
  PolicyLog::log(PolicyLog::Progress, "every level");
  PolicyLog::setSink({});
  EXPECT_FALSE(progressRead);
  EXPECT_TRUE(warningRead);
  EXPECT_EQ((std::vector<LogEntry>{{2, "kept"}, {4, "every level"}}), seen);
}

// QUOR_LOG_LEVEL is read once per process: each value is tried in a run of
// this program of its own, which answers in its exit status what the
// default sink takes (1: warnings, 2: progress).
TEST(PolicyLog, DefaultSink_ThresholdFollowsQuorLogLevel) {
  if (std::getenv("QUOR_TEST_THRESHOLD_PROBE") != nullptr) {
    PolicyLog::setSink({});
    std::_Exit(PolicyLog::isLogged(PolicyLog::Warning) + 2 * PolicyLog::isLogged(PolicyLog::Progress));
  }
  const std::pair<const char*, int> cases[] = {{"", 1},      {"error", 0}, {"Warning", 1}, {"PROGRESS", 3},
                                               {"all", 3},   {"3", 1},     {"4", 3},       {"-4", 1}, {"4x", 1}};
  for (const auto& [level, want] : cases) {
    SCOPED_TRACE(level);
    const std::string cmd = std::string("QUOR_TEST_THRESHOLD_PROBE=1 QUOR_LOG_LEVEL='") + level +
                            "' " + std::filesystem::read_symlink("/proc/self/exe").string() +
                            " --gtest_filter=PolicyLog.DefaultSink_* >/dev/null 2>&1";
    const int raw = std::system(cmd.c_str());
    EXPECT_EQ(want, WIFEXITED(raw) ? WEXITSTATUS(raw) : -1);
  }
}

}  // namespace
