#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ZoIndexedString.h"
#include "ZoLockableClass.h"
#include "ZoWildcardEmail.h"
#include "strings/detail/LockOnInitQueue.h"
#include "support/LogCapture.h"

// Reaches the private registration of the queue, to place null entries.
class ZoWildcardEmailTestPeer {
 public:
  static void add(ZoLockableClass* object) { ZoWildcardEmail::_addToLockOnInit(object); }
};

namespace {

using quor::test::LogCapture;

constexpr std::uint32_t kPrivate = 0xFFFFFFFFu;

// Records the order in which objects are locked.
class Recorder : public ZoLockableClass {
 public:
  Recorder(std::vector<std::string>* log, std::string name, bool lockOnInit = true)
      : ZoLockableClass(lockOnInit), _log(log), _tag(std::move(name)) {}
  void lock() override {
    _lock();
    _log->push_back(_tag);
  }

 private:
  std::vector<std::string>* _log;
  std::string _tag;
};

// A named object with its protected helpers exposed.
class Named : public ZoIndexedStringNamedClass {
 public:
  using ZoIndexedStringNamedClass::_inferName;
  using ZoIndexedStringNamedClass::ZoIndexedStringNamedClass;
};

size_t pending() { return quor::detail::LockOnInitQueue::instance().pending(); }

// Registered objects lock in registration order; null entries are skipped
// with an error, destroyed objects leave the queue, unregistered ones stay
// unlocked, a second pass finds the queue empty, and a cleared queue locks
// nothing.
TEST(ZoLockableClass, InitScanTimeMode_LocksLiveEntriesInFifoOrder) {
  ZoWildcardEmail::clearLockOnInitQueue();
  std::vector<std::string> order;
  ZoStringtable table;  // a table locks without recording; check it separately
  Recorder a(&order, "a");
  ZoWildcardEmailTestPeer::add(nullptr);
  auto b = std::make_unique<Recorder>(&order, "b");
  Recorder c(&order, "c");
  auto d = std::make_unique<Recorder>(&order, "d");
  Recorder unregistered(&order, "unregistered", false);
  b.reset();
  d.reset();  // the last entry
  Recorder e(&order, "e");
  EXPECT_EQ(5u, pending());
  LogCapture capture;
  ZoWildcardEmail::initScanTimeMode();
  EXPECT_TRUE(table.isLocked());
  EXPECT_EQ((std::vector<std::string>{"a", "c", "e"}), order);
  EXPECT_FALSE(unregistered.isLocked());
  EXPECT_EQ(
      std::vector<std::string>{
          "ZoWildcardEmail::initScanTimeMode has found a NULL pointer on the _lockOnInit queue."},
      capture.texts(1));
  ZoWildcardEmail::initScanTimeMode();
  EXPECT_EQ(3u, order.size());
  // Clearing drops entries, a null one too, without locking them.
  Recorder f(&order, "f");
  ZoStringtable cleared;
  ZoWildcardEmailTestPeer::add(nullptr);
  ZoWildcardEmail::clearLockOnInitQueue();
  ZoWildcardEmail::initScanTimeMode();
  EXPECT_EQ(3u, order.size());
  EXPECT_FALSE(f.isLocked());
  EXPECT_FALSE(cleared.isLocked());
}

TEST(ZoLockableClass, Destroyed_ManyShortLivedObjectsLeaveNoEntries) {
  // Building and destroying registered objects without ever draining must
  // keep the queue proportional to the live objects, whatever the order
  // (here neither FIFO nor LIFO).
  ZoWildcardEmail::clearLockOnInitQueue();
  std::vector<std::string> order;
  Recorder keep(&order, "keep");
  for (int round = 0; round < 50; ++round) {
    std::vector<std::unique_ptr<Recorder>> batch;
    for (int i = 0; i < 1000; ++i) batch.push_back(std::make_unique<Recorder>(&order, "t"));
    for (size_t i = 0; i < batch.size(); i += 2) batch[i].reset();
    ASSERT_EQ(501u, pending());
    // Most of the queue is tombstones now: it is compacted, and the count
    // of entries still to lock stays that of the live objects.
    for (size_t i = 1; i + 20 < batch.size(); i += 2) batch[i].reset();
    ASSERT_EQ(11u, pending());
    for (size_t i = 1; i < batch.size(); i += 2) batch[i].reset();
  }
  Recorder last(&order, "last");
  EXPECT_EQ(2u, pending());
  ZoWildcardEmail::initScanTimeMode();
  EXPECT_EQ((std::vector<std::string>{"keep", "last"}), order);
}

TEST(ZoIndexedStringNamedClass, Construct_OwnershipFollowsTheTable) {
  ZoWildcardEmail::clearLockOnInitQueue();
  // No table: a private copy.
  Named floating(nullptr, "Com");
  EXPECT_EQ(kPrivate, floating.getNameAsPtr()->getIndex());
  EXPECT_STREQ("Com", floating.getNameAsStr());
  // Unlocked table: the table's element, shared.
  ZoStringtable table;
  Named one(&table, "net");
  const ZoIndexedString text("net");
  Named two(&table, &text);
  EXPECT_EQ(one.getNameAsPtr(), two.getNameAsPtr());
  EXPECT_EQ(table.getRef("net"), one.getNameAsPtr());
  // A name already interned is shared, not copied.
  Named shared(&table, table.getStringtableRef("net"));
  EXPECT_EQ(one.getNameAsPtr(), shared.getNameAsPtr());
  // Locked table without the text: a private copy, never the caller's text.
  table.lock();
  std::string caller = "org";
  Named three(&table, caller.c_str());
  EXPECT_EQ(kPrivate, three.getNameAsPtr()->getIndex());
  EXPECT_NE(caller.c_str(), three.getNameAsStr());
  const ZoIndexedString wrapper("org");
  Named four(&table, &wrapper);
  EXPECT_EQ(kPrivate, four.getNameAsPtr()->getIndex());
  EXPECT_NE(&wrapper, four.getNameAsPtr());
  // Locked table with the text: the element.
  Named five(&table, "net");
  EXPECT_EQ(one.getNameAsPtr(), five.getNameAsPtr());
  EXPECT_EQ(0u, five.getNameAsPtr()->getIndex());
}

// A null name gives the shared empty handle. With a table, the table refuses
// the name (and a name given as text is copied first) and the comparison of
// the refused name speaks too; without one only the copy does. The table's and
// the copy's messages are read where their calls are the subject.
TEST(ZoIndexedStringNamedClass, Construct_NullNamesGiveTheEmptyHandle) {
  ZoWildcardEmail::clearLockOnInitQueue();
  ZoStringtable table;
  struct Case {
    bool withTable, byText;
    size_t errors;
  };
  const Case cases[] = {{true, false, 2}, {true, true, 3}, {false, false, 1}, {false, true, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.withTable ? "table, " : "no table, ") +
                 (c.byText ? "const char *" : "const ZoIndexedString *"));
    ZoStringtable* t = c.withTable ? &table : nullptr;
    LogCapture capture;
    auto named = c.byText
                     ? std::make_unique<Named>(t, static_cast<const char*>(nullptr))
                     : std::make_unique<Named>(t, static_cast<const ZoIndexedString*>(nullptr));
    EXPECT_EQ(ZoStringtable::getConstEmptyIndexedString(), named->getNameAsPtr());
    const std::vector<std::string> errors = capture.texts(1);
    EXPECT_EQ(c.errors, errors.size()) << quor::test::describe(capture.entries());
    if (c.withTable && !c.byText) {
      EXPECT_EQ("ZoListedEmailAddress - _returnCopyIfSameAs: predicate is NULL; cmp is NULL.",
                errors.back());
    }
    capture.clear();
    named.reset();  // must not free the shared empty handle
    EXPECT_EQ(0u, capture.size()) << quor::test::describe(capture.entries());
  }
}

