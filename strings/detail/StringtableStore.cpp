#include "strings/detail/StringtableStore.h"

#include <cstring>
#include <new>

namespace quor::detail {

namespace {
inline std::uint64_t load64(const char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline std::uint64_t mix(std::uint64_t a, std::uint64_t b) {
  const unsigned __int128 r = static_cast<unsigned __int128>(a) * b;
  return static_cast<std::uint64_t>(r) ^ static_cast<std::uint64_t>(r >> 64);
}
constexpr std::uint64_t kSeed0 = 0xa0761d6478bd642full;
constexpr std::uint64_t kSeed1 = 0xe7037ed1a0b428dbull;
}  // namespace

std::uint64_t hashBytes(std::string_view text) noexcept {
  const char* p = text.data();
  size_t n = text.size();
  std::uint64_t h = kSeed0 ^ n;
  while (n >= 8) {
    h = mix(h ^ load64(p), kSeed1);
    p += 8;
    n -= 8;
  }
  if (n > 0) {
    std::uint64_t tail = 0;
    std::memcpy(&tail, p, n);
    h = mix(h ^ tail, kSeed1 ^ n);
  }
  return mix(h, kSeed0);
}

ZoIndexedString* StringtableStore::find(std::string_view text) const noexcept {
  if (_mask == 0) return nullptr;
  if (text.data() == nullptr) text = std::string_view("", 0);
  const std::uint64_t h = hashBytes(text);
  const auto tag = static_cast<std::uint32_t>(h >> 32);
  for (size_t i = h & _mask;; i = (i + 1) & _mask) {
    const Slot& slot = _slots[i];
    if (slot.ref == 0) return nullptr;
    if (slot.tag == tag) {
      ZoIndexedString* e = element(slot.ref);
      const char* t = e->identifier;
      if (std::strncmp(t, text.data(), text.size()) == 0 && t[text.size()] == '\0') return e;
    }
  }
}

unsigned char* StringtableStore::allocate(size_t bytes, std::uint32_t& ref) {
  bytes = (bytes + 7) & ~size_t{7};
  if (bytes > kBlockBytes / 4) {
    // A long text gets a block of its own; the current block stays current.
    if (_blocks.size() >= kMaxBlocks) return nullptr;
    _blocks.emplace_back(new (std::nothrow) unsigned char[bytes]);
    if (!_blocks.back()) {
      _blocks.pop_back();
      return nullptr;
    }
    ref = (static_cast<std::uint32_t>(_blocks.size() - 1) << kOffsetBits) + 1;
    return _blocks.back().get();
  }
  if (_used + bytes > kBlockBytes) {
    if (_blocks.size() >= kMaxBlocks) return nullptr;
    _blocks.emplace_back(new (std::nothrow) unsigned char[kBlockBytes]);
    if (!_blocks.back()) {
      _blocks.pop_back();
      return nullptr;
    }
    _current = static_cast<std::uint32_t>(_blocks.size() - 1);
    _used = 0;
  }
  unsigned char* out = _blocks[_current].get() + _used;
  ref = (_current << kOffsetBits) + static_cast<std::uint32_t>(_used / 8) + 1;
  _used += bytes;
  return out;
}

void StringtableStore::placeInIndex(std::uint32_t ref, std::uint64_t hash) {
  for (size_t i = hash & _mask;; i = (i + 1) & _mask) {
    if (_slots[i].ref == 0) {
      _slots[i] = Slot{ref, static_cast<std::uint32_t>(hash >> 32)};
      return;
    }
  }
}

void StringtableStore::growIndex() {
  const size_t slots = _mask == 0 ? 64 : (_mask + 1) * 2;
  std::unique_ptr<Slot[]> old = std::move(_slots);
  const size_t oldCount = _mask == 0 ? 0 : _mask + 1;
  _slots.reset(new Slot[slots]());
  _mask = slots - 1;
  for (size_t i = 0; i < oldCount; ++i) {
    if (old[i].ref != 0) placeInIndex(old[i].ref, hashBytes(element(old[i].ref)->identifier));
  }
}

ZoIndexedString* StringtableStore::insert(std::string_view text) {
  if (text.data() == nullptr) text = std::string_view("", 0);
  // Keep the load factor at or below 0.7; grow before placing anything.
  if (_mask == 0 || (_count + 1) * 10 > (_mask + 1) * 7) growIndex();
  std::uint32_t ref = 0;
  unsigned char* place = allocate(sizeof(ZoIndexedString) + text.size() + 1, ref);
  if (place == nullptr) return nullptr;
  char* copy = reinterpret_cast<char*>(place + sizeof(ZoIndexedString));
  if (!text.empty()) std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  auto* e = new (place) ZoIndexedString(copy);
  e->index = ZoIndexedString::UNINDEXED_IN_STRINGTABLE;
  placeInIndex(ref, hashBytes(text));
  ++_count;
  return e;
}

void StringtableStore::releaseAll() noexcept {
  forEach([](ZoIndexedString& e) {
    e.identifier = nullptr;
    e.index = ZoIndexedString::NOT_IN_STRINGTABLE;
  });
  _slots.reset();
  _mask = 0;
  _count = 0;
  _blocks.clear();
  _used = kBlockBytes;
}

}  // namespace quor::detail
