// The process-wide lock-on-init queue behind ZoWildcardEmail's static members.
//
// A first-in first-out queue of lockable objects. Each registered object
// records its slot, so that its destructor can take it off the queue in O(1):
// the slot becomes a tombstone that draining skips silently. Tombstones at
// either end are trimmed at once, and the queue is compacted when they make
// up most of it, so building and destroying registered objects without ever
// draining keeps the queue proportional to the live registrations.
//
// Not guarded: registration, removal and draining belong to one thread.
#ifndef QUORPOLICY_STRINGS_DETAIL_LOCKONINITQUEUE_H_
#define QUORPOLICY_STRINGS_DETAIL_LOCKONINITQUEUE_H_

#include <cstddef>
#include <cstdint>
#include <deque>

#include "ZoLockableClass.h"

namespace quor::detail {

class LockOnInitQueue {
 public:
  // The one queue. Built on first use, so it exists before the first static
  // lockable object registers, whatever the order of static construction.
  static LockOnInitQueue& instance();

  // Appends `object`; a null object is kept as a null entry.
  void push(ZoLockableClass* object);
  // Takes `object` off the queue if it is registered. Never touches the
  // queue for an object that is not registered.
  static void remove(ZoLockableClass* object) noexcept;
  // Locks every entry in order, logging null entries.
  void drain();
  // Drops every entry without locking it.
  void clear() noexcept;

  // Entries still to be locked (null entries included, tombstones not).
  size_t pending() const { return _entries.size() - _tombstones; }

 private:
  struct Entry {
    ZoLockableClass* object;
    bool removed;
  };

  void erase(ZoLockableClass* object) noexcept;
  void trim() noexcept;
  void compact();

  std::deque<Entry> _entries;
  std::uint64_t _headSeq = 0;  // sequence number of _entries.front()
  size_t _tombstones = 0;
};

}  // namespace quor::detail

#endif  // QUORPOLICY_STRINGS_DETAIL_LOCKONINITQUEUE_H_