// Every comparison of a handle or a named object, against a text, a handle or
// another named object, follows the unsigned byte order of the texts.
TEST(ZoIndexedStringNamedClass, Compare_FollowsByteOrderOfNames) {
  const std::pair<const char*, const char*> pairs[] = {{"ab", "ac"}, {"ab", "ab"},     {"ac", "ab"},
                                                       {"a", "ab"},  {"\x80", "\x7F"}, {"", ""}};
  auto all = [](const auto& x, const auto& y) {
    return std::vector<bool>{x == y, x != y, x<y, x <= y, x> y, x >= y};
  };
  for (const auto& [a, b] : pairs) {
    SCOPED_TRACE(std::string(a) + " vs " + b);
    const int c = std::string(a).compare(b);
    const std::vector<bool> want{c == 0, c != 0, c<0, c <= 0, c> 0, c >= 0};
    const Named named(nullptr, a);
    const Named other(nullptr, b);
    const ZoIndexedString handle(b);
    const ZoIndexedString left(a);
    EXPECT_EQ(c < 0 ? -1 : (c > 0 ? 1 : 0), left.explicitCompare(handle));
    EXPECT_EQ(want, all(left, b));
    EXPECT_EQ(want, all(left, handle));
    EXPECT_EQ(want, all(named, b));
    EXPECT_EQ(want, all(named, handle));
    EXPECT_EQ(want, all(named, other));
  }
}

TEST(ZoIndexedStringNamedClass, InferName_TakesTextBeforeFirstAtSign) {
  struct Case {
    const char* address;
    const char* want;
  };
  const Case cases[] = {{"u@a.b", "u"}, {"plain", "plain"}, {"@a", ""}, {"a@b@c", "a"}, {"", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.address);
    std::unique_ptr<char[]> got(Named::_inferName(c.address));
    EXPECT_STREQ(c.want, got.get());
  }
}

}  // namespace
