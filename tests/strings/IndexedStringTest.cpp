#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ZoIndexedString.h"
#include "support/LogCapture.h"

namespace {

using quor::test::LogCapture;

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

// Builds a handle with a given index word through a locked table or the
// public factories (the index word has no public setter).
TEST(ZoIndexedString, Predicates_FollowTheIndexWord) {
  TestTable table;
  const ZoIndexedString* unindexed = table.getStringtableRef("u");
  ZoIndexedString wrapper("w");
  ZoIndexedString* copy = ZoIndexedString::deepCopy(&wrapper);
  TestTable locked;
  locked.getStringtableRef("o");
  locked.lock();
  const ZoIndexedString* ordinal = locked.getRef("o");

  struct Case {
    const char* name;
    const ZoIndexedString* h;
    std::uint32_t index;
    bool indexed, unindexedP, inTable, notInTable, privateCopy;
  };
  const Case cases[] = {
      {"ordinal", ordinal, 0, true, false, true, false, false},
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
  EXPECT_TRUE(ZoStringtable::cleanupReference(copy));
}

TEST(ZoIndexedString, StaticHandles_AreConstantWrappers) {
  EXPECT_STREQ("", ZoStringtable::getConstEmptyIndexedString()->getIdentifier());
  EXPECT_STREQ("*", ZoStringtable::getConstWildcardIndexedString()->getIdentifier());
  EXPECT_EQ(kNotIn, ZoStringtable::getConstEmptyIndexedString()->getIndex());
  EXPECT_EQ(kNotIn, ZoStringtable::getConstWildcardIndexedString()->getIndex());
  EXPECT_EQ(ZoStringtable::getEmptyIndexedString(), ZoStringtable::getConstEmptyIndexedString());
  EXPECT_EQ(ZoStringtable::getWildcardIndexedString(),
            ZoStringtable::getConstWildcardIndexedString());
}

TEST(ZoIndexedString, DeepCopy_OwnsAPrivateCopy) {
  char text[] = "Com";
  ZoIndexedString wrapper(text);
  ZoIndexedString* copy = ZoIndexedString::deepCopy(&wrapper);
  ASSERT_NE(nullptr, copy);
  EXPECT_NE(text, copy->getIdentifier());
  EXPECT_STREQ("Com", copy->getIdentifier());
  EXPECT_EQ(kPrivate, copy->getIndex());
  text[0] = 'X';  // the copy does not follow the caller's text
  EXPECT_STREQ("Com", copy->getIdentifier());
  EXPECT_TRUE(ZoStringtable::cleanupReference(copy));
}

TEST(ZoIndexedString, DeepCopy_NullArgumentsAreLoggedAndGiveNull) {
  LogCapture capture;
  ZoIndexedString nullText(nullptr);
  EXPECT_EQ(nullptr, ZoIndexedString::deepCopy(nullptr));
  EXPECT_EQ(nullptr, ZoIndexedString::deepCopy(&nullText));
  const std::vector<std::string> want(
      2, "ZoIndexedString::deepCopy: argument or string wrapped by argument is NULL!");
  EXPECT_EQ(want, capture.texts(1));
}

TEST(ZoIndexedString, Compare_IsUnsignedBytewiseWithoutOrdinals) {
  struct Case {
    const char* a;
    const char* b;
    int want;
  };
  const Case cases[] = {
      {"a", "a", 0}, {"a", "b", -1}, {"b", "a", 1},   {"Z", "a", -1},      {"z", "\xE9", -1},
      {"", "a", -1}, {"ab", "a", 1}, {"a", "ab", -1}, {"\x80", "\x7F", 1}, {"", "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    const ZoIndexedString a(c.a);
    const ZoIndexedString b(c.b);
    EXPECT_EQ(c.want, a.explicitCompare(b));
    EXPECT_EQ(c.want, a.explicitCompare(c.b));
    EXPECT_EQ(c.want == 0, a == b);
    EXPECT_EQ(c.want < 0, a < b);
    EXPECT_EQ(c.want <= 0, a <= c.b);
    EXPECT_EQ(c.want > 0, a > c.b);
    EXPECT_EQ(c.want >= 0, a >= b);
    EXPECT_EQ(c.want != 0, a != c.b);
  }
}

TEST(ZoStringtable, Intern_SameTextGivesSameElementAndOneCopy) {
  ZoStringtable table;
  std::string first = "label";
  std::string second = "label";
  const ZoIndexedString* a = table.getStringtableRef(first.c_str());
  const ZoIndexedString* b = table.getStringtableRef(second.c_str());
  EXPECT_EQ(a, b);
  EXPECT_EQ(a->getIdentifier(), b->getIdentifier());
  EXPECT_NE(first.c_str(), a->getIdentifier());  // the table keeps its own copy
  EXPECT_EQ(kUnindexed, a->getIndex());
  const ZoIndexedString wrapper("label");
  EXPECT_EQ(a, table.getStringtableRef(&wrapper));
  EXPECT_EQ(a, &table.getStringtableRef(wrapper));
}

TEST(ZoStringtable, Lock_AssignsOrdinalsInSortedOrder) {
  ZoStringtable table;
  const char* inserted[] = {"b", "\xE9", "a", "z", "Z", "c", ""};
  std::vector<const ZoIndexedString*> elements;
  for (const char* s : inserted) elements.push_back(table.getStringtableRef(s));
  table.lock();
  EXPECT_TRUE(table.isLocked());
  // Unsigned byte order: "" Z a b c z 0xE9.
  struct Case {
    const char* text;
    std::uint32_t ordinal;
  };
  const Case cases[] = {{"", 0}, {"Z", 1}, {"a", 2}, {"b", 3}, {"c", 4}, {"z", 5}, {"\xE9", 6}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const ZoIndexedString* e = table.getRef(c.text);
    EXPECT_EQ(c.ordinal, e->getIndex());
    EXPECT_STREQ(c.text, e->getIdentifier());
  }
  EXPECT_EQ(elements[0], table.getRef("b"));
}

TEST(ZoStringtable, Compare_OrdinalsWhenBothCarryOneTextOtherwise) {
  ZoStringtable table;
  table.getStringtableRef("a");
  table.getStringtableRef("b");
  table.lock();
  const ZoIndexedString* a = table.getRef("a");  // ordinal 0
  const ZoIndexedString* b = table.getRef("b");  // ordinal 1
  const ZoIndexedString wrapperA("a");
  const ZoIndexedString wrapperB("b");
  EXPECT_TRUE(*a < *b);
  EXPECT_TRUE(*a == wrapperA);  // text comparison with a wrapper
  EXPECT_TRUE(*a < wrapperB);
  EXPECT_TRUE(wrapperB > *a);
  EXPECT_FALSE(*b == wrapperA);
}

TEST(ZoStringtable, Lock_SecondLockOnlyWarns) {
  ZoStringtable table;
  table.getStringtableRef("b");
  table.getStringtableRef("a");
  table.lock();
  LogCapture capture;
  table.lock();
  EXPECT_EQ(
      std::vector<std::string>{
          "ZoStringtable::lock: warning: attempt made to lock a locked stringtable. Ignoring..."},
      capture.texts(1));
  EXPECT_EQ(0u, table.getRef("a")->getIndex());
  EXPECT_EQ(1u, table.getRef("b")->getIndex());
}

TEST(ZoStringtable, LockedTable_RefusesInsertionAndFallsBackToLookup) {
  TestTable table;
  const ZoIndexedString* a = table.getStringtableRef("a");
  table.lock();
  LogCapture capture;
  const ZoIndexedString missing("m");
  EXPECT_EQ(nullptr, table._addToStringtable(&missing));
  EXPECT_EQ(
      std::vector<std::string>{
          "ZoStringtable::_addToStringtable: warning: an attempt was made to add to a "
          "locked stringtable and not caught by ZoStringtable::getStringtableRef. Data: m, "
          "4294967294."},
      capture.texts(1));
  capture.clear();
  // getStringtableRef quietly looks up: a hit gives the element, a miss the
  // caller's own handle.
  const ZoIndexedString wrapperA("a");
  EXPECT_EQ(a, table.getStringtableRef(&wrapperA));
  EXPECT_EQ(&missing, table.getStringtableRef(&missing));
  EXPECT_EQ(nullptr, table._findInStringtable("m"));
  EXPECT_EQ(0u, capture.size()) << quor::test::describe(capture.entries());
}

TEST(ZoStringtable, GetRef_MissGivesFreshCallerOwnedWrapper) {
  ZoStringtable table;
  table.getStringtableRef("in");
  table.lock();
  const char* text = "out";
  const ZoIndexedString* first = table.getRef(text);
  const ZoIndexedString* second = table.getRef(text);
  EXPECT_NE(first, second);
  EXPECT_EQ(text, first->getIdentifier());  // the text itself is not copied
  EXPECT_EQ(kNotIn, first->getIndex());
  EXPECT_TRUE(ZoStringtable::cleanupReference(first));
  EXPECT_TRUE(ZoStringtable::cleanupReference(second));
  EXPECT_STREQ("out", text);
  // A hit gives the element, which cleanupReference leaves alone.
  const ZoIndexedString* in = table.getRef("in");
  EXPECT_TRUE(ZoStringtable::cleanupReference(in));
  EXPECT_STREQ("in", table.getRef("in")->getIdentifier());
  const ZoIndexedString wrapper("x");
  EXPECT_EQ(&wrapper, table.getRef(&wrapper));
}

TEST(ZoStringtable, NullArguments_AreLoggedExactly) {
  TestTable table;
  LogCapture capture;
  EXPECT_EQ(nullptr, table.getStringtableRef(static_cast<const ZoIndexedString*>(nullptr)));
  const ZoIndexedString nullText(nullptr);
  EXPECT_EQ(&nullText, table.getStringtableRef(&nullText));
  EXPECT_EQ(nullptr, table.getStringtableRef(static_cast<const char*>(nullptr)));
  EXPECT_EQ(nullptr, table._addToStringtable(static_cast<const ZoIndexedString*>(nullptr)));
  EXPECT_EQ(nullptr, table._findInStringtable(static_cast<const ZoIndexedString*>(nullptr)));
  EXPECT_EQ(nullptr, table._findInStringtable(static_cast<const char*>(nullptr)));
  const ZoIndexedString* h = table.getRef(static_cast<const char*>(nullptr));
  ASSERT_NE(nullptr, h);
  EXPECT_EQ(nullptr, h->getIdentifier());
  EXPECT_TRUE(ZoStringtable::cleanupReference(h));
  const std::vector<std::string> want = {
      "ZoStringtable::getStringtableRef(const ZoIndexedString *): could not insert argument into "
      "stringtable because "
      "the argument or the string it wraps is NULL!",
      "ZoStringtable::getStringtableRef(const ZoIndexedString *): could not insert argument into "
      "stringtable because "
      "the argument or the string it wraps is NULL!",
      "ZoStringtable::getStringtableRef(const char *): could not insert argument into stringtable "
      "because the "
      "argument is NULL!",
      "ZoStringtable::_addToStringtable: the argument for insertion is NULL!",
      "ZoStringtable::_findInStringtable: the search argument (const ZoIndexedString *) is NULL!",
      "ZoStringtable::_findInStringtable: the search argument (const char *) is NULL!",
      "ZoStringtable::_findInStringtable: the search argument (const char *) is NULL!",
  };
  EXPECT_EQ(want, capture.texts(1));
}

TEST(ZoStringtable, CleanupReference_ReleasesWhatTheCallerOwns) {
  ZoStringtable table;
  const ZoIndexedString* element = table.getStringtableRef("e");
  ZoIndexedString source("p");
  ZoIndexedString* copy = ZoIndexedString::deepCopy(&source);
  auto* wrapper = new ZoIndexedString("w");
  EXPECT_TRUE(ZoStringtable::cleanupReference(element));
  EXPECT_TRUE(ZoStringtable::cleanupReference(wrapper));
  EXPECT_TRUE(ZoStringtable::cleanupReference(copy));
  EXPECT_FALSE(ZoStringtable::cleanupReference(static_cast<const ZoIndexedString*>(nullptr)));
  EXPECT_STREQ("e", element->getIdentifier());  // the element survives
}

TEST(ZoStringtable, DeepDelete_FreesTextOfHandlesOutsideTables) {
  TestTable table;
  const ZoIndexedString* element = table.getStringtableRef("e");
  EXPECT_TRUE(TestTable::_deepDelete(element));
  EXPECT_STREQ("e", element->getIdentifier());
  char* text = new char[2]{'t', '\0'};
  EXPECT_TRUE(TestTable::_deepDelete(new ZoIndexedString(text)));  // frees text and handle
  EXPECT_FALSE(TestTable::_deepDelete(new ZoIndexedString(nullptr)));
  EXPECT_FALSE(TestTable::_deepDelete(static_cast<const ZoIndexedString*>(nullptr)));
}

TEST(ZoStringtable, ManyStrings_StayDistinctAndFindable) {
  // Enough strings to grow the hash index several times and to spill texts
  // over many arena blocks; one text is longer than an arena block.
  ZoStringtable table;
  std::vector<std::string> texts;
  for (int i = 0; i < 20000; ++i) texts.push_back("s" + std::to_string(i * 7919 % 20000));
  // Long shared prefixes, and texts of exactly eight bytes beside longer ones.
  for (int i = 0; i < 2000; ++i) texts.push_back("commonprefix-" + std::to_string(i * 7 % 2000));
  for (const char* t : {"abcdefgh", "abcdefghi", "abcdefg", "abcdefgh\x80", "abcdefgh\x7f"})
    texts.emplace_back(t);
  texts.push_back(std::string(100000, 'q'));
  std::vector<const ZoIndexedString*> elements;
  for (const auto& t : texts) elements.push_back(table.getStringtableRef(t.c_str()));
  table.lock();
  std::vector<std::string> sorted(texts);
  std::sort(sorted.begin(), sorted.end());
  sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
  for (size_t i = 0; i < sorted.size(); ++i) {
    const ZoIndexedString* e = table.getRef(sorted[i].c_str());
    ASSERT_TRUE(e->isIndexed()) << sorted[i];
    ASSERT_EQ(i, e->getIndex()) << sorted[i];
  }
  for (size_t i = 0; i < texts.size(); ++i) ASSERT_EQ(elements[i], table.getRef(texts[i].c_str()));
}

}  // namespace
