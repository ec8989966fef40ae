#include "PolicyLog.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "support/LogCapture.h"

namespace {

using quor::test::LogCapture;
using quor::test::LogEntry;

TEST(PolicyLog, Log_FormatsPrintfStyleAndKeepsLevel) {
  LogCapture capture;
  PolicyLog::log(PolicyLog::Error, "ZoX::op: %s, %lu.", "text", 42UL);
  PolicyLog::log(PolicyLog::Warning, "[WARNING] %d%%", 7);
  PolicyLog::log(PolicyLog::Progress, "plain");
  const std::vector<LogEntry> want = {
      {1, "ZoX::op: text, 42."}, {2, "[WARNING] 7%"}, {4, "plain"}};
  EXPECT_EQ(want, capture.entries()) << quor::test::describe(capture.entries());
}

TEST(PolicyLog, Log_LongMessagesArriveWhole) {
  LogCapture capture;
  const std::string big(100000, 'x');
  PolicyLog::log(PolicyLog::Progress, "<%s>", big.c_str());
  ASSERT_EQ(1u, capture.size());
  EXPECT_EQ("<" + big + ">", capture.entries()[0].text);
}

TEST(PolicyLog, Log_NullFormatIsIgnored) {
  LogCapture capture;
  PolicyLog::log(PolicyLog::Error, nullptr);
  EXPECT_EQ(0u, capture.size());
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

TEST(PolicyLog, Log_ManyThreadsNeverInterleaveMessages) {
  LogCapture capture;
  constexpr int kThreads = 4;
  constexpr int kPerThread = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      const std::string filler(200, static_cast<char>('a' + t));
      for (int i = 0; i < kPerThread; ++i) {
        PolicyLog::log(PolicyLog::Progress, "%d:%s:%d", t, filler.c_str(), i);
      }
    });
  }
  for (auto& th : threads) th.join();
  const auto entries = capture.entries();
  ASSERT_EQ(static_cast<size_t>(kThreads * kPerThread), entries.size());
  std::vector<int> next(kThreads, 0);
  for (const auto& e : entries) {
    const int t = e.text[0] - '0';
    ASSERT_GE(t, 0);
    ASSERT_LT(t, kThreads);
    const std::string want = std::to_string(t) + ":" + std::string(200, static_cast<char>('a' + t)) +
                             ":" + std::to_string(next[t]++);
    ASSERT_EQ(want, e.text);  // whole, and in each thread's own order
  }
}

}  // namespace
