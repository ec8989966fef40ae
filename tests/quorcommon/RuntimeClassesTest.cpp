#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "LogMsg.h"
#include "QuorCommonUtil.h"
#include "QuorMutex.h"
#include "QuorThread.h"
#include "ZoObjectPool.h"
#include "ZoTimer.h"
#include "quorcommon/TempRoot.h"
#include "support/LogCapture.h"

namespace {

using quor::test::LogCapture;
using quor::test::TempRoot;

TEST(QuorMutex, LockUnlock_RefusesWrongThreadAndRelock) {
  QUOR::QuorMutex mutex;
  EXPECT_EQ(-1, mutex.Unlock());
  EXPECT_EQ(0, mutex.Lock());
  EXPECT_EQ(-1, mutex.Lock());
  int otherUnlock = 0;
  std::thread([&] { otherUnlock = mutex.Unlock(); }).join();
  EXPECT_EQ(-1, otherUnlock);
  EXPECT_EQ(0, mutex.Unlock());
  EXPECT_EQ(-1, mutex.Unlock());
}

// Two processes add to a counter file under the named lock; no increment may
// be lost.
TEST(QuorNamedMutex, Lock_ExcludesOtherProcesses) {
  TempRoot root;
  const auto counter = root.root() / "counter";
  TempRoot::write(counter, "0");
  constexpr int kRounds = 200;
  auto addRounds = [&] {
    QUOR::QuorNamedMutex mutex("Counter lock/1.a-b");
    for (int i = 0; i < kRounds; ++i) {
      if (mutex.Lock() != 0) return 2;
      TempRoot::write(counter, std::to_string(std::stoi(TempRoot::read(counter)) + 1));
      if (mutex.Unlock() != 0) return 3;
    }
    return 0;
  };
  pid_t children[2] = {quor::test::spawnChild(addRounds), quor::test::spawnChild(addRounds)};
  for (pid_t child : children) EXPECT_EQ(0, quor::test::waitExit(child));
  EXPECT_EQ(std::to_string(2 * kRounds), TempRoot::read(counter));
  QUOR::QuorNamedMutex named("Counter lock/1.a-b");
  EXPECT_EQ((root.root() / "locks" / "Counter_lock_1.a-b.lock").string(), named.getLockFilePath());
  EXPECT_EQ(-1, named.Unlock());
}

TEST(QuorRWLock, ReadLock_CountsReaders) {
  QUOR::QuorRWLock lock;
  EXPECT_EQ(0, lock.readLock());
  EXPECT_EQ(0, lock.readLock());
  EXPECT_EQ(2, lock.readerCount());
  lock.readUnlock();
  lock.readUnlock();
  EXPECT_EQ(0, lock.readerCount());
  EXPECT_EQ(0, lock.writeLock());
  EXPECT_EQ(0, lock.writeUnlock());
}

TEST(LogMsg, PolicyLogMsg_ForwardsUpToItsLevel) {
  QUOR::PolicyLogMsg log;
  LogCapture capture;
  log.logEntry(QUOR::QUOR_LOG_ERROR, "failed %d", 5);
  log.logEntry(QUOR::QUOR_LOG_WARNING, "careful");
  log.logEntry(QUOR::QUOR_LOG_INFO, "info");
  log.logEventEntry("started", 7);
  log.logGenericEventEntry("generic");
  log.logEntry(QUOR::QUOR_LOG_DEBUG, "hidden");
  log.logDebug("f.cpp", "fn", 7, "hidden too");
  log.setLevel(QUOR::QUOR_LOG_DEBUG);
  log.logDebug("f.cpp", "fn", 7, "x=%s", "y");
  const std::vector<quor::test::LogEntry> want = {{1, "failed 5"}, {2, "careful"},
                                                  {4, "info"},     {4, "event 7: started"},
                                                  {4, "generic"},  {4, "f.cpp:7 fn: x=y"}};
  EXPECT_EQ(want, capture.entries()) << quor::test::describe(capture.entries());
  EXPECT_TRUE(log.ok());
}

class ResultThread : public QUOR::Thread {
 public:
  ResultThread(int result, bool detached, bool selfDelete, std::promise<void>* gone)
      : Thread("worker", detached, selfDelete), _result(result), _gone(gone) {}
  ~ResultThread() override {
    if (_gone != nullptr) _gone->set_value();
  }
  int run() override { return _result; }

 private:
  int _result;
  std::promise<void>* _gone;
};

TEST(Thread, StartJoin_ReturnsRunResult) {
  ResultThread thread(7, false, false, nullptr);
  EXPECT_EQ(-1, thread.join());
  EXPECT_EQ(0u, thread.getId());
  ASSERT_TRUE(thread.start());
  EXPECT_FALSE(thread.start());
  EXPECT_NE(0u, thread.getId());
  EXPECT_EQ(7, thread.join());
}

TEST(Thread, DetachedSelfDeletingThread_DeletesItself) {
  std::promise<void> gone;
  ASSERT_TRUE((new ResultThread(1, true, true, &gone))->start());
  gone.get_future().wait();  // the destructor ran; ASan reports a leak otherwise
}

// A timer handler that runs `body` and returns its result.
class Handler final : public QUOR::ZoTimerHander {
 public:
  explicit Handler(std::function<int()> body) : _body(std::move(body)) {}
  int handle() override { return _body(); }

