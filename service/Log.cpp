#include "service/Log.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace quor::service {

void say(const char* format, ...) {
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &tm);
  std::fprintf(stderr, "%s quorpolicy serve: %s\n", stamp, text);
}

}  // namespace quor::service
