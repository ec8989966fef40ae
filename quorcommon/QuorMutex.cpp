#include "QuorMutex.h"

#include <cstring>
#include <filesystem>

#include "PolicyLog.h"
#include "port/Port.h"
#include "port/PortFile.h"
#include "quorcommon/detail/Files.h"

namespace QUOR {

QuorMutex::~QuorMutex() {}

int QuorMutex::Lock() {
  if (_owner.load() == std::this_thread::get_id()) return -1;
  _mutex.lock();
  _owner.store(std::this_thread::get_id());
  return 0;
}

int QuorMutex::Unlock() {
  if (_owner.load() != std::this_thread::get_id()) return -1;
  _owner.store(std::thread::id());
  _mutex.unlock();
  return 0;
}

struct QuorNamedMutex::FileHandle {
  explicit FileHandle(std::string path) : lock(std::move(path)) {}
  quor::port::FileLock lock;
};

namespace {
std::string lockFileFor(const char* name) {
  std::string clean = name != nullptr && *name != '\0' ? name : "default";
  for (char& c : clean) {
    bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                c == '.' || c == '-' || c == '_';
    if (!keep) c = '_';
  }
  std::string root = quor::common::detail::quorHomeDir();
  if (!root.empty()) {
    std::filesystem::path dir = std::filesystem::path(root) / "locks";
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    return (dir / (clean + ".lock")).string();
  }
  return (std::filesystem::temp_directory_path() / ("quor-" + clean + ".lock")).string();
}
}  // namespace

QuorNamedMutex::QuorNamedMutex(const char* name)
    : _path(lockFileFor(name)), _file(std::make_unique<FileHandle>(_path)) {}

QuorNamedMutex::~QuorNamedMutex() {}

int QuorNamedMutex::Lock() {
  if (_local.Lock() != 0) return -1;
  int err = _file->lock.lock();
  if (err != 0) {
    _local.Unlock();
    PolicyLog::log(PolicyLog::Error, "QuorNamedMutex::Lock: could not lock %s: %s", _path.c_str(),
                   std::strerror(err));
    return err;
  }
  return 0;
}

int QuorNamedMutex::Unlock() {
  // The file lock is dropped while the local lock is still held, so no other
  // thread of this process can see the file lock as its own.
  if (!_local.isHeldByCurrentThread()) return -1;
  _file->lock.unlock();
  _local.Unlock();
  return 0;
}

int QuorRWLock::readLock() {
  _rw.lock_shared();
  _countMutex.Lock();
  ++_readers;
  _countMutex.Unlock();
  return 0;
}

int QuorRWLock::readUnlock() {
  _countMutex.Lock();
  --_readers;
  _countMutex.Unlock();
  _rw.unlock_shared();
  return 0;
}

int QuorRWLock::writeLock() {
  _rw.lock();
  return 0;
}

int QuorRWLock::writeUnlock() {
  _rw.unlock();
  return 0;
}

int QuorRWLock::readerCount() {
  _countMutex.Lock();
  int count = _readers;
  _countMutex.Unlock();
  return count;
}

bool Mutex::lock() {
  _mutex.lock();
  return true;
}

bool Mutex::unlock() {
  _mutex.unlock();
  return true;
}

}  // namespace QUOR
