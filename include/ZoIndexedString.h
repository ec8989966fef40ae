// ZoIndexedString and ZoStringtable: interned strings compared by ordinal.
//
// A ZoIndexedString is a two-word handle: a pointer to NUL-terminated text and
// a 32-bit index word. The index word is either an ordinal (the text is an
// element of a locked table, at that position of the table's sorted order) or
// one of the reserved values below, which say who owns the text:
//   UNINDEXED_IN_STRINGTABLE  an element of a table, no ordinal: the table;
//   NOT_IN_STRINGTABLE        a plain wrapper: whoever supplied the text;
//   PRIVATE_DATA_COPY         a heap copy: the handle (release it with
//                             ZoStringtable::cleanupReference).
// Two handles that both carry an ordinal compare by ordinal, all others by
// their bytes taken as unsigned. Ordinals of one table agree with its text
// order; ordinals of two different tables must never be compared.
//
// A ZoStringtable keeps one private copy of each distinct text and hands out
// pointers to its own elements, valid until the table is destroyed. While
// unlocked it interns; lock() numbers the elements in ascending text order and
// freezes the table, which from then on only answers look-ups.
//
// Thread safety: interning and lock() belong to one thread. A locked table is
// never modified by look-ups (misses return new caller-owned handles), so any
// number of threads may look strings up at once.
#ifndef QUORPOLICY_INCLUDE_ZOINDEXEDSTRING_H_
#define QUORPOLICY_INCLUDE_ZOINDEXEDSTRING_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "QuorExport.h"
#include "ZoLockableClass.h"

namespace quor::detail {
class StringtableStore;
class AddressPieces;
class TableMemory;
}  // namespace quor::detail

class QUORPOLICY_API ZoIndexedString {
 public:
  static constexpr std::uint32_t INDEX_LIMIT = 0xFFFFFFFCu;
  static constexpr std::uint32_t UNINDEXED_IN_STRINGTABLE = 0xFFFFFFFDu;
  static constexpr std::uint32_t NOT_IN_STRINGTABLE = 0xFFFFFFFEu;
  static constexpr std::uint32_t PRIVATE_DATA_COPY = 0xFFFFFFFFu;

  // Wraps `s` without copying it (NOT_IN_STRINGTABLE).
  constexpr ZoIndexedString(const char* s) : identifier(s), index(NOT_IN_STRINGTABLE) {}
  // Copies share the text; nothing is duplicated.
  constexpr ZoIndexedString(const ZoIndexedString&) = default;
  ZoIndexedString& operator=(const ZoIndexedString&) = default;

  const char* getIdentifier() const { return identifier; }
  std::uint32_t getIndex() const { return index; }

  bool isIndexed() const { return index < UNINDEXED_IN_STRINGTABLE; }
  bool isUnindexed() const { return index >= UNINDEXED_IN_STRINGTABLE; }
  bool isInStringtable() const { return index < NOT_IN_STRINGTABLE; }
  bool isNotInStringtable() const { return index >= NOT_IN_STRINGTABLE; }
  bool hasPrivateDataCopy() const { return index == PRIVATE_DATA_COPY; }

  // By ordinal when both carry one, else by unsigned bytes.
  bool operator==(const ZoIndexedString& o) const { return _internalCompare(o) == 0; }
  bool operator!=(const ZoIndexedString& o) const { return _internalCompare(o) != 0; }
  bool operator<(const ZoIndexedString& o) const { return _internalCompare(o) < 0; }
  bool operator<=(const ZoIndexedString& o) const { return _internalCompare(o) <= 0; }
  bool operator>(const ZoIndexedString& o) const { return _internalCompare(o) > 0; }
  bool operator>=(const ZoIndexedString& o) const { return _internalCompare(o) >= 0; }
  // By unsigned bytes, ordinals ignored. A null text sorts as "".
  bool operator==(const char* s) const { return explicitCompare(s) == 0; }
  bool operator!=(const char* s) const { return explicitCompare(s) != 0; }
  bool operator<(const char* s) const { return explicitCompare(s) < 0; }
  bool operator<=(const char* s) const { return explicitCompare(s) <= 0; }
  bool operator>(const char* s) const { return explicitCompare(s) > 0; }
  bool operator>=(const char* s) const { return explicitCompare(s) >= 0; }

  // -1, 0 or 1 from the unsigned bytes of the two texts, ordinals ignored.
  int explicitCompare(const ZoIndexedString& o) const;
  int explicitCompare(const char* s) const;

