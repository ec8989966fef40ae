// Thread: a thread of the gateway's processes. A subclass puts its work in
// run(); start() runs it on a new thread.
//
// A thread made detached cannot be joined; one that is also marked
// delete-when-complete deletes itself when run() returns (it must then have
// been made with new, and nobody may touch it after start()). Otherwise the
// owner calls join() before the object is destroyed; the destructor joins as
// a last resort, but by then the subclass part is gone, so that is a bug of
// the owner.
//
// Thread safety: start() and join() belong to the owner's thread; the
// getters may be read from any thread once start() returned.
#ifndef QUORPOLICY_INCLUDE_QUORTHREAD_H_
#define QUORPOLICY_INCLUDE_QUORTHREAD_H_

#include <string>
#include <thread>

#include "QuorExport.h"

namespace QUOR {

class QUOR_COMMON_API Thread {
 public:
  explicit Thread(const char* name = nullptr, bool createDetached = false,
                  bool deleteWhenComplete = false)
      : _name(name != nullptr ? name : ""),
        _deleteWhenComplete(deleteWhenComplete),
        _detached(createDetached) {}
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // The work of the thread; its result is what join() returns.
  virtual int run() = 0;
  virtual ~Thread();

  // Starts run() on a new thread. Returns false when already started or the
  // thread could not be made (logged).
  bool start();
  // Waits for run() to return and gives its result; -1 for a detached thread
  // or one that was not started.
  int join();

  const char* getName() const { return _name.c_str(); }
  void setName(const char* name) { _name = name != nullptr ? name : ""; }
  // A number identifying the running thread; 0 before start().
  unsigned long getId() const { return _id; }
  bool deleteWhenComplete() const { return _deleteWhenComplete; }
  bool createdDetached() const { return _detached; }

 private:
  std::string _name;
  unsigned long _id = 0;
  bool _deleteWhenComplete;
  bool _detached;
  bool _started = false;
  int _result = -1;
  std::thread _thread;
};

}  // namespace QUOR

#endif  // QUORPOLICY_INCLUDE_QUORTHREAD_H_
