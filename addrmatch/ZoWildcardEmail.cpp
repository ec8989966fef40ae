#include "ZoWildcardEmail.h"

#include <cstring>
#include <new>

#include "addrmatch/detail/AddressPieces.h"

// Built at load; its constructor registers it on the lock-on-init queue,
// which is created on that first use.
ZoStringtable ZoWildcardEmail::_defaultScanTimeStringtable(512);

ZoWildcardNode* ZoWildcardEmail::makeNewTree() {
  return new (std::nothrow)
      ZoWildcardRootNode(&_defaultScanTimeStringtable, ZoStringtable::getConstEmptyIndexedString());
}

ZoWildcardNode* ZoWildcardEmail::makeNewFloatingTree() {
  return new (std::nothrow)
      ZoWildcardRootNode(nullptr, ZoStringtable::getConstEmptyIndexedString());
}

char* ZoWildcardEmail::allocateNewEmailAddressString(const char* address) {
  if (address == nullptr) address = "";
  if (std::strcmp(address, "*") == 0) return new char[sizeof("*@*")];
  return new char[std::strlen(address) + 1];
}

void ZoWildcardEmail::freeEmailAddressString(char* buffer) { delete[] buffer; }

void ZoWildcardEmail::cleanupDomainStack(ZoWildcardNode::stack* pieces, ZoStringtable*) {
  if (pieces == nullptr) return;
  while (!pieces->empty()) {
    const ZoIndexedString* piece = pieces->top();
    pieces->pop();
    if (piece == nullptr || piece == ZoStringtable::getConstEmptyIndexedString() ||
        piece == ZoStringtable::getConstWildcardIndexedString() || piece->isInStringtable()) {
      continue;
    }
    ZoStringtable::cleanupReference(piece);
  }
}

bool ZoWildcardEmail::isWhitelisted(ZoBlackWhiteListResult r) { return (r & Whitelisted) != 0; }

bool ZoWildcardEmail::isBlacklisted(ZoBlackWhiteListResult r) {
  return (r & Blacklisted) != 0 && (r & Whitelisted) == 0;
}

namespace {

struct Candidate {
  const ZoIndexedString* key;
  std::uint32_t weight;
  ZoEmailBelongsTo membership;
  unsigned long tree;
};

// An insertion-ordered list of candidates that keeps its first entries
// inside the object; matching an address allocates nothing in the common case.
template <class T, size_t N>
class SmallList {
 public:
  size_t size() const { return _size; }
  bool empty() const { return _size == 0; }
  T& operator[](size_t i) { return i < N ? _inline[i] : _heap[i - N]; }
  void push_back(const T& v) {
    if (_size < N) {
      _inline[_size] = v;
    } else {
      _heap.push_back(v);
    }
    ++_size;
  }
  void clear() {
    _size = 0;
    _heap.clear();
  }
  // Removes every element for which pred holds, keeping the order.
  template <class Pred>
  void eraseIf(Pred pred) {
    size_t kept = 0;
    for (size_t i = 0; i < _size; ++i) {
      if (!pred((*this)[i])) {
        T v = (*this)[i];
        (*this)[kept++] = v;
      }
    }
    if (kept <= N)
      _heap.clear();
    else
      _heap.resize(kept - N);
    _size = kept;
  }

 private:
  T _inline[N];
  std::vector<T> _heap;
  size_t _size = 0;
};

using LeafList = SmallList<ZoListedEmailAddress*, 32>;
using CandidateList = SmallList<Candidate, 8>;

void appendLeaf(void* list, ZoListedEmailAddress* leaf) {
  static_cast<LeafList*>(list)->push_back(leaf);
}

// The first candidate with the greatest weight; weight 0 for an empty list.
const Candidate* heaviest(CandidateList& list) {
  const Candidate* best = nullptr;
  for (size_t i = 0; i < list.size(); ++i) {
    if (best == nullptr || list[i].weight > best->weight) best = &list[i];
  }
  return best;
}

}  // namespace

