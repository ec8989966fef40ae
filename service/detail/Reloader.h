// Loads the lists again on request, on a thread of its own, so that signals
// are handled and requests answered while a large list loads; the new
// generation is swapped in when it is complete, and a load that fails keeps
// the lists in use. Requests that arrive during a load collapse into one
// more load; stop() cancels a load in progress.
//
// Thread safety: request() and stop() may be called from any thread.
#ifndef QUORPOLICY_SERVICE_DETAIL_RELOADER_H_
#define QUORPOLICY_SERVICE_DETAIL_RELOADER_H_

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lists/ListSet.h"
#include "service/detail/Shared.h"

namespace quor::service::detail {

// How the service loads its lists: warnings to the log, and a file whose
// last line has no line end is refused as still being written.
lists::ListSet::Options loadOptions();

class Reloader {
 public:
  // `paths` and `shared` must outlive the reloader.
  Reloader(const std::vector<std::string>& paths, bool allowShrink, Shared& shared);
  Reloader(const Reloader&) = delete;
  Reloader& operator=(const Reloader&) = delete;
  // Cancels a load in progress and waits for the thread.
  ~Reloader();

  void request();
  void stop();

 private:
  void run();
  void reload();

  const std::vector<std::string>& _paths;
  const bool _allowShrink;
  Shared& _shared;
  std::atomic<bool> _cancel{false};
  std::mutex _mutex;
  std::condition_variable _wake;
  bool _wanted = false;    // guarded by _mutex
  bool _stopping = false;  // guarded by _mutex
  bool _loading = false;   // guarded by _mutex
  std::thread _thread;
};

}  // namespace quor::service::detail

#endif  // QUORPOLICY_SERVICE_DETAIL_RELOADER_H_
