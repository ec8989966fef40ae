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
  // Adds a new element (UNINDEXED_IN_STRINGTABLE) with a copy of the text.
  // REQUIRES: find(text) is null. Null when memory ran out.
  ZoIndexedString* insert(std::string_view text);

  size_t size() const { return _count; }
  // Calls f(element) for every element, in no particular order.
  template <class F>
  void forEach(F&& f) const {
    for (size_t i = 0; _mask != 0 && i <= _mask; ++i) {
      if (_slots[i].ref != 0) f(*element(_slots[i].ref));
    }
  }

  // Turns every element into a wrapper of nothing and frees the texts.
  void releaseAll() noexcept;

 private:
  // An element's place: arena block (high bits) and offset in 8-byte units
  // (low bits), plus one so that 0 marks an empty slot.
  static constexpr unsigned kOffsetBits = 13;
  static constexpr size_t kBlockBytes = size_t{8} << kOffsetBits;  // 64 KiB
  static constexpr std::uint32_t kMaxBlocks = (std::uint32_t{1} << (32 - kOffsetBits)) - 1;

  struct Slot {
    std::uint32_t ref;  // place plus one; 0 marks an empty slot
    std::uint32_t tag;  // high bits of the hash
  };

  ZoIndexedString* element(std::uint32_t ref) const {
    const std::uint32_t place = ref - 1;
    return reinterpret_cast<ZoIndexedString*>(_blocks[place >> kOffsetBits].get() +
                                              size_t{place & ((1u << kOffsetBits) - 1)} * 8);
  }
  // Room for an element and its text; the place is returned in `ref`.
  unsigned char* allocate(size_t bytes, std::uint32_t& ref);
  void growIndex();
  void placeInIndex(std::uint32_t ref, std::uint64_t hash);

  std::vector<std::unique_ptr<unsigned char[]>> _blocks;
  std::uint32_t _current = 0;  // block being filled (valid when _used < kBlockBytes)
  size_t _used = kBlockBytes;  // bytes used in the current block
  size_t _count = 0;
  std::unique_ptr<Slot[]> _slots;
  size_t _mask = 0;  // slot count minus one, or 0 while there is no index
};

}  // namespace quor::detail

#endif  // QUORPOLICY_STRINGS_DETAIL_STRINGTABLESTORE_H_
