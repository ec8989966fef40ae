#include "ZoWildcardNode.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "PolicyLog.h"
#include "ZoWildcardEmail.h"
#include "addrmatch/detail/AddressPieces.h"
#include "strings/detail/BlockArena.h"

using quor::detail::isStar;
using quor::detail::lowerAscii;

namespace {

const ZoIndexedString* subEmpty(const ZoIndexedString* p) {
  return p != nullptr ? p : ZoStringtable::getConstEmptyIndexedString();
}

// One level of a walk: the node, the label it popped, whether the domain
// ended there.
struct Frame {
  ZoWildcardNode* node;
  const ZoIndexedString* popped;
  bool atEnd;
};

}  // namespace

// Lower bound of `key` in the ascending ordinals [first, last). Ordinals are
// dense over the whole table, so the children of a busy node spread fairly
// evenly over their range: start where interpolation puts the key and gallop
// from there. That touches a few cache lines where a plain binary search over
// thousands of children touches a dozen.
static const std::uint32_t* findOrdinal(const std::uint32_t* first, const std::uint32_t* last,
                                        std::uint32_t key) {
  const size_t n = static_cast<size_t>(last - first);
  if (n <= 16) return std::lower_bound(first, last, key);
  const std::uint32_t lowest = first[0];
  const std::uint32_t highest = last[-1];
  if (key <= lowest) return first;
  if (key > highest) return last;
  size_t pos = static_cast<size_t>(std::uint64_t{key - lowest} * (n - 1) / (highest - lowest));
  size_t lo;
  size_t hi;
  if (first[pos] < key) {
    // The answer lies right of pos.
    size_t step = 1;
    while (pos + step < n && first[pos + step] < key) step *= 2;
    lo = pos + step / 2 + 1;
    hi = std::min(pos + step, n);
  } else {
    // The answer is pos or lies left of it.
    size_t step = 1;
    while (step <= pos && first[pos - step] >= key) step *= 2;
    lo = step <= pos ? pos - step + 1 : 0;
    hi = pos - step / 2;
  }
  return std::lower_bound(first + lo, first + hi, key);
}

// Vectors up to this size are searched without the aid: a binary search
// over so few elements costs no more than one over their ordinals.
constexpr size_t kSmallVector = 8;
// While a tree is built, a node gets an index of its children (or leaves)
// once it has more than this many; fewer are found as fast by the binary
// search.
constexpr size_t kIndexedWhileBuilding = 16;

struct ZoWildcardNode::LookupAid {
  // The elements of one vector of a node by the address of their name, an
  // element of the tree's string table (open addressing, a power of two in
  // size, at most half full), for a node that is being built.
  template <class T>
  struct ByName {
    std::vector<T*> slots;  // empty: no index
    // Set once an element's name is not a table element: that element stays,
    // so the vector is never indexed again.
    bool refused = false;

    bool active() const { return !slots.empty(); }
    static size_t slotOf(const ZoIndexedString* name, size_t mask) {
      return static_cast<size_t>(
                 (reinterpret_cast<std::uintptr_t>(name) >> 3) * 0x9E3779B97F4A7C15ull >> 20) &
             mask;
    }
    static bool indexable(const T* element) {
      return element != nullptr && element->_name != nullptr && element->_name->isInStringtable();
    }
    void place(T* element) {
      const size_t mask = slots.size() - 1;
      for (size_t i = slotOf(element->_name, mask);; i = (i + 1) & mask) {
        if (slots[i] == nullptr) {
          slots[i] = element;
          return;
        }
      }
    }
    // Indexes `elements`; false (no index) when a name is not a table
    // element.
    bool build(const std::vector<T*>& elements) {
      if (!std::all_of(elements.begin(), elements.end(), indexable)) return false;
      size_t count = 64;
      while (count < elements.size() * 2) count *= 2;
      slots.assign(count, nullptr);
      for (T* e : elements) place(e);
      return true;
    }
    // Adds `element`, just inserted into `elements`; false when it cannot
    // be indexed (the caller then drops the index).
    bool add(const std::vector<T*>& elements, T* element) {
      if (!indexable(element)) return false;
      if (elements.size() * 2 > slots.size()) return build(elements);
      place(element);
      return true;
    }
    T* find(const ZoIndexedString* name) const {
      const size_t mask = slots.size() - 1;
      for (size_t i = slotOf(name, mask);; i = (i + 1) & mask) {
        T* e = slots[i];
        if (e == nullptr || e->_name == name) return e;
      }
    }
  };

