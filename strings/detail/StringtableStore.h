// The storage behind ZoStringtable: stable element handles in chunks, their
// texts in an arena, and an open-addressing hash index on the text.
//
// Elements never move and are never removed before the store dies, so the
// pointers ZoStringtable hands out stay valid. The hash index serves both the
// de-duplication while interning and every look-up after the lock; a look-up
// costs one hash of the text and, on a hit, usually one text comparison.
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
  // Calls f(element) for every element in insertion order.
  template <class F>
  void forEach(F&& f) {
    for (size_t i = 0; i < _count; ++i) f(*at(i));
  }
  ZoIndexedString* at(size_t i) const {
    return const_cast<ZoIndexedString*>(&_chunks[i >> kChunkBits][i & (kChunkSize - 1)]);
  }

  // Frees every text and turns every element into a wrapper of nothing.
  void releaseAll() noexcept;

 private:
  static constexpr size_t kChunkBits = 10;
  static constexpr size_t kChunkSize = size_t{1} << kChunkBits;
  static constexpr size_t kArenaBlock = 64 * 1024;

  struct Slot {
    std::uint32_t position;  // element position plus one; 0 marks an empty slot
    std::uint32_t tag;       // high bits of the hash
  };

  char* copyText(std::string_view text);
  void growIndex();
  void placeInIndex(std::uint32_t position, std::uint64_t hash);

  // Each chunk is reserved to kChunkSize up front and never reallocates.
  std::vector<std::vector<ZoIndexedString>> _chunks;
  size_t _count = 0;
  std::vector<std::unique_ptr<char[]>> _arena;
  size_t _arenaUsed = kArenaBlock;
  std::unique_ptr<Slot[]> _slots;
  size_t _mask = 0;  // slot count minus one, or 0 while there is no index
};

}  // namespace quor::detail

#endif  // QUORPOLICY_STRINGS_DETAIL_STRINGTABLESTORE_H_
