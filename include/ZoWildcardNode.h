// ZoWildcardNode, ZoWildcardRootNode and ZoWildcardedWildcardNode: the address
// pattern tree.
//
// A tree is keyed by domain labels from right to left: the root's children are
// the last labels of the domains, their children the labels before them. A "*"
// label is the node's wildcard child (which never has children: labels left of
// a "*" are ignored); list entries hang as leaves from the node of the leftmost
// label, keyed by user part, the user part "*" as the node's wildcard leaf.
// Matching collects every leaf whose pattern covers an address, deepest
// patterns first, at each node the exact subtree before the wildcard subtree,
// both before the node's exact leaf, which precedes its wildcard leaf.
//
// Ownership: a tree owns its nodes and leaves; deleting the root deletes the
// whole tree. Names are interned in the tree's string table (which must
// outlive the tree) or privately copied when the tree has none.
//
// Thread safety: a tree is built on one thread. Once it and its table are
// locked (ZoWildcardEmail::initScanTimeMode), findMatches may run on any
// number of threads at once: each call works on its own copy of the address
// and its own piece stack and never writes to the tree.
#ifndef QUORPOLICY_INCLUDE_ZOWILDCARDNODE_H_
#define QUORPOLICY_INCLUDE_ZOWILDCARDNODE_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stack>
#include <string>
#include <vector>

#include "QuorExport.h"
#include "ZoIndexedString.h"
#include "ZoListedEmailAddress.h"
#include "ZoLockableClass.h"

// The container under the piece stack: a vector of piece pointers that keeps
// its first kInline entries inside the object, so that parsing an ordinary
// address allocates nothing.
class ZoPieceStorage {
 public:
  using value_type = const ZoIndexedString*;
  using reference = value_type&;
  using const_reference = const value_type&;
  using size_type = std::size_t;

  ZoPieceStorage() = default;
  ZoPieceStorage(const ZoPieceStorage& o) { append(o); }
  ZoPieceStorage& operator=(const ZoPieceStorage& o) {
    if (this != &o) {
      _size = 0;
      append(o);
    }
    return *this;
  }
  ~ZoPieceStorage() {
    if (_data != _inline) std::free(_data);
  }

  bool empty() const { return _size == 0; }
  size_type size() const { return _size; }
  reference back() { return _data[_size - 1]; }
  const_reference back() const { return _data[_size - 1]; }
  void push_back(value_type v) {
    if (_size == _capacity) grow();
    _data[_size++] = v;
  }
  void pop_back() { --_size; }
  value_type operator[](size_type i) const { return _data[i]; }

 private:
  static constexpr size_type kInline = 16;
  void append(const ZoPieceStorage& o) {
    for (size_type i = 0; i < o._size; ++i) push_back(o._data[i]);
  }
  void grow() {
    const size_type capacity = _capacity * 2;
    auto* bigger = static_cast<value_type*>(std::malloc(capacity * sizeof(value_type)));
    if (bigger == nullptr) throw std::bad_alloc();
    std::memcpy(static_cast<void*>(bigger), _data, _size * sizeof(value_type));
    if (_data != _inline) std::free(_data);
    _data = bigger;
    _capacity = capacity;
  }

  value_type _inline[kInline] = {};
  value_type* _data = _inline;
  size_type _size = 0;
  size_type _capacity = kInline;
};

class ZoWildcardEmail;

class QUORPOLICY_API ZoWildcardNode : public ZoLockableClass, public ZoIndexedStringNamedClass {
 public:
  // The piece stack: the user part on top, then the domain labels from right
  // to left.
  using stack = std::stack<const ZoIndexedString*, ZoPieceStorage>;

  // Registered for lock-on-init when `table` is not null; the label is
  // interned in an unlocked table.
  ZoWildcardNode(ZoStringtable* table, const ZoIndexedString* label);
  ZoWildcardNode(const ZoWildcardNode&) = delete;
  ZoWildcardNode& operator=(const ZoWildcardNode&) = delete;

  // The tree makes its nodes in the memory of its string table, which is
  // given back whole when the table dies; nodes made with a plain new (or
  // for a tree without a table) come from the heap. Either kind is
  // destroyed with delete.
  static void* operator new(std::size_t size, ZoStringtable* table, const std::nothrow_t&) noexcept;
  static void* operator new(std::size_t size);
  static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
  static void operator delete(void* p, std::size_t size) noexcept;
  static void operator delete(void* p, ZoStringtable* table, const std::nothrow_t&) noexcept;
  static void operator delete(void* p, const std::nothrow_t&) noexcept;

  // Sets the lock flag and computes the lookup short cuts from the children's
  // and leaves' names as they are now (the table must be locked first).
  void lock() override;
  // Deletes every child and leaf, then releases the label.
  ~ZoWildcardNode() override;

  // Adds one list entry below this node (called on a root); the pattern is
  // lower-cased (ASCII) first. True when the entry now carries `membership`;
  // false for a null pattern, a refused membership or a failed allocation.
  // `originalAddress` and `policyOwner` may be null; the owner string must
  // outlive the tree.
  bool addAddressPattern(const char* pattern, ZoEmailBelongsTo membership,
                         const char* originalAddress, std::string* policyOwner);
  virtual bool addAddressPattern(const ZoIndexedString* fullAddress, const ZoIndexedString* name,
                                 stack& pieces, ZoEmailBelongsTo membership,
                                 const char* originalAddress, std::string* policyOwner);

