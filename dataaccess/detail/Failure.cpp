#include "dataaccess/detail/Failure.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace quor::dataaccess::detail {
namespace {
thread_local std::string tFailureText;
}  // namespace

void throwFailure(std::string text) {
  tFailureText = std::move(text);
  throw static_cast<const char*>(tFailureText.c_str());
}

void throwFailuref(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int needed = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text;
  if (needed > 0) {
    std::vector<char> buffer(static_cast<size_t>(needed) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, copy);
    text.assign(buffer.data(), static_cast<size_t>(needed));
  }
  va_end(copy);
  throwFailure(std::move(text));
}

bool isLinkFailure(const std::string& state) {
  return state.rfind("08", 0) == 0 || state == "57P01" || state == "57P02" || state == "57P03";
}

}  // namespace quor::dataaccess::detail
