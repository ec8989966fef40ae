#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "ZoIndexedString.h"
#include "strings/detail/StringtableStore.h"
#include "support/LogCapture.h"

// The array allocations of this program go through malloc, and the nothrow
// ones can be refused: the string table takes its storage blocks that way.
namespace {
bool gRefuseArrays = false;
}  // namespace
void* operator new[](std::size_t n) {
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return gRefuseArrays ? nullptr : std::malloc(n == 0 ? 1 : n);
}
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

using quor::test::LogCapture;
using Strings = std::vector<std::string>;

// Exposes the protected primitives of the table.
class TestTable : public ZoStringtable {
 public:
  using ZoStringtable::_addToStringtable;
  using ZoStringtable::_deepDelete;
  using ZoStringtable::_findInStringtable;
};

constexpr std::uint32_t kUnindexed = 0xFFFFFFFDu;
constexpr std::uint32_t kNotIn = 0xFFFFFFFEu;
constexpr std::uint32_t kPrivate = 0xFFFFFFFFu;

// One handle of each kind: the index word decides the predicates, and
// cleanupReference frees only what the caller owns (the element survives).
TEST(ZoIndexedString, Predicates_FollowTheIndexWordAndCleanupFreesCallerCopies) {
  TestTable table;
  const ZoIndexedString* unindexed = table.getStringtableRef("u");
  ZoIndexedString wrapper("w");
  ZoIndexedString* copy = ZoIndexedString::deepCopy(&wrapper);
  TestTable locked;
  locked.getStringtableRef("o");
  locked.lock();
  struct Case {
    const char* name;
    const ZoIndexedString* h;
    std::uint32_t index;
    bool indexed, unindexedP, inTable, notInTable, privateCopy;
  };
  const Case cases[] = {
      {"ordinal", locked.getRef("o"), 0, true, false, true, false, false},
      {"unindexed element", unindexed, kUnindexed, false, true, true, false, false},
      {"wrapper", &wrapper, kNotIn, false, true, false, true, false},
      {"private copy", copy, kPrivate, false, true, false, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.index, c.h->getIndex());
    EXPECT_EQ(c.indexed, c.h->isIndexed());
    EXPECT_EQ(c.unindexedP, c.h->isUnindexed());
    EXPECT_EQ(c.inTable, c.h->isInStringtable());
    EXPECT_EQ(c.notInTable, c.h->isNotInStringtable());
    EXPECT_EQ(c.privateCopy, c.h->hasPrivateDataCopy());
  }
  EXPECT_TRUE(ZoStringtable::cleanupReference(unindexed));
  EXPECT_TRUE(ZoStringtable::cleanupReference(new ZoIndexedString("heap")));
  EXPECT_TRUE(ZoStringtable::cleanupReference(copy));
  EXPECT_FALSE(ZoStringtable::cleanupReference(static_cast<const ZoIndexedString*>(nullptr)));
  EXPECT_FALSE(ZoStringtable::cleanupReference(static_cast<ZoIndexedString*>(nullptr)));
  const ZoIndexedString* second = ZoIndexedString::deepCopy(&wrapper);
  EXPECT_TRUE(TestTable::_deepDelete(second));
  EXPECT_TRUE(TestTable::_deepDelete(unindexed));
  EXPECT_FALSE(TestTable::_deepDelete(static_cast<const ZoIndexedString*>(nullptr)));
  EXPECT_FALSE(TestTable::_deepDelete(static_cast<ZoIndexedString*>(nullptr)));
  EXPECT_STREQ("u", unindexed->getIdentifier());
}

// Interning is idempotent; a second lock only warns and leaves the
// ordinals; ordinal elements compare by ordinal, against wrappers by text.
TEST(ZoStringtable, Lock_AssignsOrdinalsInSortedOrderOnce) {
  ZoStringtable table;
  for (const char* s : {"\xE9", "a", "z", "Z", "c", ""}) table.getStringtableRef(s);
  // Interning the same text again gives the same element, which holds the
  // table's own copy, through each entry point.
  std::string text = "b";
  const ZoIndexedString* b = table.getStringtableRef(text.c_str());
  const ZoIndexedString wrapper("b");
  EXPECT_EQ(b, table.getStringtableRef("b"));
  EXPECT_EQ(b, table.getStringtableRef(&wrapper));
  EXPECT_EQ(b, &table.getStringtableRef(wrapper));
  EXPECT_NE(text.c_str(), b->getIdentifier());
  EXPECT_EQ(kUnindexed, b->getIndex());
  table.lock();
  LogCapture capture;
  table.lock();
  EXPECT_EQ(Strings{"ZoStringtable::lock: warning: attempt made to lock a locked stringtable. "
                    "Ignoring..."},
            capture.texts(1));
  EXPECT_TRUE(table.isLocked());
  EXPECT_EQ(3u, b->getIndex());  // after "", "Z" and "a"
  EXPECT_EQ(b, table.getRef("b"));
  const ZoIndexedString* a = table.getRef("a");
  const ZoIndexedString wrapperA("a");
  EXPECT_TRUE(*a < *b);
  EXPECT_TRUE(*a == wrapperA);
  EXPECT_TRUE(*a < wrapper);
  EXPECT_TRUE(wrapper > *a);
  EXPECT_FALSE(*b == wrapperA);
}

