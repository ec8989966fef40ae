#include "admin/LibraryLog.h"

#include <cstdio>

#include "PolicyLog.h"

namespace quor::admin {
namespace {
thread_local RequestLog* tCurrent = nullptr;
}  // namespace

LibraryLogRouter::LibraryLogRouter(bool echo) {
  // The sink runs on the thread that logged, so the thread-local pointer is
  // that thread's request.
  PolicyLog::setSink(
      [echo](int level, const std::string& message) {
        if (tCurrent != nullptr) tCurrent->add(level, message);
        if (echo) {
          // Messages may quote names from requests: control bytes are
          // written escaped, so that one message stays one line.
          std::string line;
          for (const unsigned char c : message) {
            if (c < 0x20 || c == 0x7f) {
              char hex[8];
              std::snprintf(hex, sizeof hex, "\\x%02x", c);
              line += hex;
            } else {
              line.push_back(static_cast<char>(c));
            }
          }
          std::fprintf(stderr, "%s\n", line.c_str());
        }
      },
      PolicyLog::Warning);
}

LibraryLogRouter::~LibraryLogRouter() { PolicyLog::setSink(nullptr); }

RequestLog::RequestLog() : _outer(tCurrent) { tCurrent = this; }

RequestLog::~RequestLog() { tCurrent = _outer; }

void RequestLog::add(int level, const std::string& message) {
  if (level == PolicyLog::Error) _errors.push_back(message);
  if (level <= PolicyLog::Warning) _messages.push_back(message);
}

}  // namespace quor::admin
