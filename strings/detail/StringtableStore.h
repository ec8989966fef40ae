// The storage behind ZoStringtable: each element handle sits in an arena
// block directly in front of its own text, and an open-addressing hash index
// on the text finds it.
//
// Elements never move and are never removed before the store dies, so the
// pointers ZoStringtable hands out stay valid. Keeping the handle next to its
// text means a look-up that hits touches one index slot and usually one cache
// line for handle and text together. The index serves both de-duplication
// while interning and every look-up after the lock.
#ifndef QUORPOLICY_STRINGS_DETAIL_STRINGTABLESTORE_H_
#define QUORPOLICY_STRINGS_DETAIL_STRINGTABLESTORE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "ZoIndexedString.h"
#include "strings/detail/BlockArena.h"

namespace quor::detail {

// 64-bit hash of a byte string (multiply-mix over 8-byte words).
std::uint64_t hashBytes(std::string_view text) noexcept;

class StringtableStore {
 public:
  StringtableStore() = default;
  StringtableStore(const StringtableStore&) = delete;
  StringtableStore& operator=(const StringtableStore&) = delete;

  // The element with exactly these bytes, or null.
  ZoIndexedString* find(std::string_view text) const noexcept;
  // The element with these bytes; a new one (`inserted` set) when there was
  // none. Null when memory ran out.
  ZoIndexedString* findOrInsert(std::string_view text, bool& inserted);

  // Gives the elements the ordinals 0, 1, ... in ascending unsigned byte
  // order of their texts, at most `limit` of them (the rest keep theirs).
  // Returns how many were numbered.
  size_t numberInByteOrder(std::uint32_t limit);

  // Sizes the index to the elements there are, for a table that is not
  // going to grow any more (it still may; the index then grows again).
  void fitIndex();

  size_t size() const { return _count; }
  // Calls f(element) for every element, in no particular order. The
  // elements are read a few slots ahead of the call, so that a pass over a
  // large table waits for memory once rather than once per element.
  template <class F>
  void forEach(F&& f) const {
    constexpr size_t kAhead = 16;
    for (size_t i = 0; i < _slotCount; ++i) {
      if (i + kAhead < _slotCount && _slots[i + kAhead].ref != 0)
        __builtin_prefetch(element(_slots[i + kAhead].ref));
      if (_slots[i].ref != 0) f(*element(_slots[i].ref));
    }
  }

  // Turns every element into a wrapper of nothing and forgets the texts;
  // their memory goes back with the arena.
  void releaseAll() noexcept;

  // Where the texts live, and the nodes and leaves of the table's trees.
  BlockArena& arena() { return _arena; }

 private:
  // An element's place: arena block (high bits) and offset in 8-byte units
  // (low bits), plus one so that 0 marks an empty slot.
  static constexpr unsigned kOffsetBits = 13;
  static constexpr size_t kBlockBytes = size_t{8} << kOffsetBits;  // 64 KiB
  static constexpr std::uint32_t kMaxBlocks = (std::uint32_t{1} << (32 - kOffsetBits)) - 1;

  // The high 32 bits of an element's hash decide its first slot (scaled to
  // the slot count) and are kept in the slot, so that the index is rebuilt
  // without reading a text and any slot count will do.
  struct Slot {
    std::uint32_t ref;  // place plus one; 0 marks an empty slot
    std::uint32_t tag;  // high bits of the hash
  };
  size_t home(std::uint32_t tag) const {
    return static_cast<size_t>((std::uint64_t{tag} * _slotCount) >> 32);
  }
  size_t nextSlot(size_t i) const { return i + 1 == _slotCount ? 0 : i + 1; }
  // The slot holding `text`, or the empty slot where it would go.
  size_t probe(std::string_view text, std::uint32_t tag) const noexcept;

  ZoIndexedString* element(std::uint32_t ref) const {
    const std::uint32_t place = ref - 1;
    return reinterpret_cast<ZoIndexedString*>(_blocks[place >> kOffsetBits] +
                                              size_t{place & ((1u << kOffsetBits) - 1)} * 8);
  }
  // Room for an element and its text; the place is returned in `ref`.
  unsigned char* allocate(size_t bytes, std::uint32_t& ref);
  void resizeIndex(size_t slots);
  void placeInIndex(std::uint32_t ref, std::uint32_t tag);

  // Declared first: destroyed after everything that points into it.
  BlockArena _arena;
  std::vector<unsigned char*> _blocks;  // in _arena
  std::uint32_t _current = 0;           // block being filled (valid when _used < kBlockBytes)
  size_t _used = kBlockBytes;           // bytes used in the current block
  size_t _count = 0;
  std::unique_ptr<Slot[]> _slots;
  size_t _slotCount = 0;  // 0 while there is no index
};

}  // namespace quor::detail

#endif  // QUORPOLICY_STRINGS_DETAIL_STRINGTABLESTORE_H_