// A locked table refuses insertion (logged), getStringtableRef quietly looks
// up, and getRef hands out a fresh caller-owned wrapper on a miss.
TEST(ZoStringtable, LockedTable_RefusesInsertionAndFallsBackToLookup) {
  TestTable table;
  const ZoIndexedString* a = table.getStringtableRef("a");
  table.lock();
  LogCapture capture;
  const ZoIndexedString missing("m");
  EXPECT_EQ(nullptr, table._addToStringtable(&missing));
  EXPECT_EQ(Strings{"ZoStringtable::_addToStringtable: warning: an attempt was made to add to a "
                    "locked stringtable and not caught by ZoStringtable::getStringtableRef. "
                    "Data: m, 4294967294."},
            capture.texts(1));
  capture.clear();
  const ZoIndexedString wrapperA("a");
  EXPECT_EQ(a, table.getStringtableRef(&wrapperA));
  EXPECT_EQ(&missing, table.getStringtableRef(&missing));
  EXPECT_EQ(nullptr, table._findInStringtable("m"));
  EXPECT_EQ(&missing, table.getRef(&missing));
  const char* text = "out";
  const ZoIndexedString* first = table.getRef(text);
  const ZoIndexedString* second = table.getRef(text);
  EXPECT_NE(first, second);
  EXPECT_EQ(text, first->getIdentifier());  // the text itself is not copied
  EXPECT_EQ(kNotIn, first->getIndex());
  EXPECT_TRUE(ZoStringtable::cleanupReference(first));
  EXPECT_TRUE(ZoStringtable::cleanupReference(second));
  EXPECT_TRUE(ZoStringtable::cleanupReference(table.getRef("a")));
  EXPECT_STREQ("a", table.getRef("a")->getIdentifier());
  EXPECT_EQ(0u, capture.size()) << quor::test::describe(capture.entries());
}

// Storage that cannot be had: the insertion fails with its messages, the
// caller's handle comes back, and the table works again afterwards.
TEST(ZoStringtable, OutOfMemory_InsertionFailsWithItsMessages) {
  TestTable table;
  LogCapture capture;
  const ZoIndexedString wrapper("x");
  gRefuseArrays = true;
  const ZoIndexedString* refused = table.getStringtableRef(&wrapper);
  gRefuseArrays = false;
  EXPECT_EQ(&wrapper, refused);
  EXPECT_EQ(
      (Strings{"ZoStringtable::_addToStringtable: could not allocate memory for inserting x , "
               "4294967294 into a stringtable. Insertion failed.",
               "ZoStringtable::getStringtableRef(const ZoIndexedString *): could not insert "
               "argument into stringtable : x, 4294967294"}),
      capture.texts(1));
  const ZoIndexedString* element = table.getStringtableRef(&wrapper);
  EXPECT_NE(&wrapper, element);
  EXPECT_EQ(kUnindexed, element->getIndex());
}

TEST(ZoStringtable, NullArguments_AreLoggedExactly) {
  TestTable table;
  LogCapture capture;
  ZoIndexedString nullText(nullptr);
  EXPECT_EQ(nullptr, ZoIndexedString::deepCopy(nullptr));
  EXPECT_EQ(nullptr, ZoIndexedString::deepCopy(&nullText));
  EXPECT_EQ(nullptr, table.getStringtableRef(static_cast<const ZoIndexedString*>(nullptr)));
  EXPECT_EQ(&nullText, table.getStringtableRef(&nullText));
  EXPECT_EQ(nullptr, table.getStringtableRef(static_cast<const char*>(nullptr)));
  EXPECT_EQ(nullptr, table._addToStringtable(static_cast<const ZoIndexedString*>(nullptr)));
  EXPECT_EQ(nullptr, table._findInStringtable(static_cast<const ZoIndexedString*>(nullptr)));
  EXPECT_EQ(nullptr, table._findInStringtable(static_cast<const char*>(nullptr)));
  const ZoIndexedString* h = table.getRef(static_cast<const char*>(nullptr));
  ASSERT_NE(nullptr, h);
  EXPECT_EQ(nullptr, h->getIdentifier());
  EXPECT_TRUE(ZoStringtable::cleanupReference(h));
  const std::string deep =
      "ZoIndexedString::deepCopy: argument or string wrapped by argument is NULL!";
  const std::string byHandle =
      "ZoStringtable::getStringtableRef(const ZoIndexedString *): could not insert argument into "
      "stringtable because the argument or the string it wraps is NULL!";
  const std::string byText =
      "ZoStringtable::_findInStringtable: the search argument (const char *) is NULL!";
  const Strings want = {
      deep,
      deep,
      byHandle,
      byHandle,
      "ZoStringtable::getStringtableRef(const char *): could not insert argument into stringtable "
      "because the argument is NULL!",
      "ZoStringtable::_addToStringtable: the argument for insertion is NULL!",
      "ZoStringtable::_findInStringtable: the search argument (const ZoIndexedString *) is NULL!",
      byText,
      byText};
  EXPECT_EQ(want, capture.texts(1));
}