  // A new heap handle (PRIVATE_DATA_COPY) owning a copy of the text; release
  // it with ZoStringtable::cleanupReference. Null, with a level-1 message,
  // when `s` or its text is null.
  static ZoIndexedString* deepCopy(const ZoIndexedString* s);

 protected:
  // -1, 0 or 1: by ordinal when both carry one, else by unsigned bytes.
  int _internalCompare(const ZoIndexedString& o) const {
    if (index < UNINDEXED_IN_STRINGTABLE && o.index < UNINDEXED_IN_STRINGTABLE) {
      return (index > o.index) - (index < o.index);
    }
    return _compareText(o);
  }

 private:
  friend class ZoStringtable;
  friend class ZoIndexedStringNamedClass;
  friend class ZoListedEmailAddress;
  friend class ZoWildcardNode;
  friend class ZoWildcardEmail;
  friend class quor::detail::StringtableStore;
  friend class quor::detail::AddressPieces;

  void _setIndex(unsigned long i) { index = static_cast<std::uint32_t>(i); }
  int _compareText(const ZoIndexedString& o) const;
  // Frees a private copy and turns the handle into a wrapper; false for a
  // null text.
  bool _explicitCleanupString();

  const char* identifier;
  std::uint32_t index;
};

static_assert(sizeof(std::uint32_t) == 4, "the index word is 32 bits wide");

class QUORPOLICY_API ZoStringtable : public ZoLockableClass {
 public:
  // An empty, unlocked table, registered for lock-on-init. The size hint has
  // no effect.
  explicit ZoStringtable(unsigned int sizeHint = 512);
  // Frees every text the table holds; element pointers die with it.
  ~ZoStringtable() override;
  // Copies would share their texts with the source.
  ZoStringtable(const ZoStringtable&) = delete;
  ZoStringtable& operator=(const ZoStringtable&) = delete;

  // Unlocked: interns `s` and returns the table's element (or `s` itself,
  // logged, when it cannot be inserted). Locked: the element holding the text,
  // or `s` itself on a miss. A null `s` or text is logged and returned as is.
  const ZoIndexedString* getStringtableRef(const ZoIndexedString* s);
  // As above for a text. Null for a null `s` (logged). Locked: as getRef.
  // Unlocked, when the text cannot be interned: a new caller-owned wrapper.
  const ZoIndexedString* getStringtableRef(const char* s);
  // The element, or `s` itself.
  const ZoIndexedString& getStringtableRef(const ZoIndexedString& s);

  // Look-up only: the element holding the text of `s`, or `s` itself.
  const ZoIndexedString* getRef(const ZoIndexedString* s) const;
  // Look-up only: the element, or a new caller-owned wrapper around `s`
  // (NOT_IN_STRINGTABLE) that must be released with cleanupReference.
  const ZoIndexedString* getRef(const char* s) const;

  // Releases what the caller owns of `h`: nothing for a table element, the
  // handle for a wrapper, handle and text for a private copy. False for a
  // null `h` and for a private copy without text.
  static bool cleanupReference(const ZoIndexedString* h);
  static bool cleanupReference(ZoIndexedString* h);

  // Numbers the elements in ascending text order and freezes the table.
  void lock() override;

  static ZoIndexedString* getEmptyIndexedString();
  static const ZoIndexedString* getConstEmptyIndexedString();
  static ZoIndexedString* getWildcardIndexedString();
  static const ZoIndexedString* getConstWildcardIndexedString();

 protected:
  // Releases a handle that is in no table together with its text.
  static bool _deepDelete(const ZoIndexedString* h);
  static bool _deepDelete(ZoIndexedString* h);

  const ZoIndexedString* _addToStringtable(const ZoIndexedString* s);
  const ZoIndexedString* _addToStringtable(const char* s);
  const ZoIndexedString* _findInStringtable(const ZoIndexedString* s) const;
  const ZoIndexedString* _findInStringtable(const char* s) const;

 private:
  friend class quor::detail::AddressPieces;
  friend class quor::detail::TableMemory;
  friend class ZoWildcardNode;
  friend class ZoWildcardEmail;

  // The element holding exactly these bytes, or null. Never allocates,
  // never logs; safe on a locked table from any thread.
  const ZoIndexedString* _lookup(std::string_view text) const noexcept;

  std::unique_ptr<quor::detail::StringtableStore> _store;

  // Constant-initialised (constinit at their definitions): usable from any
  // static constructor, never destroyed before other statics.
  static ZoIndexedString _theEmptyIndexedString;
  static ZoIndexedString _theWildcardIndexedString;
};

#endif  // QUORPOLICY_INCLUDE_ZOINDEXEDSTRING_H_
