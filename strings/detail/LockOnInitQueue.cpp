#include "strings/detail/LockOnInitQueue.h"

#include "PolicyLog.h"

namespace quor::detail {

LockOnInitQueue& LockOnInitQueue::instance() {
  static LockOnInitQueue queue;
  return queue;
}

void LockOnInitQueue::push(ZoLockableClass* object) {
  if (object != nullptr) {
    object->_queued = true;
    object->_queueSlot = static_cast<std::uint32_t>(_headSeq + _entries.size());
  }
  _entries.push_back(Entry{object, false});
}

void LockOnInitQueue::remove(ZoLockableClass* object) noexcept {
  if (object == nullptr || !object->_queued) return;
  instance().erase(object);
}

void LockOnInitQueue::erase(ZoLockableClass* object) noexcept {
  object->_queued = false;
  // Slots are sequence numbers modulo 2^32; the queue never holds that many.
  const std::uint32_t offset = object->_queueSlot - static_cast<std::uint32_t>(_headSeq);
  if (offset >= _entries.size() || _entries[offset].object != object) return;
  _entries[offset] = Entry{nullptr, true};
  ++_tombstones;
  trim();
  if (_tombstones > 64 && _tombstones * 2 > _entries.size()) {
    try {
      compact();
    } catch (...) {
      // Out of memory: the tombstones stay and are skipped when draining.
    }
  }
}

void LockOnInitQueue::trim() noexcept {
  while (!_entries.empty() && _entries.back().removed) {
    _entries.pop_back();
    --_tombstones;
  }
  while (!_entries.empty() && _entries.front().removed) {
    _entries.pop_front();
    ++_headSeq;
    --_tombstones;
  }
}

void LockOnInitQueue::compact() {
  std::deque<Entry> live;
  for (const Entry& e : _entries) {
    if (e.removed) continue;
    if (e.object != nullptr) e.object->_queueSlot = static_cast<std::uint32_t>(live.size());
    live.push_back(e);
  }
  _entries.swap(live);
  _headSeq = 0;
  _tombstones = 0;
}

void LockOnInitQueue::drain() {
  while (!_entries.empty()) {
    const Entry e = _entries.front();
    _entries.pop_front();
    ++_headSeq;
    if (e.removed) {
      --_tombstones;
      continue;
    }
    if (e.object == nullptr) {
      PolicyLog::log(
          PolicyLog::Error,
          "ZoWildcardEmail::initScanTimeMode has found a NULL pointer on the _lockOnInit queue.");
      continue;
    }
    e.object->_queued = false;
    e.object->lock();
  }
}

void LockOnInitQueue::clear() noexcept {
  for (const Entry& e : _entries) {
    if (!e.removed && e.object != nullptr) e.object->_queued = false;
  }
  _entries.clear();
  _headSeq = 0;
  _tombstones = 0;
}

}  // namespace quor::detail