// The index hash reads every byte, of the eight-byte words and of the tail:
// a hash that skipped some would pile texts into one probe chain.
TEST(ZoStringtable, Hash_DependsOnEveryByte) {
  EXPECT_NE(quor::detail::hashBytes("abcdefgh"), quor::detail::hashBytes("abcdefgX"));
  EXPECT_NE(quor::detail::hashBytes("abc"), quor::detail::hashBytes("abX"));
}

TEST(ZoStringtable, ManyStrings_StayDistinctAndFindable) {
  // Enough strings to grow the hash index several times and to spill texts
  // over many arena blocks; one text is longer than an arena block. Long
  // shared prefixes, texts of exactly eight bytes beside longer ones, and the
  // empty text and bytes above 0x7F, which order as unsigned bytes.
  ZoStringtable table;
  Strings texts = {"abcdefgh", "abcdefghi",    "abcdefg",      "",
                   "\xE9",     "abcdefgh\x80", "abcdefgh\x7f", std::string(100000, 'q')};
  for (int i = 0; i < 20000; ++i) texts.push_back("s" + std::to_string(i * 7919 % 20000));
  for (int i = 0; i < 2000; ++i) texts.push_back("commonprefix-" + std::to_string(i * 7 % 2000));
  std::vector<const ZoIndexedString*> elements;
  for (const auto& t : texts) elements.push_back(table.getStringtableRef(t.c_str()));
  table.lock();
  Strings sorted(texts);
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  for (size_t i = 0; i < sorted.size(); ++i) {
    const ZoIndexedString* e = table.getRef(sorted[i].c_str());
    ASSERT_TRUE(e->isIndexed()) << sorted[i];
    ASSERT_EQ(i, e->getIndex()) << sorted[i];
  }
  for (size_t i = 0; i < texts.size(); ++i) ASSERT_EQ(elements[i], table.getRef(texts[i].c_str()));
}

// Objects given back to a table's arena are handed out again by size, so
// that trees built and destroyed over and over on one long-lived table do
// not make it grow.
TEST(BlockArena, ReleasedObjectsAreReusedBySize) {
  quor::detail::BlockArena arena;
  for (const std::size_t size : {16u, 120u, 136u, 496u}) {
    SCOPED_TRACE(size);
    std::vector<void*> first(1000);
    for (void*& p : first) p = arena.allocateObject(size);
    const std::size_t allocated = arena.allocated();
    for (int round = 0; round < 3; ++round) {
      for (void* p : first) arena.releaseObject(p, size);
      std::vector<void*> again(first.size());
      for (void*& p : again) p = arena.allocateObject(size);
      std::sort(first.begin(), first.end());
      std::sort(again.begin(), again.end());
      ASSERT_EQ(first, again);
      EXPECT_EQ(allocated, arena.allocated());
    }
  }
}

// Tree objects of a table come from its arena, behind a header naming it, and
// go back to their size's free list; without a table they come from the heap.
TEST(BlockArena, TableMemory_GivesTableObjectsBackToTheArena) {
  using quor::detail::TableMemory;
  ZoStringtable table;
  table.getStringtableRef("x");
  for (ZoStringtable* owner : {&table, static_cast<ZoStringtable*>(nullptr)}) {
    SCOPED_TRACE(owner != nullptr ? "table" : "heap");
    void* object = TableMemory::allocate(owner, 40);
    std::memset(object, 0xAB, 40);
    TableMemory::release(object, 40);
    if (owner != nullptr) {
      EXPECT_EQ(object, TableMemory::allocate(owner, 40));  // reused by size
    }
  }
}

}  // namespace
