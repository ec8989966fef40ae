// PolicyLog: the logging facade every part of the policy library writes to.
//
// Messages are printf-style and carry a level: 1 error, 2 warning, 4 progress.
// Each message is formatted whole (no length limit) and handed to one sink.
// The default sink writes one line per message to standard error, prefixed
// with a UTC time stamp and the level's name, and shows the levels up to the
// threshold given by the environment variable QUOR_LOG_LEVEL ("1", "2", "4",
// or "error", "warning", "progress"; default: errors and warnings). A sink set
// with setSink receives the levels up to the threshold it was set with (every
// level when set without one).
//
// Thread safety: log and setSink may be called from any thread. Sink calls
// are serialised, so a sink needs no lock of its own and lines never
// interleave. A sink must not call PolicyLog::log itself.
#ifndef QUORPOLICY_INCLUDE_POLICYLOG_H_
#define QUORPOLICY_INCLUDE_POLICYLOG_H_

#include <functional>
#include <string>

#include "QuorExport.h"

class QUOR_DATAACCESS_API PolicyLog {
 public:
  enum LogLevel { Error = 1, Warning = 2, Progress = 4 };

  // Receives the level and the formatted message (without a line end).
  using Sink = std::function<void(int level, const std::string& message)>;

  // Formats the message and passes it to the current sink. A null format is
  // ignored.
  static void log(LogLevel level, const char* format, ...) QUOR_PRINTF_FORMAT(2, 3);

  // True when a message of `level` would reach anyone: the threshold of a
  // sink set with setSink, or the default sink's threshold. Lets callers skip
  // work whose only effect is a trace nobody reads.
  static bool isLogged(LogLevel level);

  // Replaces the sink; it receives messages of every level. An empty
  // function restores the default sink.
  static void setSink(Sink sink);
  // Replaces the sink; it receives only messages whose level is at most
  // `threshold` (Warning: errors and warnings; Progress: everything). Hosts
  // that do not read the progress trace should say so here, so that work done
  // only for that trace is skipped. An empty function restores the default
  // sink and its threshold.
  static void setSink(Sink sink, int threshold);

  // The threshold of the default sink: messages whose level is above it are
  // not written. Read from QUOR_LOG_LEVEL at the first message.
  static int defaultThreshold();

  PolicyLog() = delete;
};

#endif  // QUORPOLICY_INCLUDE_POLICYLOG_H_