  // After the lock: the ordinals of the children's names, then those of the
  // leaves' names, each in vector order; a count that no longer matches its
  // vector (an addition after the lock) disables that part. First, so that
  // a search after the lock reads one cache line of the aid.
  std::unique_ptr<std::uint32_t[]> ordinals;
  std::uint32_t childCount = 0;
  std::uint32_t leafCount = 0;
  // While building: the children and the leaves by name.
  ByName<ZoWildcardNode> children;
  ByName<ZoListedEmailAddress> leaves;
  // While a vector has an index by name, new elements are only appended:
  // keeping a vector of many thousand children sorted element by element
  // moves half of it for every insertion. These count the sorted front of
  // each vector; settle() sorts the rest in before anything reads the order
  // (a search without the index, the lock).
  size_t childrenSorted = 0;
  size_t leavesSorted = 0;

  template <class T>
  static T* findByName(const ZoStringtable* table, const ByName<T>& index,
                       const ZoIndexedString& key);
  template <class T>
  static bool add(ZoWildcardNode& node, std::vector<T*>& v, T* element, ByName<T> LookupAid::*index,
                  size_t LookupAid::*sorted);
  // Sorts the appended elements of `v` into its sorted front.
  template <class T>
  static void settle(std::vector<T*>& v, size_t& sorted);
  // Both vectors of `node`, when it has an aid.
  static void settle(ZoWildcardNode& node);
};

struct ZoWildcardNode::Sorted {
  // The name an element of _children or _leaves is sorted by. Reads the name
  // field directly: this runs for every probe of every search.
  template <class T>
  static const ZoIndexedString& sortName(const T* element) {
    const ZoIndexedString* name = element != nullptr ? element->_name : nullptr;
    return name != nullptr ? *name : *ZoStringtable::getConstEmptyIndexedString();
  }

  // Whether every element's name carries an ordinal.
  template <class T>
  static bool allIndexed(const std::vector<T*>& elements) {
    return std::all_of(elements.begin(), elements.end(),
                       [](const T* e) { return sortName(e).isIndexed(); });
  }

  // Copies the ordinals of the elements' names to `out`.
  template <class T>
  static void copyOrdinals(const std::vector<T*>& elements, std::uint32_t* out) {
    for (size_t i = 0; i < elements.size(); ++i) out[i] = sortName(elements[i]).getIndex();
  }

  // The binary search over a vector sorted by name; comparisons by ordinal
  // when both sides carry one, by text otherwise. `ordinals`, when not null,
  // holds the ordinals of the names in vector order.
  template <class T>
  static T* searchSorted(const std::vector<T*>& v, const std::uint32_t* ordinals, bool indexed,
                         const ZoIndexedString& key) {
    // After the lock every name carries an ordinal of the tree's table, and a
    // key that is in no table cannot equal any of them.
    if (indexed && key.isNotInStringtable()) return nullptr;
    if (v.empty()) return nullptr;
    if (ordinals != nullptr && key.isIndexed()) {
      const std::uint32_t* first = ordinals;
      const std::uint32_t* last = first + v.size();
      const std::uint32_t* it = findOrdinal(first, last, key.getIndex());
      return (it != last && *it == key.getIndex()) ? v[static_cast<size_t>(it - first)] : nullptr;
    }
    size_t lo = 0;
    size_t hi = v.size() - 1;
    if (v.size() > 2) {
      while (hi - lo >= 2) {
        const size_t mid = (lo + hi) / 2;
        if (sortName(v[mid]) >= key) {
          hi = mid;
        } else {
          lo = mid;
        }
      }
    }
    if (sortName(v[lo]) == key) return v[lo];
    if (hi == lo) return nullptr;
    if (sortName(v[hi]) == key) return v[hi];
    return nullptr;
  }

  // Inserts after every element that does not compare greater.
  template <class T>
  static bool insertSorted(std::vector<T*>& v, T* element) {
    if (element == nullptr) return false;
    const ZoIndexedString& name = sortName(element);
    auto pos = std::upper_bound(v.begin(), v.end(), element,
                                [&name](const T*, const T* e) { return sortName(e) > name; });
    v.insert(pos, element);
    return true;
  }
};

