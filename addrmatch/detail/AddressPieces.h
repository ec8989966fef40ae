// AddressPieces: the parse of one address for the matcher's own use.
//
// The same pieces parseAddress pushes (domain labels left to right, the user
// part last, the no-at-sign and "*" rules included), but without a heap
// allocation for an ordinary address: the lower-cased copy lives in an inline
// buffer, and the wrappers for pieces that are not interned live in an inline
// array owned by this object (so nothing has to be released piece by piece).
// Look-ups never insert and never log, so a locked table may be shared by any
// number of threads parsing at once.
#ifndef QUORPOLICY_ADDRMATCH_DETAIL_ADDRESSPIECES_H_
#define QUORPOLICY_ADDRMATCH_DETAIL_ADDRESSPIECES_H_

#include <cstddef>
#include <memory>
#include <string>

#include "ZoIndexedString.h"
#include "ZoWildcardNode.h"

namespace quor::detail {

// ASCII A to Z lower-cased; every other byte as it is.
inline char lowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether a piece is exactly "*".
inline bool isStar(const ZoIndexedString* s) {
  const char* t = s->getIdentifier();
  return t != nullptr && t[0] == '*' && t[1] == '\0';
}

class AddressPieces {
 public:
  // Parses `address` (null reads as ""). With lowerAll the whole text is
  // lower-cased first (what findMatches and addAddressPattern do); the labels
  // are lower-cased in any case. `table` may be null.
  AddressPieces(const ZoStringtable* table, const char* address, bool lowerAll) {
    parse(table, address, lowerAll);
  }
  // Holds no parse until parse() is called.
  AddressPieces() = default;
  // Replaces the current parse.
  void parse(const ZoStringtable* table, const char* address, bool lowerAll);
  bool parsed() const { return _user != nullptr; }
  AddressPieces(const AddressPieces&) = delete;
  AddressPieces& operator=(const AddressPieces&) = delete;

  // The user part (never null).
  const ZoIndexedString* user() const { return _user; }
  // The domain labels: the rightmost on top. Walks pop and push them but
  // leave the stack as they found it.
  ZoWildcardNode::stack& labels() { return _labels; }
  const ZoStringtable* table() const { return _table; }

 private:
  const ZoIndexedString* piece(const char* text, size_t length);

  static constexpr size_t kInlineText = 256;
  static constexpr size_t kInlineHandles = 12;

  const ZoStringtable* _table = nullptr;
  char* _pieces = nullptr;  // the (lower-cased) address, cut into pieces
  const ZoIndexedString* _user = nullptr;
  ZoWildcardNode::stack _labels;
  ZoIndexedString* _handles = nullptr;
  size_t _handleCount = 0;
  char _inlineText[kInlineText];
  alignas(ZoIndexedString) unsigned char _inlineHandles[kInlineHandles * sizeof(ZoIndexedString)];
  std::string _heapText;
  std::unique_ptr<unsigned char[]> _heapHandles;
};

}  // namespace quor::detail

#endif  // QUORPOLICY_ADDRMATCH_DETAIL_ADDRESSPIECES_H_