ZoBlackWhiteListResult ZoWildcardEmail::matchEmailAddress(const char* address,
                                                          std::vector<ZoWildcardNode*>& trees,
                                                          unsigned long* matchedTreeIndex,
                                                          const char** matchedPattern,
                                                          ZoEmailBelongsTo* matchedMembership) {
  Candidate bestWhite{nullptr, 0, static_cast<ZoEmailBelongsTo>(0), 0};
  Candidate bestBlack{nullptr, 0, static_cast<ZoEmailBelongsTo>(0), 0};
  CandidateList overrideableBlack;
  CandidateList overrideableWhite;
  LeafList leaves;
  // Trees that share a string table (all trees of makeNewTree do) share one
  // parse of the address.
  quor::detail::AddressPieces pieces;

  for (size_t t = 0; t < trees.size(); ++t) {
    ZoWildcardNode* tree = trees[t];
    if (tree == nullptr) continue;
    leaves.clear();
    if (!pieces.parsed() || pieces.table() != tree->_stringtable)
      pieces.parse(tree->_stringtable, address, true);
    tree->_walk(pieces.user(), pieces.labels(), appendLeaf, &leaves);
    for (size_t i = 0; i < leaves.size(); ++i) {
      const ZoListedEmailAddress* leaf = leaves[i];
      const Candidate c{leaf->getFullAddressAsPtr(), leaf->getWeight(), leaf->getMembership(), t};
      switch (static_cast<std::uint32_t>(c.membership)) {
        case NonOverrideableWhitelist:
          if (c.weight > bestWhite.weight) bestWhite = c;
          break;
        case NonOverrideableBlacklist:
          if (c.weight > bestBlack.weight) bestBlack = c;
          break;
        case OverrideableBlacklist:
          overrideableBlack.push_back(c);
          break;
        case OverrideableWhitelist:
          overrideableWhite.push_back(c);
          break;
        case WhitelistSubtraction:
          overrideableWhite.eraseIf(
              [&c](const Candidate& x) { return x.key->_internalCompare(*c.key) == 0; });
          break;
        case BlacklistSubtraction:
          overrideableBlack.eraseIf(
              [&c](const Candidate& x) { return x.key->_internalCompare(*c.key) == 0; });
          break;
        default:
          break;
      }
    }
    if (bestWhite.weight > 0 || bestBlack.weight > 0) break;
  }

  std::uint32_t result = NotListed;
  const Candidate* decider = nullptr;
  if (bestBlack.weight > 0) {
    if (bestBlack.weight == bestWhite.weight) {
      result = EqualWeightWhitelisted;
      decider = &bestWhite;
    } else if (bestBlack.weight > bestWhite.weight) {
      result = Blacklisted;
      decider = &bestBlack;
    } else {
      result = Whitelisted;
      decider = &bestWhite;
    }
    if (bestWhite.weight > 0) result |= BothNonOverrideableListsMatched;
  } else if (bestWhite.weight > 0) {
    result = Whitelisted;
    decider = &bestWhite;
  } else if (!overrideableBlack.empty() || !overrideableWhite.empty()) {
    const Candidate* black = heaviest(overrideableBlack);
    const Candidate* white = heaviest(overrideableWhite);
    const std::uint32_t bw = black != nullptr ? black->weight : 0;
    const std::uint32_t ww = white != nullptr ? white->weight : 0;
    if (bw == ww) {
      result = EqualWeightWhitelisted;
      decider = white;
    } else if (bw > ww) {
      result = Blacklisted;
      decider = black;
    } else {
      result = Whitelisted;
      decider = white;
    }
  }

  if (matchedTreeIndex != nullptr) *matchedTreeIndex = decider != nullptr ? decider->tree : 0;
  if (matchedPattern != nullptr)
    *matchedPattern = decider != nullptr ? decider->key->getIdentifier() : nullptr;
  if (matchedMembership != nullptr) {
    *matchedMembership =
        decider != nullptr ? decider->membership : static_cast<ZoEmailBelongsTo>(0);
  }
  return static_cast<ZoBlackWhiteListResult>(result);
}
