#include "strings/detail/StringtableStore.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

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

size_t StringtableStore::probe(std::string_view text, std::uint32_t tag) const noexcept {
  for (size_t i = home(tag);; i = nextSlot(i)) {
    const Slot& slot = _slots[i];
    if (slot.ref == 0) return i;
    if (slot.tag == tag) {
      const char* t = element(slot.ref)->identifier;
      if (std::strncmp(t, text.data(), text.size()) == 0 && t[text.size()] == '\0') return i;
    }
  }
}

ZoIndexedString* StringtableStore::find(std::string_view text) const noexcept {
  if (_slotCount == 0) return nullptr;
  if (text.data() == nullptr) text = std::string_view("", 0);
  const Slot& slot = _slots[probe(text, static_cast<std::uint32_t>(hashBytes(text) >> 32))];
  return slot.ref == 0 ? nullptr : element(slot.ref);
}

unsigned char* StringtableStore::allocate(size_t bytes, std::uint32_t& ref) {
  bytes = (bytes + 7) & ~size_t{7};
  if (bytes > kBlockBytes / 4) {
    // A long text gets a block of its own; the current block stays current.
    if (_blocks.size() >= kMaxBlocks) return nullptr;
    unsigned char* own = _arena.allocate(bytes);
    if (own == nullptr) return nullptr;
    _blocks.push_back(own);
    ref = (static_cast<std::uint32_t>(_blocks.size() - 1) << kOffsetBits) + 1;
    return own;
  }
  if (_used + bytes > kBlockBytes) {
    if (_blocks.size() >= kMaxBlocks) return nullptr;
    unsigned char* block = _arena.allocate(kBlockBytes);
    if (block == nullptr) return nullptr;
    _blocks.push_back(block);
    _current = static_cast<std::uint32_t>(_blocks.size() - 1);
    _used = 0;
  }
  unsigned char* out = _blocks[_current] + _used;
  ref = (_current << kOffsetBits) + static_cast<std::uint32_t>(_used / 8) + 1;
  _used += bytes;
  return out;
}

void StringtableStore::placeInIndex(std::uint32_t ref, std::uint32_t tag) {
  for (size_t i = home(tag);; i = nextSlot(i)) {
    if (_slots[i].ref == 0) {
      _slots[i] = Slot{ref, tag};
      return;
    }
  }
}

void StringtableStore::resizeIndex(size_t slots) {
  std::unique_ptr<Slot[]> old = std::move(_slots);
  const size_t oldCount = _slotCount;
  _slots.reset(new Slot[slots]());
  _slotCount = slots;
  // The new homes are scattered over the new index: ask for each a few
  // elements before it is written.
  constexpr size_t kAhead = 8;
  for (size_t i = 0; i < oldCount; ++i) {
    if (i + kAhead < oldCount && old[i + kAhead].ref != 0)
      __builtin_prefetch(&_slots[home(old[i + kAhead].tag)], 1);
    if (old[i].ref != 0) placeInIndex(old[i].ref, old[i].tag);
  }
}

size_t StringtableStore::numberInByteOrder(std::uint32_t limit) {
  // Sorting on the first eight bytes as a big-endian integer settles almost
  // every comparison without touching the texts; texts are distinct, so
  // equal prefixes mean both texts go on past them.
  struct Keyed {
    std::uint64_t prefix;
    ZoIndexedString* element;
  };
  std::vector<Keyed> keyed;
  keyed.reserve(_count);
  forEach([&keyed](ZoIndexedString& e) {
    std::uint64_t prefix = 0;
    const auto* t = reinterpret_cast<const unsigned char*>(e.identifier);
    for (int i = 0; i < 8 && t[i] != 0; ++i) prefix |= std::uint64_t{t[i]} << (56 - 8 * i);
    keyed.push_back(Keyed{prefix, &e});
  });
  std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    if (a.element == b.element) return false;
    return std::strcmp(a.element->identifier + 8, b.element->identifier + 8) < 0;
  });
  // Sorted order is scattered in memory: each element is asked for a few
  // numbers before it is written.
  constexpr size_t kAhead = 16;
  const size_t numbered = std::min<size_t>(keyed.size(), limit);
  for (size_t i = 0; i < numbered; ++i) {
    if (i + kAhead < numbered) __builtin_prefetch(keyed[i + kAhead].element, 1);
    keyed[i].element->index = static_cast<std::uint32_t>(i);
  }
  return numbered;
}

void StringtableStore::fitIndex() {
  // At most 0.7 full, as while growing: the index serves every look-up of
  // the matcher, misses included.
  const size_t slots = std::max<size_t>(64, _count * 10 / 7 + 1);
  if (_slotCount == 0 || slots >= _slotCount) return;
  try {
    resizeIndex(slots);
  } catch (const std::bad_alloc&) {
    // The larger index stays.
  }
}

ZoIndexedString* StringtableStore::findOrInsert(std::string_view text, bool& inserted) {
  inserted = false;
  if (text.data() == nullptr) text = std::string_view("", 0);
  // Keep the load factor at or below 0.7; grow before placing anything.
  if (_slotCount == 0 || (_count + 1) * 10 > _slotCount * 7) {
    resizeIndex(_slotCount == 0 ? 64 : _slotCount * 2);
  }
  const auto tag = static_cast<std::uint32_t>(hashBytes(text) >> 32);
  const size_t at = probe(text, tag);
  if (_slots[at].ref != 0) return element(_slots[at].ref);
  std::uint32_t ref = 0;
  unsigned char* place = allocate(sizeof(ZoIndexedString) + text.size() + 1, ref);
  if (place == nullptr) return nullptr;
  char* copy = reinterpret_cast<char*>(place + sizeof(ZoIndexedString));
  if (!text.empty()) std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  auto* e = new (place) ZoIndexedString(copy);
  e->index = ZoIndexedString::UNINDEXED_IN_STRINGTABLE;
  _slots[at] = Slot{ref, tag};
  ++_count;
  inserted = true;
  return e;
}

void StringtableStore::releaseAll() noexcept {
  forEach([](ZoIndexedString& e) {
    e.identifier = nullptr;
    e.index = ZoIndexedString::NOT_IN_STRINGTABLE;
  });
  _slots.reset();
  _slotCount = 0;
  _count = 0;
  _blocks.clear();
  _used = kBlockBytes;
}

}  // namespace quor::detail
