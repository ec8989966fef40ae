// ZoWildcardEmail: the static entry points of address matching.
//
// A scanning process makes one tree per list source (makeNewTree), adds every
// entry with addAddressPattern, calls initScanTimeMode once, and from then on
// calls matchEmailAddress from any number of threads. initScanTimeMode locks
// every object registered for lock-on-init in registration order: the default
// string table first (it is the first registration of the process), then the
// nodes and leaves in creation order.
//
// Thread safety: tree building, initScanTimeMode and clearLockOnInitQueue
// belong to one thread and must finish before matching starts; the queue and
// the default table are process-wide and not guarded. matchEmailAddress
// writes only its own locals and its out-parameters.
#ifndef QUORPOLICY_INCLUDE_ZOWILDCARDEMAIL_H_
#define QUORPOLICY_INCLUDE_ZOWILDCARDEMAIL_H_

#include <cstdint>
#include <vector>

#include "QuorExport.h"
#include "ZoIndexedString.h"
#include "ZoListedEmailAddress.h"
#include "ZoLockableClass.h"
#include "ZoWildcardNode.h"

// The decision of matchEmailAddress: 0, 1, 2 or 9, possibly plus 128.
enum ZoBlackWhiteListResult : std::uint32_t {
  NotListed = 0,
  Whitelisted = 1,
  Blacklisted = 2,
  EqualWeightWhitelisted = 9,
  BothNonOverrideableListsMatched = 128,
};

class QUORPOLICY_API ZoWildcardEmail {
 public:
  // A new root interning into the default table, registered for
  // lock-on-init; the caller deletes it. Null when it cannot be allocated.
  static ZoWildcardNode* makeNewTree();
  // A new root without a table: private copies, never registered, all
  // comparisons by text.
  static ZoWildcardNode* makeNewFloatingTree();

  // Locks every registered object in registration order and empties the
  // queue; a null entry is logged at level 1 and skipped.
  static void initScanTimeMode();
  // Empties the queue without locking anything.
  static void clearLockOnInitQueue();

  // A buffer large enough for parseAddress to copy `address` into ("*" needs
  // room for "*@*"); free it with freeEmailAddressString.
  static char* allocateNewEmailAddressString(const char* address);
  static void freeEmailAddressString(char* buffer);
  // Pops every piece, freeing wrappers (not their texts) and private copies;
  // table elements, the two static handles and null entries stay.
  static void cleanupDomainStack(ZoWildcardNode::stack* pieces, ZoStringtable* table);

  // Decides for `address` across `trees` (strongest first). Non-null
  // out-parameters receive the deciding entry's tree position, full pattern
  // text (valid as long as the tree) and membership; 0, null and 0 for
  // NotListed. REQUIRES: no null entry in `trees` (null entries are skipped).
  static ZoBlackWhiteListResult matchEmailAddress(const char* address,
                                                  std::vector<ZoWildcardNode*>& trees,
                                                  unsigned long* matchedTreeIndex,
                                                  const char** matchedPattern,
                                                  ZoEmailBelongsTo* matchedMembership);
  // The bit of value 1 is set.
  static bool isWhitelisted(ZoBlackWhiteListResult r);
  // The bit of value 2 is set and the bit of value 1 is not.
  static bool isBlacklisted(ZoBlackWhiteListResult r);

 private:
  friend class ZoLockableClass;
  friend class ZoWildcardEmailTestPeer;

  static void _addToLockOnInit(ZoLockableClass* object);

  static ZoStringtable _defaultScanTimeStringtable;
};

#endif  // QUORPOLICY_INCLUDE_ZOWILDCARDEMAIL_H_
