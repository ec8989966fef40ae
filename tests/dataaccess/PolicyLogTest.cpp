#include "PolicyLog.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
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
  const std::vector<LogEntry> want = {
      {1, "ZoX::op: text, 42."}, {2, "[WARNING] 7%"}, {4, "plain"}, {4, "<" + big + ">"}};
  EXPECT_EQ(want, capture.entries());
}

TEST(PolicyLog, SetSink_EmptyFunctionRestoresDefaultSink) {
  std::vector<std::string> seen;
  PolicyLog::setSink([&](int, const std::string& m) { seen.push_back(m); });
  PolicyLog::log(PolicyLog::Progress, "one");
  PolicyLog::setSink({});
  testing::internal::CaptureStderr();
  PolicyLog::log(PolicyLog::Warning, "two %d", 2);
  PolicyLog::log(PolicyLog::Progress, "hidden by the default threshold");
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(std::vector<std::string>{"one"}, seen);
  EXPECT_NE(std::string::npos, err.find(" WARNING two 2\n")) << err;
  EXPECT_EQ(std::string::npos, err.find("hidden")) << err;
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
  const bool progressReadByDefault = PolicyLog::isLogged(PolicyLog::Progress);
  PolicyLog::log(PolicyLog::Progress, "every level");
  PolicyLog::setSink({});
  EXPECT_FALSE(progressRead);
  EXPECT_TRUE(warningRead);
  EXPECT_TRUE(progressReadByDefault);
  EXPECT_EQ((std::vector<LogEntry>{{2, "kept"}, {4, "every level"}}), seen);
}

TEST(PolicyLog, Log_ManyThreadsNeverInterleaveMessages) {
  LogCapture capture;
  constexpr int kThreads = 4;
  constexpr int kPerThread = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      const std::string filler(200, static_cast<char>('a' + t));
      for (int i = 0; i < kPerThread; ++i) PolicyLog::log(PolicyLog::Progress, "%d:%s:%d", t, filler.c_str(), i);
    });
  }
  for (auto& th : threads) th.join();
  const auto entries = capture.entries();
  ASSERT_EQ(static_cast<size_t>(kThreads * kPerThread), entries.size());
  std::vector<int> next(kThreads, 0);
  for (const auto& e : entries) {
    const int t = e.text[0] - '0';
    ASSERT_TRUE(t >= 0 && t < kThreads) << e.text;
    // Whole, and in each thread's own order.
    ASSERT_EQ(std::to_string(t) + ":" + std::string(200, static_cast<char>('a' + t)) + ":" + std::to_string(next[t]++),
              e.text);
  }
}

}  // namespace
