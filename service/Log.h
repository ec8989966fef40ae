// The log of the policy service: one line per event on standard error,
//
//     2026-01-31T12:00:00Z quorpolicy serve: <text>
//
// with a UTC time stamp. Each line is written whole, so that lines of
// different threads never interleave. Texts longer than about 1000 bytes are
// cut. Text from a client is escaped by the caller (escapeForLog) and is
// never the format.
//
// Thread safety: may be called from any number of threads.
#ifndef QUORPOLICY_SERVICE_LOG_H_
#define QUORPOLICY_SERVICE_LOG_H_

namespace quor::service {

void say(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace quor::service

#endif  // QUORPOLICY_SERVICE_LOG_H_
