#include "LogMsg.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "PolicyLog.h"

namespace QUOR {
namespace {

PolicyLog::LogLevel toPolicyLevel(int level) {
  if (level <= QUOR_LOG_ERROR) return PolicyLog::Error;
  if (level == QUOR_LOG_WARNING) return PolicyLog::Warning;
  return PolicyLog::Progress;
}

std::string formatV(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int size = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (size < 0) return {};
  std::string out(static_cast<size_t>(size) + 1, '\0');
  std::vsnprintf(out.data(), out.size(), format, args);
  out.resize(static_cast<size_t>(size));
  return out;
}

}  // namespace

void PolicyLogMsg::logEventEntry(const char* text, unsigned int eventId) {
  if (text == nullptr || _level < QUOR_LOG_INFO) return;
  PolicyLog::log(PolicyLog::Progress, "event %u: %s", eventId, text);
}

void PolicyLogMsg::logEntry(QUORLogLevel level, const char* format, ...) {
  if (format == nullptr || level > _level) return;
  va_list args;
  va_start(args, format);
  std::string text = formatV(format, args);
  va_end(args);
  PolicyLog::log(toPolicyLevel(level), "%s", text.c_str());
}

void PolicyLogMsg::logDebug(const char* file, const char* function, unsigned int line,
                            const char* format, ...) {
  if (format == nullptr || _level < QUOR_LOG_DEBUG) return;
  va_list args;
  va_start(args, format);
  std::string text = formatV(format, args);
  va_end(args);
  PolicyLog::log(PolicyLog::Progress, "%s:%u %s: %s", file != nullptr ? file : "?", line,
                 function != nullptr ? function : "?", text.c_str());
}

void PolicyLogMsg::logGenericEventEntry(const char* text) {
  if (text == nullptr || _level < QUOR_LOG_INFO) return;
  PolicyLog::log(PolicyLog::Progress, "%s", text);
}

}  // namespace QUOR
