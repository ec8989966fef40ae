// ZoLockableClass and ZoIndexedStringNamedClass: the one-way lock and the
// interned name shared by all list data of the address matcher.
//
// A lockable object is filled while unlocked and becomes read-only for good
// when it is locked. An object constructed with lockOnInit true is appended to
// the process-wide lock-on-init queue; ZoWildcardEmail::initScanTimeMode then
// locks every registered object in registration order. A registered object
// that is destroyed before the queue is drained takes itself off the queue, so
// the queue never holds a dangling entry.
//
// A named object holds its name as a ZoIndexedString that is either an element
// of a string table (owned by the table, which must outlive the object) or a
// private copy (owned by the object); it never borrows the caller's text.
//
// Thread safety: construction, registration, locking and destruction of
// registered objects belong to one thread (the queue is not guarded). Once
// locked, objects are only read and may be read from any number of threads.
#ifndef QUORPOLICY_INCLUDE_ZOLOCKABLECLASS_H_
#define QUORPOLICY_INCLUDE_ZOLOCKABLECLASS_H_

#include <cstdint>

#include "QuorExport.h"

class ZoIndexedString;
class ZoStringtable;

namespace quor::detail {
class LockOnInitQueue;
}

class QUORPOLICY_API ZoLockableClass {
 public:
  // Unlocked; appended to the lock-on-init queue when lockOnInit is true.
  explicit ZoLockableClass(bool lockOnInit = false);
  // Copies the lock flag; the copy is not registered on the queue.
  ZoLockableClass(const ZoLockableClass& other);
  // Copies the lock flag only; registration stays as it was.
  ZoLockableClass& operator=(const ZoLockableClass& other);

  // Makes the object read-only. Each concrete class defines what that means.
  virtual void lock() = 0;
  // True once the object has been locked.
  virtual bool isLocked() const;

 protected:
  // Sets the lock flag.
  virtual void _lock();

 public:
  // Takes the object off the lock-on-init queue if it is still registered.
  virtual ~ZoLockableClass();

 protected:
  bool locked;

 private:
  friend class quor::detail::LockOnInitQueue;
  // Where the object sits on the lock-on-init queue; these fit in the padding
  // after `locked`, so registration costs no space in the object.
  bool _queued = false;
  std::uint32_t _queueSlot = 0;
};

class QUORPOLICY_API ZoIndexedStringNamedClass {
 public:
  // _name is the table's element for `name` (interned when the table is
  // unlocked), or a private copy when there is no table or a locked table
  // does not hold the text; the empty handle when everything failed.
  ZoIndexedStringNamedClass(ZoStringtable* table, const ZoIndexedString* name);
  ZoIndexedStringNamedClass(ZoStringtable* table, const char* name);
  // Releases a private copy of the name; table elements stay in the table.
  ~ZoIndexedStringNamedClass();
  ZoIndexedStringNamedClass(const ZoIndexedStringNamedClass&) = delete;
  ZoIndexedStringNamedClass& operator=(const ZoIndexedStringNamedClass&) = delete;

  // The name; the empty handle stands in for a null name.
  const ZoIndexedString& getName() const;
  const ZoIndexedString* getNameAsPtr() const;
  // The name's text, or null for a null name.
  const char* getNameAsStr() const;

  // Text forms compare bytes as unsigned, ignoring ordinals; the other forms
  // compare like ZoIndexedString (ordinals when both carry one).
  bool operator==(const char* s) const;
  bool operator!=(const char* s) const;
  bool operator<(const char* s) const;
  bool operator<=(const char* s) const;
  bool operator>(const char* s) const;
  bool operator>=(const char* s) const;
  bool operator==(const ZoIndexedString& s) const;
  bool operator!=(const ZoIndexedString& s) const;
  bool operator<(const ZoIndexedString& s) const;
  bool operator<=(const ZoIndexedString& s) const;
  bool operator>(const ZoIndexedString& s) const;
  bool operator>=(const ZoIndexedString& s) const;
  bool operator==(const ZoIndexedStringNamedClass& o) const;
  bool operator!=(const ZoIndexedStringNamedClass& o) const;
  bool operator<(const ZoIndexedStringNamedClass& o) const;
  bool operator<=(const ZoIndexedStringNamedClass& o) const;
  bool operator>(const ZoIndexedStringNamedClass& o) const;
  bool operator>=(const ZoIndexedStringNamedClass& o) const;

 protected:
  // `p`, or the empty handle when `p` is null.
  static const ZoIndexedString* _subEmptyForNull(const ZoIndexedString* p);
  // A new array (free with delete[]) holding `address` up to its first
  // at-sign, or all of it. Null for a null address.
  static char* _inferName(const char* address);
  // Chooses what a name pointer will point to (see the constructors).
  // Logs "ZoListedEmailAddress - _returnCopyIfSameAs: ..." when no copy
  // could be made, and returns the empty handle then.
  const ZoIndexedString* _lookupAndCheckName(const ZoIndexedString* name,
                                             ZoStringtable* table) const;
  const ZoIndexedString* _lookupAndCheckName(const char* name, ZoStringtable* table) const;
  // Releases a name chosen by _lookupAndCheckName; false when it failed.
  static bool _releaseName(const ZoIndexedString* name);

  const ZoIndexedString* _name;
  ZoStringtable* _stringtable;

 private:
  int _compareText(const char* s) const;
  int _compareHandle(const ZoIndexedString& s) const;
};

#endif  // QUORPOLICY_INCLUDE_ZOLOCKABLECLASS_H_