// The element of `index` named `key`. A key that is not this table's
// element for its text (a private copy, or another table's element) is
// looked up by its text first.
template <class T>
T* ZoWildcardNode::LookupAid::findByName(const ZoStringtable* table, const ByName<T>& index,
                                         const ZoIndexedString& key) {
  if (T* found = index.find(&key)) return found;
  if (table == nullptr) return nullptr;
  const char* text = key.getIdentifier();
  const ZoIndexedString* element = table->_lookup(text != nullptr ? text : "");
  return element != nullptr && element != &key ? index.find(element) : nullptr;
}

// Inserts `element` into `v`, one of the vectors of `node`, and keeps
// `index` (the same vector's index by name) up to date. While the node is
// being built, a vector with more than a few elements gets an index, so that
// an element is found by the address of its name; an element whose name is
// not a table element drops the index. Without an index the element goes to
// its sorted place at once; with one it is appended, and `sorted` (the
// length of the vector's sorted front) tells settle() what is left to sort.
template <class T>
bool ZoWildcardNode::LookupAid::add(ZoWildcardNode& node, std::vector<T*>& v, T* element,
                                    ByName<T> LookupAid::*index, size_t LookupAid::*sorted) {
  if (element == nullptr) return false;
  LookupAid* aid = node._aid.get();
  if (aid != nullptr && !node.isLocked() && (aid->*index).active() &&
      ByName<T>::indexable(element)) {
    // Found through the index until the vector is settled.
    v.push_back(element);
    if (!(aid->*index).add(v, element)) {
      (aid->*index) = ByName<T>{{}, true};
      settle(v, aid->*sorted);
    }
    return true;
  }
  if (aid != nullptr) settle(v, aid->*sorted);
  if (!Sorted::insertSorted(v, element)) return false;
  if (aid != nullptr) aid->*sorted = v.size();
  if (node.isLocked()) return true;
  if (node._stringtable == nullptr || v.size() <= kIndexedWhileBuilding) return true;
  if (!node._aid) {
    node._aid.reset(new (std::nothrow) LookupAid);
    if (!node._aid) return true;
    aid = node._aid.get();
    aid->childrenSorted = node._children.size();
    aid->leavesSorted = node._leaves.size();
  }
  ByName<T>& byName = aid->*index;
  if (byName.refused) return true;
  if (!(byName.active() ? byName.add(v, element) : byName.build(v))) byName = ByName<T>{{}, true};
  return true;
}

template <class T>
void ZoWildcardNode::LookupAid::settle(std::vector<T*>& v, size_t& sorted) {
  if (sorted >= v.size()) {
    sorted = v.size();
    return;
  }
  // Stable, so that an element lands after the equal ones before it, as
  // insertSorted places it.
  const auto less = [](const T* a, const T* b) {
    return Sorted::sortName(a) < Sorted::sortName(b);
  };
  const auto middle = v.begin() + static_cast<std::ptrdiff_t>(sorted);
  std::stable_sort(middle, v.end(), less);
  std::inplace_merge(v.begin(), middle, v.end(), less);
  sorted = v.size();
}

void ZoWildcardNode::LookupAid::settle(ZoWildcardNode& node) {
  if (!node._aid) return;
  settle(node._children, node._aid->childrenSorted);
  settle(node._leaves, node._aid->leavesSorted);
}

ZoWildcardNode::ZoWildcardNode(ZoStringtable* table, const ZoIndexedString* label)
    : ZoLockableClass(table != nullptr),
      ZoIndexedStringNamedClass(table, label),
      _childrenIndexed(false),
      _wildcardChild(nullptr),
      _leavesIndexed(false),
      _wildcardLeaf(nullptr) {}

ZoWildcardNode::~ZoWildcardNode() {
  // Tear the subtree down without recursion, so that a pattern with a great
  // many labels cannot exhaust the stack: every node handed to delete has no
  // children left.
  std::vector<ZoWildcardNode*> pending;
  pending.swap(_children);
  if (_wildcardChild != nullptr) pending.push_back(_wildcardChild);
  _wildcardChild = nullptr;
  while (!pending.empty()) {
    ZoWildcardNode* n = pending.back();
    pending.pop_back();
    if (n == nullptr) continue;
    pending.insert(pending.end(), n->_children.begin(), n->_children.end());
    n->_children.clear();
    if (n->_wildcardChild != nullptr) pending.push_back(n->_wildcardChild);
    n->_wildcardChild = nullptr;
    delete n;
  }
  for (ZoListedEmailAddress* leaf : _leaves) delete leaf;
  _leaves.clear();
  delete _wildcardLeaf;
  _wildcardLeaf = nullptr;
}

