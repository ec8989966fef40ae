#include "ZoTimer.h"

#include <chrono>
#include <vector>

namespace QUOR {

ZoTimerQueue::~ZoTimerQueue() {}

long ZoTimerQueue::nowMs() {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count());
}

long ZoTimerQueue::schedule(ZoTimerHander* handler, long delayMs, long intervalMs, long now) {
  if (handler == nullptr || delayMs < 0) return 0;
  std::lock_guard lock(_mutex);
  long id = _nextId++;
  _timers[id] = Timer{handler, intervalMs > 0 ? intervalMs : 0};
  _byDeadline.emplace(now + delayMs, id);
  handler->setTimerID(id);
  return id;
}

bool ZoTimerQueue::cancel(long timerId) {
  std::lock_guard lock(_mutex);
  if (_timers.erase(timerId) == 0) return false;
  for (auto it = _byDeadline.begin(); it != _byDeadline.end(); ++it) {
    if (it->second == timerId) {
      _byDeadline.erase(it);
      break;
    }
  }
  return true;
}

int ZoTimerQueue::expire(long now) {
  int fired = 0;
  for (;;) {
    long id = 0;
    long deadline = 0;
    Timer timer{};
    {
      std::lock_guard lock(_mutex);
      if (_byDeadline.empty() || _byDeadline.begin()->first > now) break;
      deadline = _byDeadline.begin()->first;
      id = _byDeadline.begin()->second;
      _byDeadline.erase(_byDeadline.begin());
      timer = _timers.at(id);
      if (timer.interval == 0) _timers.erase(id);
    }
    int result = timer.handler->handle();
    ++fired;
    if (timer.interval > 0) {
      std::lock_guard lock(_mutex);
      // The handler may have cancelled its own timer meanwhile.
      if (_timers.count(id) != 0) {
        if (result < 0) {
          _timers.erase(id);
        } else {
          // Catch up without firing the missed periods again.
          long next = deadline + timer.interval;
          if (next <= now) next = now + timer.interval;
          _byDeadline.emplace(next, id);
        }
      }
    }
  }
  return fired;
}

long ZoTimerQueue::nextDeadline() const {
  std::lock_guard lock(_mutex);
  return _byDeadline.empty() ? -1 : _byDeadline.begin()->first;
}

size_t ZoTimerQueue::size() const {
  std::lock_guard lock(_mutex);
  return _timers.size();
}

ZoTimerQueueManager::ZoTimerQueueManager() : _worker([this] { loop(); }) {}

ZoTimerQueueManager::~ZoTimerQueueManager() {
  {
    std::lock_guard lock(_mutex);
    _stop = true;
  }
  _wake.notify_all();
  _worker.join();
}

ZoTimerQueue* ZoTimerQueueManager::getQueue(const char* name) {
  std::lock_guard lock(_mutex);
  auto& queue = _queues[name != nullptr ? name : ""];
  if (!queue) queue = std::make_unique<ZoTimerQueue>();
  return queue.get();
}

void ZoTimerQueueManager::notify() {
  {
    std::lock_guard lock(_mutex);
    _changed = true;
  }
  _wake.notify_all();
}

void ZoTimerQueueManager::loop() {
  std::unique_lock lock(_mutex);
  while (!_stop) {
    std::vector<ZoTimerQueue*> queues;
    for (auto& [name, queue] : _queues) queues.push_back(queue.get());
    lock.unlock();
    long next = -1;
    for (ZoTimerQueue* queue : queues) {
      queue->expire();
      long deadline = queue->nextDeadline();
      if (deadline >= 0 && (next < 0 || deadline < next)) next = deadline;
    }
    lock.lock();
    if (_stop) break;
    if (_changed) {
      _changed = false;
      continue;
    }
    if (next < 0) {
      _wake.wait(lock, [this] { return _stop || _changed; });
    } else {
      long wait = next - ZoTimerQueue::nowMs();
      if (wait > 0) {
        _wake.wait_for(lock, std::chrono::milliseconds(wait), [this] { return _stop || _changed; });
      }
    }
  }
}

}  // namespace QUOR
