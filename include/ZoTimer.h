// Timers: ZoTimerHander (the work done when a timer fires), ZoTimerQueue (a
// queue of one-shot and periodic timers that the caller drives with
// expire()) and ZoTimerQueueManager (named queues driven by one background
// thread).
//
// Handlers are not owned by the queues; a handler must outlive its timers
// (cancel them first). Times are milliseconds of a monotonic clock.
//
// Thread safety: ZoTimerQueue guards itself; handlers run on the thread that
// calls expire() (for the manager: its background thread), without the
// queue's lock held, so a handler may schedule or cancel timers.
#ifndef QUORPOLICY_INCLUDE_ZOTIMER_H_
#define QUORPOLICY_INCLUDE_ZOTIMER_H_

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "QuorExport.h"

namespace QUOR {

// The destructor is not virtual: the class keeps a fixed table of virtual
// operations. Delete handlers through their own type.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
#endif

class QUOR_COMMON_API ZoTimerHander {
 public:
  ZoTimerHander() {}
  ZoTimerHander(const ZoTimerHander& other) : _timerId(other._timerId) {}
  ZoTimerHander& operator=(const ZoTimerHander& other) {
    _timerId = other._timerId;
    return *this;
  }
  // Called when the timer fires. A negative result cancels a periodic timer.
  virtual int handle() { return -1; }
  long getTimerID() const { return _timerId; }
  void setTimerID(long id) { _timerId = id; }

 protected:
  // Handlers are destroyed through their own type.
  ~ZoTimerHander() {}
  long _timerId = 0;
};

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

class QUOR_COMMON_API ZoTimerQueue {
 public:
  ZoTimerQueue() {}
  // Copies share the handlers (which neither queue owns).
  ZoTimerQueue(const ZoTimerQueue& other) {
    std::lock_guard lock(other._mutex);
    _byDeadline = other._byDeadline;
    _timers = other._timers;
    _nextId = other._nextId;
  }
  ZoTimerQueue& operator=(const ZoTimerQueue& other) {
    if (this != &other) {
      std::scoped_lock lock(_mutex, other._mutex);
      _byDeadline = other._byDeadline;
      _timers = other._timers;
      _nextId = other._nextId;
    }
    return *this;
  }
  virtual ~ZoTimerQueue();

  // Fires `handler` at now + delayMs, then every intervalMs when that is
  // positive. Sets and returns the timer id (> 0); 0 for a null handler or
  // a negative delay.
  long schedule(ZoTimerHander* handler, long delayMs, long intervalMs, long nowMs);
  long schedule(ZoTimerHander* handler, long delayMs, long intervalMs) {
    return schedule(handler, delayMs, intervalMs, nowMs());
  }
  // Returns false when no such timer is pending.
  bool cancel(long timerId);
  // Fires every timer due at `now`, in deadline order. Returns how many fired.
  int expire(long now);
  int expire() { return expire(nowMs()); }
  // The earliest deadline, or -1 when nothing is pending.
  long nextDeadline() const;
  size_t size() const;

  // The monotonic clock in milliseconds.
  static long nowMs();

 private:
  struct Timer {
    ZoTimerHander* handler;
    long interval;
  };
  mutable std::mutex _mutex;
  std::multimap<long, long> _byDeadline;  // deadline -> timer id
  std::map<long, Timer> _timers;          // timer id -> timer
  long _nextId = 1;
};

class QUOR_COMMON_API ZoTimerQueueManager {
 public:
  ZoTimerQueueManager();
  ZoTimerQueueManager(const ZoTimerQueueManager&) = delete;
  ZoTimerQueueManager& operator=(const ZoTimerQueueManager&) = delete;
  // Stops the background thread.
  virtual ~ZoTimerQueueManager();

  // The queue of that name, made on first use; it lives as long as the
  // manager. Timers scheduled there fire on the background thread.
  ZoTimerQueue* getQueue(const char* name);
  // Wakes the background thread to look at new deadlines.
  void notify();

 private:
  void loop();
  std::mutex _mutex;
  std::condition_variable _wake;
  bool _stop = false;
  bool _changed = false;
  std::map<std::string, std::unique_ptr<ZoTimerQueue>> _queues;
  std::thread _worker;
};

}  // namespace QUOR

#endif  // QUORPOLICY_INCLUDE_ZOTIMER_H_
