#include "PolicyLog.h"

#include <strings.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

namespace {

int parseThreshold(const char* text) {
  if (text == nullptr || *text == '\0') return PolicyLog::Warning;
  if (strcasecmp(text, "error") == 0) return PolicyLog::Error;
  if (strcasecmp(text, "warning") == 0) return PolicyLog::Warning;
  if (strcasecmp(text, "progress") == 0 || strcasecmp(text, "all") == 0) return PolicyLog::Progress;
  char* end = nullptr;
  long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 0) return PolicyLog::Warning;
  return static_cast<int>(value > 1000 ? 1000 : value);
}

const char* levelName(int level) {
  switch (level) {
    case PolicyLog::Error:
      return "ERROR";
    case PolicyLog::Warning:
      return "WARNING";
    case PolicyLog::Progress:
      return "PROGRESS";
    default:
      return "LOG";
  }
}

void defaultSink(int level, const std::string& message) {
  if (level > PolicyLog::defaultThreshold()) return;
  using Clock = std::chrono::system_clock;
  const auto now = Clock::now();
  const std::time_t secs = Clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
  gmtime_r(&secs, &tm);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &tm);
  std::string line;
  line.reserve(message.size() + 48);
  line.append(stamp);
  char frac[8];
  std::snprintf(frac, sizeof frac, ".%03dZ ", static_cast<int>(millis));
  line.append(frac).append(levelName(level)).append(" ").append(message).append("\n");
  // One write per line; the caller holds the sink mutex, so lines never mix.
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

// The highest level a host sink wants, or kDefaultSink while the default sink
// is in place. Read without the mutex so that messages nobody will see are
// dropped before they are formatted.
constexpr int kEveryLevel = std::numeric_limits<int>::max();
constexpr int kDefaultSink = std::numeric_limits<int>::min();
std::atomic<int> gHostThreshold{kDefaultSink};

struct SinkState {
  std::mutex mutex;
  PolicyLog::Sink sink;  // empty: default sink
  int threshold = kEveryLevel;  // of `sink`
};

SinkState& state() {
  // Never destroyed: messages may be logged from static destructors.
  static SinkState* s = new SinkState;
  return *s;
}

}  // namespace

int PolicyLog::defaultThreshold() {
  static const int threshold = parseThreshold(std::getenv("QUOR_LOG_LEVEL"));
  return threshold;
}

bool PolicyLog::isLogged(LogLevel level) {
  const int host = gHostThreshold.load(std::memory_order_acquire);
  return static_cast<int>(level) <= (host != kDefaultSink ? host : defaultThreshold());
}

void PolicyLog::log(LogLevel level, const char* format, ...) {
  if (format == nullptr) return;
  if (!isLogged(level)) return;  // nobody would see it: skip the formatting
  char small[512];
  std::string message;
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (needed < 0) {
    message = format;  // an encoding error in the arguments: keep the format
  } else if (static_cast<size_t>(needed) < sizeof small) {
    message.assign(small, static_cast<size_t>(needed));
  } else {
    std::vector<char> big(static_cast<size_t>(needed) + 1);
    std::vsnprintf(big.data(), big.size(), format, copy);
    message.assign(big.data(), static_cast<size_t>(needed));
  }
  va_end(copy);

  SinkState& s = state();
  std::lock_guard<std::mutex> guard(s.mutex);
  if (s.sink) {
    // The sink may have changed since isLogged was asked.
    if (static_cast<int>(level) <= s.threshold) s.sink(static_cast<int>(level), message);
  } else {
    defaultSink(static_cast<int>(level), message);
  }
}

void PolicyLog::setSink(Sink sink) { setSink(std::move(sink), kEveryLevel); }

void PolicyLog::setSink(Sink sink, int threshold) {
  SinkState& s = state();
  std::lock_guard<std::mutex> guard(s.mutex);
  const int wanted = threshold == kDefaultSink ? kDefaultSink + 1 : threshold;
  s.threshold = wanted;
  gHostThreshold.store(sink ? wanted : kDefaultSink, std::memory_order_release);
  s.sink = std::move(sink);
}