 private:
  std::function<int()> _body;
};

TEST(ZoTimerQueue, Expire_FiresDueTimersInDeadlineOrder) {
  std::vector<std::string> fired;
  auto record = [&fired](const char* name, int result) {
    return [&fired, name, result] {
      fired.push_back(name);
      return result;
    };
  };
  Handler once(record("once", 0)), every(record("every", 0)), stopper(record("stopper", -1));
  QUOR::ZoTimerQueue queue;
  long onceId = queue.schedule(&once, 100, 0, 0);
  queue.schedule(&every, 50, 30, 0);
  queue.schedule(&stopper, 10, 10, 0);
  EXPECT_EQ(onceId, once.getTimerID());
  EXPECT_EQ(10, queue.nextDeadline());
  EXPECT_EQ(0, queue.expire(9));
  EXPECT_EQ(1, queue.expire(10));   // stopper, which cancels itself
  EXPECT_EQ(1, queue.expire(50));   // every
  EXPECT_EQ(2, queue.expire(100));  // every (80), then once (100)
  EXPECT_EQ((std::vector<std::string>{"stopper", "every", "every", "once"}), fired);
  EXPECT_EQ(1u, queue.size());
  EXPECT_FALSE(queue.cancel(onceId));
  EXPECT_EQ(0, queue.schedule(nullptr, 1, 0, 0));
  EXPECT_EQ(0, queue.schedule(&once, -1, 0, 0));
}

// The manager's thread fires a due timer, goes idle, and wakes for the next
// one when notified.
TEST(ZoTimerQueueManager, BackgroundThread_FiresDueTimers) {
  std::promise<std::thread::id> fired[2];
  int firings = 0;
  Handler handler([&] {
    if (firings < 2) fired[firings++].set_value(std::this_thread::get_id());
    return 0;
  });
  QUOR::ZoTimerQueueManager manager;
  QUOR::ZoTimerQueue* queue = manager.getQueue("main");
  EXPECT_EQ(queue, manager.getQueue("main"));
  for (auto& f : fired) {
    std::future<std::thread::id> done = f.get_future();
    queue->schedule(&handler, 0, 0);
    manager.notify();
    ASSERT_EQ(std::future_status::ready, done.wait_for(std::chrono::seconds(30)));
    EXPECT_NE(std::this_thread::get_id(), done.get());
  }
  EXPECT_EQ(0u, queue->size());
}

struct Counted final : QUOR::ZoReusableObject {
  void recycle() override { ++recycled; }
  int recycled = 0;
  bool valid = true;
};

class CountingPool : public QUOR::ZoObjectPool {
 public:
  CountingPool(int init, int max) : ZoObjectPool("counting", init, max, 60) {}
  ~CountingPool() override { clear(); }
  int made = 0;
  int released = 0;
  int expire() { return _releaseExpiryObjects(); }

 protected:
  QUOR::ZoReusableObject* _create() override {
    ++made;
    return new Counted;
  }
  void _release(QUOR::ZoReusableObject* object) override {
    ++released;
    delete static_cast<Counted*>(object);
  }
  bool _isValid(const QUOR::ZoReusableObject* object) override {
    return static_cast<const Counted*>(object)->valid;
  }
};

TEST(ZoObjectPool, GetReturn_ReusesUpToTheLimit) {
  CountingPool pool(1, 2);
  ASSERT_TRUE(pool.init());
  EXPECT_EQ(1, pool.getPoolSize());
  EXPECT_EQ(1, pool.getIdleSize());
  auto* a = pool.getObject();
  auto* b = pool.getObject();
  ASSERT_NE(nullptr, a);
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(nullptr, pool.getObject());
  EXPECT_EQ(2, pool.made);
  EXPECT_TRUE(pool.returnObject(a));
  EXPECT_FALSE(pool.returnObject(nullptr));
  EXPECT_FALSE(pool.returnObject(a));
  EXPECT_EQ(1, static_cast<Counted*>(a)->recycled);
  EXPECT_EQ(a, pool.getObject());
  static_cast<Counted*>(a)->valid = false;
  pool.returnObject(a);
  auto* c = pool.getObject();  // a is invalid: released, a new one made
  EXPECT_EQ(1, pool.released);
  EXPECT_EQ(3, pool.made);
  pool.returnObject(b);
  pool.returnObject(c);
  EXPECT_EQ(2, pool.getIdleSize());
}

TEST(ZoObjectPool, ReleaseExpired_KeepsInitialObjects) {
  CountingPool pool(1, 0);
  QUOR::ZoReusableObject* objects[] = {pool.getObject(), pool.getObject(), pool.getObject()};
  for (auto* o : objects) pool.returnObject(o);
  EXPECT_EQ(0, pool.expire());  // expiry 60 s ahead
  for (auto* o : objects) o->setExpiryTime(1);
  EXPECT_EQ(2, pool.expire());
  EXPECT_EQ(1, pool.getPoolSize());
  EXPECT_EQ(2, pool.released);
  ASSERT_NE(nullptr, pool.getObject());
  pool.returnObject(pool.getObject());
  pool.clear();  // the idle object and the borrowed one
  EXPECT_EQ(4, pool.released);
}

TEST(QuorCommonUtil, IsNumAndIsValidPort_Boundaries) {
  const struct {
    const char* text;
    bool num;
    bool port;
  } cases[] = {
      {nullptr, false, false}, {"", false, false},      {"0", true, false},
      {"1", true, true},       {"65535", true, true},   {"65536", true, false},
      {"00080", true, true},   {"-1", false, false},    {"8o", false, false},
      {"99999999999999999999", true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text != nullptr ? c.text : "(null)");
    EXPECT_EQ(c.num, isNum(c.text));
    EXPECT_EQ(c.port, isValidPort(c.text));
  }
}

}  // namespace