  // Appends every leaf whose pattern covers `address` (lower-cased first) and
  // returns `matches`, which is not cleared first. A null address is read as
  // the empty text.
  std::vector<ZoListedEmailAddress*>& findMatches(const char* address,
                                                  std::vector<ZoListedEmailAddress*>& matches);

  // Pushes the pieces of `emailAddress` (labels left to right, then the user
  // part) and returns `pieces`. With a table, pieces are its elements or new
  // wrappers (release them with ZoWildcardEmail::cleanupDomainStack). With
  // `allStrings` null every piece gets its own array, which is never freed
  // (logged at level 1).
  static stack& parseAddress(ZoStringtable* table, const char* emailAddress, char* allStrings,
                             stack& pieces);
  // Pops and returns the top piece; null on an empty stack.
  static const ZoIndexedString* getEmailAddressName(stack& pieces);

 protected:
  virtual const ZoWildcardNode* _findMatchingChild(const ZoIndexedString& label);
  virtual bool _matchWildcard(const ZoIndexedString& label);
  virtual ZoListedEmailAddress* _findMatchingLeafNode(const ZoIndexedString& name, bool atEnd);
  virtual bool _matchLeafWildcard(const ZoIndexedString& name, bool atEnd);
  virtual bool _matchesThisNode(stack& pieces, const ZoIndexedString*& label);
  virtual bool _addToLeafVector(ZoListedEmailAddress* leaf);
  virtual bool _addToChildVector(ZoWildcardNode* node);
  virtual bool _addOrModifyLeaf(const ZoIndexedString* name, const ZoIndexedString* fullAddress,
                                ZoEmailBelongsTo membership, const char* originalAddress,
                                std::string* policyOwner);

  // The recursive walk behind the public findMatches.
  std::vector<ZoListedEmailAddress*>& findMatches(const ZoIndexedString* name, stack& pieces,
                                                  std::vector<ZoListedEmailAddress*>& matches);

  // Binary search of the sorted children / leaves, with the short cut for
  // keys that are in no table.
  ZoWildcardNode* _searchChildren(const ZoIndexedString& label) const;
  ZoListedEmailAddress* _searchLeaves(const ZoIndexedString& name) const;

  std::vector<ZoWildcardNode*> _children;
  bool _childrenIndexed;
  ZoWildcardNode* _wildcardChild;
  std::vector<ZoListedEmailAddress*> _leaves;
  bool _leavesIndexed;
  ZoListedEmailAddress* _wildcardLeaf;

 private:
  friend class ZoWildcardEmail;
  // The sorted-vector helpers of the implementation.
  struct Sorted;

  // The walk itself; hands every matching leaf, in order, to emit(context, leaf).
  using Emit = void (*)(void* context, ZoListedEmailAddress* leaf);
  void _walk(const ZoIndexedString* name, stack& pieces, Emit emit, void* context);

  // What speeds up the searches of a node with many children or leaves, or
  // null when plain binary search does as well: while the tree is built, the
  // children by the address of their interned label; after the lock, the
  // ordinals of the children's and leaves' names in vector order.
  struct LookupAid;
  std::unique_ptr<LookupAid> _aid;
};

class QUORPOLICY_API ZoWildcardRootNode : public ZoWildcardNode {
 public:
  ZoWildcardRootNode(ZoStringtable* table, const ZoIndexedString* label)
      : ZoWildcardNode(table, label) {}
  ~ZoWildcardRootNode() override = default;

 protected:
  // The root has no label of its own: it pops nothing.
  bool _matchesThisNode(stack& pieces, const ZoIndexedString*& label) override;
};

class QUORPOLICY_API ZoWildcardedWildcardNode : public ZoWildcardNode {
 public:
  ZoWildcardedWildcardNode(ZoStringtable* table, const ZoIndexedString* label)
      : ZoWildcardNode(table, label) {}
  ~ZoWildcardedWildcardNode() override = default;

  // Adds the leaf here at once: labels left of a "*" label are ignored.
  bool addAddressPattern(const ZoIndexedString* fullAddress, const ZoIndexedString* name,
                         stack& pieces, ZoEmailBelongsTo membership, const char* originalAddress,
                         std::string* policyOwner) override;
  using ZoWildcardNode::addAddressPattern;

 protected:
  const ZoWildcardNode* _findMatchingChild(const ZoIndexedString& label) override;
  bool _matchWildcard(const ZoIndexedString& label) override;
  ZoListedEmailAddress* _findMatchingLeafNode(const ZoIndexedString& name, bool atEnd) override;
  bool _matchLeafWildcard(const ZoIndexedString& name, bool atEnd) override;
  bool _matchesThisNode(stack& pieces, const ZoIndexedString*& label) override;
};

#endif  // QUORPOLICY_INCLUDE_ZOWILDCARDNODE_H_
