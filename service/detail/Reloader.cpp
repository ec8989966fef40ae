#include "service/detail/Reloader.h"

#include <chrono>
#include <exception>
#include <memory>

#include "service/Log.h"

namespace quor::service::detail {

lists::ListSet::Options loadOptions() {
  lists::ListSet::Options load;
  load.warn = [](const std::string& text) { say("warning: %s", text.c_str()); };
  load.requireLineEnd = true;
  return load;
}

Reloader::Reloader(const std::vector<std::string>& paths, bool allowShrink, Shared& shared)
    : _paths(paths), _allowShrink(allowShrink), _shared(shared) {
  _thread = std::thread([this] { run(); });
}

Reloader::~Reloader() {
  stop();
  _thread.join();
}

void Reloader::request() {
  std::lock_guard<std::mutex> lock(_mutex);
  if (_loading) say("reload asked for while one runs: one more follows");
  _wanted = true;
  _wake.notify_one();
}

void Reloader::stop() {
  _cancel = true;
  std::lock_guard<std::mutex> lock(_mutex);
  _stopping = true;
  _wake.notify_one();
}

void Reloader::run() {
  std::unique_lock<std::mutex> lock(_mutex);
  for (;;) {
    _wake.wait(lock, [this] { return _wanted || _stopping; });
    if (_stopping) return;
    _wanted = false;
    _loading = true;
    lock.unlock();
    reload();
    lock.lock();
    _loading = false;
  }
}

void Reloader::reload() {
  const auto start = std::chrono::steady_clock::now();
  // The lists in use stay alive until the new ones are in place, for the
  // shrink check.
  std::shared_ptr<const lists::ListSet> current = _shared.lists.current();
  lists::ListSet::Options load = loadOptions();
  if (!_allowShrink) load.shrinkFrom = current.get();
  load.cancel = &_cancel;
  say("reloading the lists");
  try {
    std::unique_lock<std::mutex> building(_shared.treeBuild);
    std::shared_ptr<const lists::ListSet> fresh = lists::ListSet::load(_paths, load);
    building.unlock();
    const std::size_t entries = fresh->entries();
    _shared.lists.replace(std::move(fresh));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    // The old lists are freed here (unless a request still holds them), so
    // that the line below marks the end of the reload.
    current.reset();
    say("lists reloaded: %zu entries in %lld ms", entries, static_cast<long long>(ms.count()));
  } catch (const std::exception& e) {
    if (_cancel) {
      say("reload abandoned: stopping");
    } else {
      say("reload failed, keeping the lists in use: %s", e.what());
    }
  }
}

}  // namespace quor::service::detail
