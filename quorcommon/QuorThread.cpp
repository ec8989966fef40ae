#include "QuorThread.h"

#include <functional>
#include <future>
#include <system_error>

#include "PolicyLog.h"

namespace QUOR {

Thread::~Thread() {
  if (_thread.joinable()) _thread.join();
}

bool Thread::start() {
  if (_started) return false;
  // The new thread waits until start() has recorded its id and detached it,
  // so a self-deleting thread cannot vanish while start() still uses it.
  std::promise<void> ready;
  std::shared_future<void> go = ready.get_future().share();
  try {
    _thread = std::thread([this, go] {
      go.wait();
      int result = run();
      if (_detached && _deleteWhenComplete) {
        delete this;
        return;
      }
      _result = result;
    });
  } catch (const std::system_error& e) {
    PolicyLog::log(PolicyLog::Error, "Thread::start: could not start thread %s: %s",
                   _name.c_str(), e.what());
    return false;
  }
  _started = true;
  _id = static_cast<unsigned long>(std::hash<std::thread::id>{}(_thread.get_id()));
  if (_id == 0) _id = 1;
  if (_detached) _thread.detach();
  ready.set_value();
  return true;
}

int Thread::join() {
  if (!_started || _detached || !_thread.joinable()) return -1;
  _thread.join();
  return _result;
}

}  // namespace QUOR
