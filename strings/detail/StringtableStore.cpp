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
    if (slot.position == 0) return nullptr;
    if (slot.tag == tag) {
      ZoIndexedString* e = at(slot.position - 1);
      const char* t = e->identifier;
      if (std::strncmp(t, text.data(), text.size()) == 0 && t[text.size()] == '\0') return e;
    }
  }
}

char* StringtableStore::copyText(std::string_view text) {
  const size_t need = text.size() + 1;
  char* out;
  if (need > kArenaBlock / 4) {
    _arena.emplace_back(new (std::nothrow) char[need]);
    out = _arena.back().get();
    // Keep filling the current block: move the big block below it.
    if (_arena.size() >= 2) std::swap(_arena[_arena.size() - 1], _arena[_arena.size() - 2]);
  } else {
    if (_arenaUsed + need > kArenaBlock) {
      _arena.emplace_back(new (std::nothrow) char[kArenaBlock]);
      if (!_arena.back()) {
        _arena.pop_back();
        return nullptr;
      }
      _arenaUsed = 0;
    }
    out = _arena.back().get() + _arenaUsed;
    _arenaUsed += need;
  }
  if (out == nullptr) return nullptr;
  if (!text.empty()) std::memcpy(out, text.data(), text.size());
  out[text.size()] = '\0';
  return out;
}

void StringtableStore::placeInIndex(std::uint32_t position, std::uint64_t hash) {
  for (size_t i = hash & _mask;; i = (i + 1) & _mask) {
    if (_slots[i].position == 0) {
      _slots[i] = Slot{position, static_cast<std::uint32_t>(hash >> 32)};
      return;
    }
  }
}

void StringtableStore::growIndex() {
  const size_t slots = _mask == 0 ? 64 : (_mask + 1) * 2;
  _slots.reset(new Slot[slots]());
  _mask = slots - 1;
  for (size_t i = 0; i < _count; ++i) {
    const char* t = at(i)->identifier;
    placeInIndex(static_cast<std::uint32_t>(i + 1), hashBytes(t));
  }
}

ZoIndexedString* StringtableStore::insert(std::string_view text) {
  // Positions are stored as 32-bit values in the index.
  if (_count >= 0xFFFFFFF0u) return nullptr;
  char* copy = copyText(text);
  if (copy == nullptr) return nullptr;
  if ((_count >> kChunkBits) == _chunks.size()) {
    _chunks.emplace_back();
    _chunks.back().reserve(kChunkSize);
  }
  ZoIndexedString e(copy);
  e.index = ZoIndexedString::UNINDEXED_IN_STRINGTABLE;
  _chunks.back().push_back(e);
  ++_count;
  // Keep the load factor at or below 0.7.
  if (_mask == 0 || _count * 10 > (_mask + 1) * 7) {
    growIndex();
  } else {
    placeInIndex(static_cast<std::uint32_t>(_count), hashBytes(text));
  }
  return at(_count - 1);
}

void StringtableStore::releaseAll() noexcept {
  for (auto& chunk : _chunks) {
    for (auto& e : chunk) {
      e.identifier = nullptr;
      e.index = ZoIndexedString::NOT_IN_STRINGTABLE;
    }
  }
  _arena.clear();
  _arenaUsed = kArenaBlock;
  _slots.reset();
  _mask = 0;
}

}  // namespace quor::detail