void ZoWildcardNode::lock() {
  _lock();
  LookupAid::settle(*this);
  // The vectors are complete now; give back their growth slack.
  _children.shrink_to_fit();
  _leaves.shrink_to_fit();
  _childrenIndexed = Sorted::allIndexed(_children);
  _leavesIndexed = Sorted::allIndexed(_leaves);
  // Ordinals only for vectors that are indexed and too long to search
  // cheaply without them.
  const size_t children =
      _childrenIndexed && _children.size() > kSmallVector ? _children.size() : 0;
  const size_t leaves = _leavesIndexed && _leaves.size() > kSmallVector ? _leaves.size() : 0;
  _aid.reset();
  if (children + leaves == 0) return;
  _aid.reset(new (std::nothrow) LookupAid);
  if (!_aid) return;
  _aid->ordinals.reset(new (std::nothrow) std::uint32_t[children + leaves]);
  if (!_aid->ordinals) {
    _aid.reset();
    return;
  }
  _aid->childrenSorted = _children.size();
  _aid->leavesSorted = _leaves.size();
  if (children != 0) Sorted::copyOrdinals(_children, _aid->ordinals.get());
  if (leaves != 0) Sorted::copyOrdinals(_leaves, _aid->ordinals.get() + children);
  _aid->childCount = static_cast<std::uint32_t>(children);
  _aid->leafCount = static_cast<std::uint32_t>(leaves);
}

