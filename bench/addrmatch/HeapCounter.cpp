// Replaced global allocation functions that count live bytes.
#include "bench/addrmatch/HeapCounter.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<std::int64_t> gLiveBytes{0};

void* counted(void* p) {
  if (p != nullptr) gLiveBytes.fetch_add(static_cast<std::int64_t>(::malloc_usable_size(p)), std::memory_order_relaxed);
  return p;
}

void release(void* p) noexcept {
  if (p == nullptr) return;
  gLiveBytes.fetch_sub(static_cast<std::int64_t>(::malloc_usable_size(p)), std::memory_order_relaxed);
  std::free(p);
}

void* plain(std::size_t n) { return counted(std::malloc(n == 0 ? 1 : n)); }

void* aligned(std::size_t n, std::align_val_t a) {
  const auto align = static_cast<std::size_t>(a);
  const std::size_t rounded = ((n == 0 ? 1 : n) + align - 1) / align * align;
  return counted(std::aligned_alloc(align, rounded));
}

}  // namespace

namespace quor::bench {
std::int64_t liveNewBytes() { return gLiveBytes.load(std::memory_order_relaxed); }
std::int64_t mallocInUse() {
  const struct mallinfo2 mi = ::mallinfo2();
  return static_cast<std::int64_t>(mi.uordblks + mi.hblkhd);
}
}  // namespace quor::bench

void* operator new(std::size_t n) {
  if (void* p = plain(n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
  if (void* p = plain(n)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return plain(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return plain(n); }
void* operator new(std::size_t n, std::align_val_t a) {
  if (void* p = aligned(n, a)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n, std::align_val_t a) {
  if (void* p = aligned(n, a)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept { return aligned(n, a); }
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept { return aligned(n, a); }

void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete(void* p, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { release(p); }
