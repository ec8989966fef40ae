// Object pools: ZoReusableObject (an object that can be handed out again)
// and ZoObjectPool (a pool that makes objects on demand up to a limit, keeps
// returned ones idle and releases those idle past their expiry time).
//
// A subclass of ZoObjectPool says how objects are made (_create) and
// released (_release), and calls clear() in its own destructor (the base
// destructor cannot reach the subclass's _release). The pool owns every
// object it made until it releases it; a caller owns a borrowed object until
// it returns it with returnObject().
//
// Thread safety: every public operation may be called from any thread.
#ifndef QUORPOLICY_INCLUDE_ZOOBJECTPOOL_H_
#define QUORPOLICY_INCLUDE_ZOOBJECTPOOL_H_

#include <list>
#include <mutex>
#include <string>

#include "QuorExport.h"

namespace QUOR {

class QUOR_COMMON_API ZoReusableObject {
 public:
  ZoReusableObject() {}
  ZoReusableObject(const ZoReusableObject& other) : _expiryTime(other._expiryTime) {}
  ZoReusableObject& operator=(const ZoReusableObject& other) {
    _expiryTime = other._expiryTime;
    return *this;
  }
  // Makes the object ready for its next borrower (called when it returns).
  virtual void recycle() = 0;
  // When an idle object may be released: seconds since the epoch; 0 never.
  long getExpirtTime() const { return _expiryTime; }
  void setExpiryTime(long when) { _expiryTime = when; }

 protected:
  // Not virtual: objects are released by their pool, which knows their type.
  ~ZoReusableObject() {}
  long _expiryTime = 0;
};

class QUOR_COMMON_API ZoObjectPool {
 public:
  // `initPoolSize` objects are made by init() and kept even when idle past
  // their expiry; at most `maxPoolSize` exist at once (0: no limit); a
  // returned object may be released `idleSeconds` after its return (0: never).
  ZoObjectPool(const char* name, int initPoolSize, int maxPoolSize, long idleSeconds)
      : _name(name != nullptr ? name : ""),
        _initSize(initPoolSize > 0 ? initPoolSize : 0),
        _maxSize(maxPoolSize > 0 ? maxPoolSize : 0),
        _idleSeconds(idleSeconds > 0 ? idleSeconds : 0) {}
  ZoObjectPool(const ZoObjectPool&) = delete;
  ZoObjectPool& operator=(const ZoObjectPool&) = delete;
  // REQUIRES: the subclass's destructor has called clear().
  virtual ~ZoObjectPool() {}

  // Makes the initial objects. Returns false when one could not be made
  // (those made stay).
  bool init();
  // Lends an idle valid object, or makes one below the limit. Null when the
  // limit is reached or making failed. Invalid idle objects are released.
  ZoReusableObject* getObject();
  // Takes a borrowed object back: recycles it and keeps it idle. Returns
  // false (changing nothing) for an object this pool did not lend.
  bool returnObject(ZoReusableObject* object);
  // Releases idle objects whose expiry time has passed, keeping the initial
  // number. Returns how many were released.
  int releaseExpired() { return _releaseExpiryObjects(); }
  // Releases every object, borrowed ones included.
  void clear();

  const char* getPoolName() const { return _name.c_str(); }
  int getPoolSize() const {
    std::lock_guard lock(_mutex);
    return static_cast<int>(_busy.size() + _idle.size());
  }
  int getIdleSize() const {
    std::lock_guard lock(_mutex);
    return static_cast<int>(_idle.size());
  }
  int getInitPoolSize() const { return _initSize; }

 protected:
  virtual ZoReusableObject* _create() = 0;
  virtual void _release(ZoReusableObject* object) = 0;
  virtual int _releaseExpiryObjects();
  virtual bool _isValid(const ZoReusableObject* object) { return object != nullptr; }

 private:
  std::string _name;
  int _initSize;
  int _maxSize;
  long _idleSeconds;
  mutable std::mutex _mutex;
  std::list<ZoReusableObject*> _busy;  // lent out
  std::list<ZoReusableObject*> _idle;  // most recently returned first
};

}  // namespace QUOR

#endif  // QUORPOLICY_INCLUDE_ZOOBJECTPOOL_H_