void* ZoWildcardNode::operator new(std::size_t size, ZoStringtable* table,
                                   const std::nothrow_t&) noexcept {
  return quor::detail::TableMemory::allocate(table, size);
}
void* ZoWildcardNode::operator new(std::size_t size) {
  void* p = quor::detail::TableMemory::allocate(nullptr, size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* ZoWildcardNode::operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return quor::detail::TableMemory::allocate(nullptr, size);
}
void ZoWildcardNode::operator delete(void* p, std::size_t size) noexcept {
  quor::detail::TableMemory::release(p, size);
}
void ZoWildcardNode::operator delete(void* p, ZoStringtable*, const std::nothrow_t&) noexcept {
  quor::detail::TableMemory::release(p, 0);
}
void ZoWildcardNode::operator delete(void* p, const std::nothrow_t&) noexcept {
  quor::detail::TableMemory::release(p, 0);
}

// --- searching ---------------------------------------------------------------

ZoWildcardNode* ZoWildcardNode::_searchChildren(const ZoIndexedString& label) const {
  const std::uint32_t* ordinals = nullptr;
  if (_aid) {
    if (_aid->childCount != 0 && _aid->childCount == _children.size()) {
      ordinals = _aid->ordinals.get();
    } else if (_aid->children.active()) {
      return LookupAid::findByName(_stringtable, _aid->children, label);
    }
  }
  return Sorted::searchSorted(_children, ordinals, _childrenIndexed, label);
}

ZoListedEmailAddress* ZoWildcardNode::_searchLeaves(const ZoIndexedString& name) const {
  const std::uint32_t* ordinals = nullptr;
  if (_aid) {
    if (_aid->leafCount != 0 && _aid->leafCount == _leaves.size()) {
      ordinals = _aid->ordinals.get() + _aid->childCount;
    } else if (_aid->leaves.active()) {
      return LookupAid::findByName(_stringtable, _aid->leaves, name);
    }
  }
  return Sorted::searchSorted(_leaves, ordinals, _leavesIndexed, name);
}

const ZoWildcardNode* ZoWildcardNode::_findMatchingChild(const ZoIndexedString& label) {
  return _searchChildren(label);
}

bool ZoWildcardNode::_matchWildcard(const ZoIndexedString&) { return _wildcardChild != nullptr; }

ZoListedEmailAddress* ZoWildcardNode::_findMatchingLeafNode(const ZoIndexedString& name,
                                                            bool atEnd) {
  return atEnd ? _searchLeaves(name) : nullptr;
}

bool ZoWildcardNode::_matchLeafWildcard(const ZoIndexedString&, bool atEnd) {
  return atEnd && _wildcardLeaf != nullptr;
}

bool ZoWildcardNode::_matchesThisNode(stack& pieces, const ZoIndexedString*& label) {
  if (pieces.empty()) {
    label = nullptr;
    return false;
  }
  label = pieces.top();
  pieces.pop();
  return true;
}

bool ZoWildcardRootNode::_matchesThisNode(stack&, const ZoIndexedString*& label) {
  label = nullptr;
  return true;
}

const ZoWildcardNode* ZoWildcardedWildcardNode::_findMatchingChild(const ZoIndexedString&) {
  return nullptr;
}
bool ZoWildcardedWildcardNode::_matchWildcard(const ZoIndexedString&) { return false; }
ZoListedEmailAddress* ZoWildcardedWildcardNode::_findMatchingLeafNode(const ZoIndexedString& name,
                                                                      bool) {
  return _searchLeaves(name);
}
bool ZoWildcardedWildcardNode::_matchLeafWildcard(const ZoIndexedString&, bool) {
  return _wildcardLeaf != nullptr;
}
bool ZoWildcardedWildcardNode::_matchesThisNode(stack&, const ZoIndexedString*& label) {
  label = nullptr;
  return true;
}

// --- building ----------------------------------------------------------------

bool ZoWildcardNode::_addToLeafVector(ZoListedEmailAddress* leaf) {
  return LookupAid::add(*this, _leaves, leaf, &LookupAid::leaves, &LookupAid::leavesSorted);
}

bool ZoWildcardNode::_addToChildVector(ZoWildcardNode* node) {
  return LookupAid::add(*this, _children, node, &LookupAid::children, &LookupAid::childrenSorted);
}

bool ZoWildcardNode::_addOrModifyLeaf(const ZoIndexedString* name,
                                      const ZoIndexedString* fullAddress,
                                      ZoEmailBelongsTo membership, const char* originalAddress,
                                      std::string* policyOwner) {
  name = subEmpty(name);
  ZoListedEmailAddress* leaf;
  if (isStar(name)) {
    if (_wildcardLeaf == nullptr) {
      _wildcardLeaf = new (_stringtable, std::nothrow) ZoWildcardedEmailAddress(
          _stringtable, subEmpty(fullAddress), ZoStringtable::getConstWildcardIndexedString());
      if (_wildcardLeaf == nullptr) return false;
    }
    leaf = _wildcardLeaf;
    if (originalAddress != nullptr) leaf->setOriginalAddress(originalAddress);
    if (policyOwner == nullptr) {
      leaf->setDirectPolicyOwner(true);
    } else {
      leaf->addRelatedPolicyOwner(policyOwner);
    }
  } else {
    leaf = _findMatchingLeafNode(*name, true);
    if (leaf == nullptr) {
      leaf = new (_stringtable, std::nothrow)
          ZoListedEmailAddress(_stringtable, subEmpty(fullAddress), name);
      if (leaf == nullptr) return false;
      if (!_addToLeafVector(leaf)) {
        delete leaf;
        return false;
      }
    }
    if (originalAddress != nullptr) leaf->setOriginalAddress(originalAddress);
  }
  return leaf->addMembership(membership);
}

bool ZoWildcardNode::addAddressPattern(const ZoIndexedString* fullAddress,
                                       const ZoIndexedString* name, stack& pieces,
                                       ZoEmailBelongsTo membership, const char* originalAddress,
                                       std::string* policyOwner) {
  fullAddress = subEmpty(fullAddress);
  name = subEmpty(name);
  // The descent through plain nodes runs as a loop rather than recursion, so
  // that very long domains cannot exhaust the stack; the labels popped on
  // the way are pushed back at the end.
  ZoPieceStorage popped;
  ZoWildcardNode* node = this;
  bool result = false;
  for (;;) {
    const ZoIndexedString* label = nullptr;
    if (!node->_matchesThisNode(pieces, label)) break;
    if (label != nullptr) popped.push_back(label);
    if (pieces.empty()) {
      result = node->_addOrModifyLeaf(name, fullAddress, membership, originalAddress, policyOwner);
      break;
    }
    const ZoIndexedString* next = subEmpty(pieces.top());
    if (isStar(next)) {
      if (node->_wildcardChild == nullptr) {
        node->_wildcardChild = new (node->_stringtable, std::nothrow) ZoWildcardedWildcardNode(
            node->_stringtable, ZoStringtable::getConstWildcardIndexedString());
        if (node->_wildcardChild == nullptr) break;
      }
      result = node->_wildcardChild->addAddressPattern(fullAddress, name, pieces, membership,
                                                       originalAddress, policyOwner);
      break;
    }
    auto* child = const_cast<ZoWildcardNode*>(node->_findMatchingChild(*next));
    if (child == nullptr) {
      child = new (node->_stringtable, std::nothrow) ZoWildcardNode(node->_stringtable, next);
      if (child == nullptr) break;
      if (!node->_addToChildVector(child)) {
        delete child;
        break;
      }
    }
    node = child;
  }
  while (!popped.empty()) {
    pieces.push(popped.back());
    popped.pop_back();
  }
  return result;
}

bool ZoWildcardedWildcardNode::addAddressPattern(const ZoIndexedString* fullAddress,
                                                 const ZoIndexedString* name, stack&,
                                                 ZoEmailBelongsTo membership,
                                                 const char* originalAddress,
                                                 std::string* policyOwner) {
  return _addOrModifyLeaf(subEmpty(name), subEmpty(fullAddress), membership, originalAddress,
                          policyOwner);
}

bool ZoWildcardNode::addAddressPattern(const char* pattern, ZoEmailBelongsTo membership,
                                       const char* originalAddress, std::string* policyOwner) {
  if (pattern == nullptr) return false;
  // The lower-cased pattern; on the stack unless it is unusually long, since
  // a list load adds patterns by the million.
  const size_t length = std::strlen(pattern);
  char inlineCopy[256];
  std::string heapCopy;
  char* lowered = inlineCopy;
  if (length >= sizeof inlineCopy) {
    heapCopy.resize(length);  // its terminator is the copy's
    lowered = heapCopy.data();
  }
  for (size_t i = 0; i < length; ++i) lowered[i] = lowerAscii(pattern[i]);
  lowered[length] = '\0';
  const ZoIndexedString fullAddress(lowered);
  quor::detail::AddressPieces pieces(_stringtable, pattern, true);
  return addAddressPattern(&fullAddress, pieces.user(), pieces.labels(), membership,
                           originalAddress, policyOwner);
}

// --- matching ----------------------------------------------------------------

void ZoWildcardNode::_walk(const ZoIndexedString* name, stack& pieces, Emit emit, void* context) {
  name = subEmpty(name);
  // Depth first: the exact child's subtree is walked before the wildcard
  // child and the node's own leaves. Only exact children have children, so
  // the walk descends one chain; it records the chain and then settles each
  // node on the way back up, deepest first.
  Frame inlineFrames[32];
  std::vector<Frame> heapFrames;
  size_t depth = 0;
  auto frameAt = [&](size_t i) -> Frame& { return i < 32 ? inlineFrames[i] : heapFrames[i - 32]; };

  ZoWildcardNode* node = this;
  while (node != nullptr) {
    const ZoIndexedString* label = nullptr;
    if (!node->_matchesThisNode(pieces, label)) break;
    const bool atEnd = pieces.empty();
    const Frame f{node, label, atEnd};
    if (depth < 32) {
      inlineFrames[depth] = f;
    } else {
      heapFrames.push_back(f);
    }
    ++depth;
    node = atEnd ? nullptr
                 : const_cast<ZoWildcardNode*>(node->_findMatchingChild(*subEmpty(pieces.top())));
  }
  while (depth > 0) {
    const Frame& f = frameAt(--depth);
    ZoWildcardNode* n = f.node;
    if (!f.atEnd && n->_matchWildcard(*subEmpty(pieces.top())))
      n->_wildcardChild->_walk(name, pieces, emit, context);
    if (ZoListedEmailAddress* leaf = n->_findMatchingLeafNode(*name, f.atEnd)) emit(context, leaf);
    if (n->_matchLeafWildcard(*name, f.atEnd)) emit(context, n->_wildcardLeaf);
    if (f.popped != nullptr) pieces.push(f.popped);
  }
}

std::vector<ZoListedEmailAddress*>& ZoWildcardNode::findMatches(
    const ZoIndexedString* name, stack& pieces, std::vector<ZoListedEmailAddress*>& matches) {
  _walk(
      name, pieces,
      [](void* out, ZoListedEmailAddress* leaf) {
        static_cast<std::vector<ZoListedEmailAddress*>*>(out)->push_back(leaf);
      },
      &matches);
  return matches;
}

std::vector<ZoListedEmailAddress*>& ZoWildcardNode::findMatches(
    const char* address, std::vector<ZoListedEmailAddress*>& matches) {
  quor::detail::AddressPieces pieces(_stringtable, address, true);
  return findMatches(pieces.user(), pieces.labels(), matches);
}

// --- the public parser ---------------------------------------------------------

namespace {
char* newCopy(const char* text, size_t length) {
  char* out = new char[length + 1];
  std::memcpy(out, text, length);
  out[length] = '\0';
  return out;
}

// A piece for `text`: the table's element, else a new wrapper. In allocating
// mode the array behind `text` is freed again when the element is used.
const ZoIndexedString* makePiece(ZoStringtable* table, char* text, bool allocating) {
  if (table == nullptr) return new ZoIndexedString(text);
  const ZoIndexedString* piece = table->getRef(text);
  if (allocating && piece->isInStringtable()) delete[] text;
  return piece;
}
}  // namespace

ZoWildcardNode::stack& ZoWildcardNode::parseAddress(ZoStringtable* table, const char* emailAddress,
                                                    char* allStrings, stack& pieces) {
  if (emailAddress == nullptr) emailAddress = "";
  const bool allocating = (allStrings == nullptr);
  if (allocating) {
    PolicyLog::log(
        PolicyLog::Error,
        "ZoWildcardNode::parseAddress forced to allocate new string space: emailAddress = \"%s\" "
        "allStrings = \"%x\". Memory leak likely as a result; continuing...",
        emailAddress, 0u);
  }
  if (std::strcmp(emailAddress, "*") == 0) {
    emailAddress = "*@*";
    if (allocating) {
      PolicyLog::log(
          PolicyLog::Error,
          "ZoWildcardNode::parseAddress forced to allocate new string space: emailAddress = \"%s\" "
          "allStrings = \"%x\". Memory leak likely as a result; continuing...",
          emailAddress, 0u);
    }
  }
  const size_t length = std::strlen(emailAddress);
  char* copy = allStrings;
  if (!allocating) std::memcpy(copy, emailAddress, length + 1);
  const char* source = allocating ? emailAddress : copy;
  const char* at = std::strchr(source, '@');
  if (at == nullptr) {
    if (table != nullptr) {
      const ZoIndexedString* empty = table->_lookup(std::string_view());
      pieces.push(empty != nullptr ? empty : ZoStringtable::getConstEmptyIndexedString());
    } else {
      pieces.push(new ZoIndexedString(allocating ? newCopy("", 0) : copy + length));
    }
    for (int i = 0; i < 2; ++i) {
      char* whole = allocating ? newCopy(emailAddress, length) : copy;
      pieces.push(makePiece(table, whole, allocating));
    }
    return pieces;
  }
  const size_t userLength = static_cast<size_t>(at - source);
  char* user;
  if (allocating) {
    user = newCopy(source, userLength);
  } else {
    copy[userLength] = '\0';
    user = copy;
  }
  const char* label = at + 1;
  for (;;) {
    const char* end = label;
    while (*end != '\0' && *end != '.') ++end;
    const bool last = (*end == '\0');
    char* text;
    if (allocating) {
      text = newCopy(label, static_cast<size_t>(end - label));
    } else {
      text = copy + (label - source);
      copy[end - source] = '\0';
    }
    for (char* p = text; *p != '\0'; ++p) *p = lowerAscii(*p);
    pieces.push(makePiece(table, text, allocating));
    if (last) break;
    label = end + 1;
  }
  pieces.push(makePiece(table, user, allocating));
  return pieces;
}

const ZoIndexedString* ZoWildcardNode::getEmailAddressName(stack& pieces) {
  if (pieces.empty()) return nullptr;
  const ZoIndexedString* top = pieces.top();
  pieces.pop();
  return top;
}
