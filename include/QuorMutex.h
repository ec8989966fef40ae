// Locks of the common runtime library.
//
//  - QuorBaseMutex: the interface (Lock/Unlock return 0 on success).
//  - QuorNullMutex: does nothing, for code that is configured single-threaded.
//  - QuorMutex: a lock within one process. Not recursive: Lock by the thread
//    that holds it, and Unlock by a thread that does not, return -1.
//  - QuorNamedMutex: a lock shared by every process that uses the same name
//    (an advisory lock on "<QUOR_HOME>/locks/<name>.lock", or on
//    "<temp folder>/quor-<name>.lock" when QUOR_HOME is unset). It is released
//    when its holder unlocks, is destroyed or its process ends.
//  - QuorRWLock: a reader/writer lock with a count of the readers inside.
//  - Mutex: a plain lock whose lock/unlock are reached through MutexGuard.
//
// Locks cannot be copied. All operations may be called from any thread.
#ifndef QUORPOLICY_INCLUDE_QUORMUTEX_H_
#define QUORPOLICY_INCLUDE_QUORMUTEX_H_

#include <atomic>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>

#include "QuorExport.h"

namespace QUOR {

class QUOR_COMMON_API QuorBaseMutex {
 public:
  QuorBaseMutex() {}
  QuorBaseMutex(const QuorBaseMutex&) = delete;
  QuorBaseMutex& operator=(const QuorBaseMutex&) = delete;
  virtual ~QuorBaseMutex() {}
  virtual int Lock() = 0;
  virtual int Unlock() = 0;
};

class QUOR_COMMON_API QuorNullMutex : public QuorBaseMutex {
 public:
  QuorNullMutex() {}
  ~QuorNullMutex() override {}
  int Lock() override { return 0; }
  int Unlock() override { return 0; }
};

class QUOR_COMMON_API QuorMutex : public QuorBaseMutex {
 public:
  QuorMutex() {}
  ~QuorMutex() override;
  // Blocks until held. Returns 0, or -1 when the calling thread holds it.
  int Lock() override;
  // Returns 0, or -1 when the calling thread does not hold it.
  int Unlock() override;
  // True when the calling thread holds the lock.
  bool isHeldByCurrentThread() const { return _owner.load() == std::this_thread::get_id(); }

 private:
  std::mutex _mutex;
  std::atomic<std::thread::id> _owner{};
};

class QUOR_COMMON_API QuorNamedMutex : public QuorBaseMutex {
 public:
  // `name` may hold any characters; those other than letters, digits, '.',
  // '-' and '_' become '_' in the lock file's name. Null means "default".
  explicit QuorNamedMutex(const char* name);
  ~QuorNamedMutex() override;
  // Blocks until no other holder in any process has the name. Returns 0, -1
  // when this object is already held by the calling thread, or the errno of
  // the lock file (logged).
  int Lock() override;
  // Returns 0, or -1 when the calling thread does not hold it.
  int Unlock() override;
  // The lock file in use.
  const char* getLockFilePath() const { return _path.c_str(); }

 private:
  struct FileHandle;
  std::string _path;
  QuorMutex _local;  // orders the threads of this process that share the object
  std::unique_ptr<FileHandle> _file;
};

class QUOR_COMMON_API QuorRWLock {
 public:
  QuorRWLock() {}
  QuorRWLock(const QuorRWLock&) = delete;
  QuorRWLock& operator=(const QuorRWLock&) = delete;
  ~QuorRWLock() {}
  // Shared access; many readers at once. Return 0.
  int readLock();
  int readUnlock();
  // Exclusive access. Return 0.
  int writeLock();
  int writeUnlock();
  // Readers inside at this moment.
  int readerCount();

 private:
  int _readers = 0;    // guarded by _countMutex
  QuorMutex _countMutex;
  std::shared_mutex _rw;
};

class QUOR_COMMON_API Mutex {
 public:
  Mutex() {}
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;
  virtual ~Mutex() {}
  // True once the lock exists (always, for this implementation).
  virtual bool ok() { return _created; }

 private:
  friend class MutexGuard;
  virtual bool lock();
  virtual bool unlock();

  std::mutex _mutex;
  bool _created = true;
};

// Holds a Mutex for its lifetime.
class QUOR_COMMON_API MutexGuard {
 public:
  explicit MutexGuard(Mutex& mutex) : _mutex(mutex), _held(mutex.lock()) {}
  ~MutexGuard() {
    if (_held) _mutex.unlock();
  }
  MutexGuard(const MutexGuard&) = delete;
  MutexGuard& operator=(const MutexGuard&) = delete;
  bool held() const { return _held; }

 private:
  Mutex& _mutex;
  bool _held;
};

}  // namespace QUOR

#endif  // QUORPOLICY_INCLUDE_QUORMUTEX_H_
