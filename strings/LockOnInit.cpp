// The lock-on-init members of ZoWildcardEmail. They live with the strings
// layer because every lockable object registers through them, string tables
// included, and the queue must exist before the first table is built.
#include "ZoWildcardEmail.h"
#include "strings/detail/LockOnInitQueue.h"

using quor::detail::LockOnInitQueue;

void ZoWildcardEmail::_addToLockOnInit(ZoLockableClass* object) {
  LockOnInitQueue::instance().push(object);
}

void ZoWildcardEmail::initScanTimeMode() { LockOnInitQueue::instance().drain(); }

void ZoWildcardEmail::clearLockOnInitQueue() { LockOnInitQueue::instance().clear(); }
