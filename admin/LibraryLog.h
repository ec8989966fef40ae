// The library's log messages, kept apart per request.
//
// The policy library reports some failures only by logging them through
// PolicyLog, whose sink is process-wide. A host that serves many requests at
// once makes one LibraryLogRouter at start: from then on every message goes
// to standard error (errors and warnings, as the default sink writes them)
// and, besides, to the innermost RequestLog of the thread that logged it. A
// RequestLog lives on the stack around one request's calls into the library,
// so the messages of one request are never seen by another.
//
// Thread safety: a RequestLog belongs to the thread that made it. The router
// is made and destroyed on one thread while no other thread logs.
#ifndef QUORPOLICY_ADMIN_LIBRARYLOG_H_
#define QUORPOLICY_ADMIN_LIBRARYLOG_H_

#include <string>
#include <vector>

namespace quor::admin {

class LibraryLogRouter {
 public:
  // `echo`: also write errors and warnings to standard error.
  explicit LibraryLogRouter(bool echo = true);
  // Restores the library's default sink.
  ~LibraryLogRouter();
  LibraryLogRouter(const LibraryLogRouter&) = delete;
  LibraryLogRouter& operator=(const LibraryLogRouter&) = delete;
};

class RequestLog {
 public:
  RequestLog();
  ~RequestLog();
  RequestLog(const RequestLog&) = delete;
  RequestLog& operator=(const RequestLog&) = delete;

  // True when an error-level message was logged on this thread meanwhile.
  bool failed() const { return !_errors.empty(); }
  const std::vector<std::string>& errors() const { return _errors; }
  // Every error and warning, in order.
  const std::vector<std::string>& messages() const { return _messages; }

  // Called by the router's sink.
  void add(int level, const std::string& message);

 private:
  RequestLog* _outer;
  std::vector<std::string> _errors;
  std::vector<std::string> _messages;
};

}  // namespace quor::admin

#endif  // QUORPOLICY_ADMIN_LIBRARYLOG_H_
