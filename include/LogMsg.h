// LogMsg: the logging interface that the gateway's processes hand to the
// policy components (e.g. filters). The base class accepts every call and
// does nothing; ok() is false so a caller can tell that no sink is behind
// it. PolicyLogMsg forwards the general entries to PolicyLog.
//
// Thread safety: the base class has no state besides its level; subclasses
// say their own.
#ifndef QUORPOLICY_INCLUDE_LOGMSG_H_
#define QUORPOLICY_INCLUDE_LOGMSG_H_

#include <cstdint>

#include "QuorExport.h"

namespace QUOR {

// Severity of a log entry; lower is more severe.
enum QUORLogLevel {
  QUOR_LOG_ERROR = 1,
  QUOR_LOG_WARNING = 2,
  QUOR_LOG_INFO = 3,
  QUOR_LOG_DEBUG = 4,
};

// The destructor is not virtual: the class keeps a fixed table of virtual
// operations. Delete objects through their own type.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

class QUOR_COMMON_API LogMsg {
 public:
  LogMsg() : _level(QUOR_LOG_INFO) {}
  LogMsg(const LogMsg& other) : _level(other._level) {}
  LogMsg& operator=(const LogMsg& other) {
    _level = other._level;
    return *this;
  }
  ~LogMsg() {}

  // An event for the system's event log, with its event id.
  virtual void logEventEntry(const char* /*text*/, unsigned int /*eventId*/) {}
  // A printf-style entry of `level`.
  virtual void logEntry(QUORLogLevel /*level*/, const char* /*format*/, ...) {}
  // A printf-style debugging entry with the source file, line and function.
  virtual void logDebug(const char* /*file*/, const char* /*function*/, unsigned int /*line*/,
                        const char* /*format*/, ...) {}
  // True when entries go somewhere.
  virtual bool ok() { return false; }
  virtual void logGenericEventEntry(const char* /*text*/) {}
  // One policy event: message and policy identification, scores, actions
  // and delivery details, in the gateway's fixed order.
  virtual void logPolicyEventEntry(const char*, const char*, const char*, const char*, short,
                                   const char*, const char*, const char*, float, const char*,
                                   float, short, short, const char*, const char*, const char*,
                                   const char*, int, int, int, int, const char*, int, int,
                                   const char*, const char*, const char*, int, int, const char*,
                                   const char*, int) {}
  // One event of the mail transfer or delivery agent.
  virtual void logMTAMDAEventEntry(short, int, const char*, const char*, const char*, const char*,
                                   const char*, const char*) {}

  // The most detailed level written (QUOR_LOG_INFO after construction).
  std::int32_t getLevel() const { return _level; }
  void setLevel(std::int32_t level) { _level = level; }

 protected:
  std::int32_t _level;
};

// Forwards logEntry, logDebug, logEventEntry and logGenericEventEntry to
// PolicyLog (info and debug entries at its progress level) when their level
// is at most getLevel(). Policy and agent events are not forwarded.
class QUOR_COMMON_API PolicyLogMsg final : public LogMsg {
 public:
  PolicyLogMsg() {}
  void logEventEntry(const char* text, unsigned int eventId) override;
  void logEntry(QUORLogLevel level, const char* format, ...) override
      QUOR_PRINTF_FORMAT(3, 4);
  void logDebug(const char* file, const char* function, unsigned int line, const char* format,
                ...) override QUOR_PRINTF_FORMAT(5, 6);
  bool ok() override { return true; }
  void logGenericEventEntry(const char* text) override;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

static_assert(sizeof(std::int32_t) == 4, "LogMsg's level is 32 bits wide");

}  // namespace QUOR

#endif  // QUORPOLICY_INCLUDE_LOGMSG_H_
