#include "strings/detail/BlockArena.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <new>

#include "ZoIndexedString.h"
#include "strings/detail/StringtableStore.h"

namespace quor::detail {

namespace {

// Every block is 8-byte aligned, as the chunk is (and more).
constexpr std::size_t round8(std::size_t bytes) { return (bytes + 7) & ~std::size_t{7}; }

// A chunk of `bytes`, asked of the heap as one array (which a heap hands out
// as a mapping of its own at this size). The 2 MiB-aligned part of it may be
// backed with huge pages: a generation's build then faults far less often.
unsigned char* newChunk(std::size_t bytes) noexcept {
  auto* p = new (std::nothrow) unsigned char[bytes];
#ifdef MADV_HUGEPAGE
  if (p != nullptr && bytes >= (std::size_t{4} << 20)) {
    constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
    const auto start = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t first = (start + kHuge - 1) & ~(kHuge - 1);
    const std::uintptr_t last = (start + bytes) & ~(kHuge - 1);
    if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
  }
#endif
  return p;
}

}  // namespace

BlockArena::~BlockArena() {
  for (unsigned char* chunk : _chunks) delete[] chunk;
}

unsigned char* BlockArena::carve(std::size_t bytes) noexcept {
  bytes = round8(bytes);
  const bool own = bytes > kChunkBytes / 4;
  if (own || bytes > _left) {
    // A large block gets a chunk of its own; the current chunk stays.
    const std::size_t size = own ? bytes : kChunkBytes;
    try {
      _chunks.reserve(_chunks.size() + 1);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
    unsigned char* chunk = newChunk(size);
    if (chunk == nullptr) return nullptr;
    _chunks.push_back(chunk);
    _allocated += size;
    if (own) return chunk;
    _next = chunk;
    _left = kChunkBytes;
  }
  unsigned char* out = _next;
  _next += bytes;
  _left -= bytes;
  return out;
}

unsigned char* BlockArena::allocate(std::size_t bytes) noexcept {
  std::lock_guard<std::mutex> lock(_objects);
  return carve(bytes);
}

void* BlockArena::allocateObject(std::size_t bytes) noexcept {
  bytes = round8(bytes);
  const std::size_t cls = bytes / 8;
  std::lock_guard<std::mutex> lock(_objects);
  if (cls < kSizeClasses && _free[cls] != nullptr) {
    void* p = _free[cls];
    _free[cls] = *static_cast<void**>(p);
    return p;
  }
  return carve(bytes);
}

void BlockArena::releaseObject(void* p, std::size_t bytes) noexcept {
  const std::size_t cls = round8(bytes) / 8;
  if (p == nullptr || cls >= kSizeClasses) return;  // larger ones wait for the arena's end
  std::lock_guard<std::mutex> lock(_objects);
  *static_cast<void**>(p) = _free[cls];
  _free[cls] = p;
}

namespace {
// In front of every node and leaf: the arena its memory came from, null
// for the heap.
using BlockHeader = BlockArena*;
}  // namespace

void* TableMemory::allocate(ZoStringtable* table, std::size_t bytes) noexcept {
  const std::size_t total = sizeof(BlockHeader) + bytes;
  BlockArena* arena = table != nullptr && table->_store ? &table->_store->arena() : nullptr;
  void* p = arena != nullptr ? arena->allocateObject(total) : nullptr;
  if (p == nullptr) {
    arena = nullptr;
    p = std::malloc(total);
    if (p == nullptr) return nullptr;
  }
  auto* header = static_cast<BlockHeader*>(p);
  *header = arena;
  return header + 1;
}

void TableMemory::release(void* object, std::size_t bytes) noexcept {
  if (object == nullptr) return;
  BlockHeader* header = static_cast<BlockHeader*>(object) - 1;
  if (*header == nullptr) {
    std::free(header);
  } else if (bytes != 0) {
    (*header)->releaseObject(header, sizeof(BlockHeader) + bytes);
  }
}

}  // namespace quor::detail
