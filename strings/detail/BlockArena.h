// Memory of one string table and the trees built on it, taken in large
// chunks and given back whole when the table dies.
//
// A table's texts, and the nodes and leaves of the trees that intern into
// it, are made together and die together (the table outlives its trees).
// Carving them out of a few large chunks instead of hundreds of thousands of
// heap blocks means that destroying a generation of lists gives its memory
// back in whole chunks, which a heap returns to the system (a chunk is far
// above the size from which glibc maps a block of its own, as long as a
// program keeps that threshold from rising: the list loader pins it),
// instead of leaving pages that one surviving block keeps resident.
//
// Objects handed back before the arena dies go to a free list of their
// size, so that a long-lived table whose small trees come and go (the
// process-wide one) reuses their memory instead of growing.
//
// Thread safety: a mutex guards every allocation and release, so that
// trees of one table may be destroyed on several threads at once.
#ifndef QUORPOLICY_STRINGS_DETAIL_BLOCKARENA_H_
#define QUORPOLICY_STRINGS_DETAIL_BLOCKARENA_H_

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

class ZoStringtable;

namespace quor::detail {

class BlockArena {
 public:
  BlockArena() = default;
  BlockArena(const BlockArena&) = delete;
  BlockArena& operator=(const BlockArena&) = delete;
  // Frees every chunk.
  ~BlockArena();

  // `bytes` (rounded up to 8) that live as long as the arena; null when
  // the system has no memory left. Guarded.
  unsigned char* allocate(std::size_t bytes) noexcept;

  // An object's memory: from its size's free list or a chunk. Guarded.
  void* allocateObject(std::size_t bytes) noexcept;
  // Puts an object's memory on its size's free list. Guarded.
  void releaseObject(void* p, std::size_t bytes) noexcept;

  // Bytes of all chunks.
  std::size_t allocated() const { return _allocated; }

 private:
  static constexpr std::size_t kChunkBytes = std::size_t{4} << 20;
  static constexpr std::size_t kSizeClasses = 64;  // objects below 512 bytes are reused

  unsigned char* carve(std::size_t bytes) noexcept;

  std::vector<unsigned char*> _chunks;
  unsigned char* _next = nullptr;
  std::size_t _left = 0;
  std::size_t _allocated = 0;
  std::mutex _objects;
  void* _free[kSizeClasses] = {};
};

// Allocation of tree nodes and leaves: from the arena of their table when
// they have one, from the heap otherwise. Each block starts with the arena
// it came from (null for the heap), so that release finds its way back;
// the objects are 8-byte aligned, which is all they need.
class TableMemory {
 public:
  static void* allocate(ZoStringtable* table, std::size_t bytes) noexcept;
  // `bytes` is the object's size; 0 when it is not known (a constructor
  // that threw), and then arena memory waits for the arena's end.
  static void release(void* object, std::size_t bytes) noexcept;
};

}  // namespace quor::detail

#endif  // QUORPOLICY_STRINGS_DETAIL_BLOCKARENA_H_
