#include "ZoObjectPool.h"

#include <algorithm>
#include <ctime>
#include <vector>

namespace QUOR {

bool ZoObjectPool::init() {
  for (;;) {
    {
      std::lock_guard lock(_mutex);
      if (static_cast<int>(_busy.size() + _idle.size()) >= _initSize) return true;
    }
    ZoReusableObject* object = _create();
    if (object == nullptr) return false;
    std::lock_guard lock(_mutex);
    _idle.push_back(object);
  }
}

ZoReusableObject* ZoObjectPool::getObject() {
  std::vector<ZoReusableObject*> invalid;
  ZoReusableObject* found = nullptr;
  {
    std::lock_guard lock(_mutex);
    while (!_idle.empty() && found == nullptr) {
      ZoReusableObject* candidate = _idle.front();
      _idle.pop_front();
      if (_isValid(candidate)) {
        found = candidate;
        _busy.push_back(found);
      } else {
        invalid.push_back(candidate);
      }
    }
  }
  for (ZoReusableObject* object : invalid) _release(object);
  if (found != nullptr) return found;

  {
    std::lock_guard lock(_mutex);
    // Reserve the place so that concurrent callers respect the limit.
    if (_maxSize > 0 && static_cast<int>(_busy.size() + _idle.size()) >= _maxSize) return nullptr;
    _busy.push_back(nullptr);
  }
  ZoReusableObject* made = _create();
  std::lock_guard lock(_mutex);
  auto reserved = std::find(_busy.begin(), _busy.end(), nullptr);
  if (made == nullptr) {
    _busy.erase(reserved);
  } else {
    *reserved = made;
  }
  return made;
}

bool ZoObjectPool::returnObject(ZoReusableObject* object) {
  if (object == nullptr) return false;
  {
    std::lock_guard lock(_mutex);
    auto it = std::find(_busy.begin(), _busy.end(), object);
    if (it == _busy.end()) return false;
    _busy.erase(it);
  }
  object->recycle();
  object->setExpiryTime(_idleSeconds > 0 ? static_cast<long>(std::time(nullptr)) + _idleSeconds
                                         : 0);
  std::lock_guard lock(_mutex);
  _idle.push_front(object);
  return true;
}

int ZoObjectPool::_releaseExpiryObjects() {
  const long now = static_cast<long>(std::time(nullptr));
  std::vector<ZoReusableObject*> expired;
  {
    std::lock_guard lock(_mutex);
    int keep = _initSize - static_cast<int>(_busy.size());
    // The least recently returned objects are at the back; release those first.
    for (auto it = _idle.end(); it != _idle.begin();) {
      --it;
      if (static_cast<int>(_idle.size()) <= std::max(keep, 0)) break;
      long when = (*it)->getExpirtTime();
      if (when != 0 && when <= now) {
        expired.push_back(*it);
        it = _idle.erase(it);
      }
    }
  }
  for (ZoReusableObject* object : expired) _release(object);
  return static_cast<int>(expired.size());
}

void ZoObjectPool::clear() {
  std::list<ZoReusableObject*> all;
  {
    std::lock_guard lock(_mutex);
    all.splice(all.end(), _idle);
    all.splice(all.end(), _busy);
  }
  for (ZoReusableObject* object : all) {
    if (object != nullptr) _release(object);
  }
}

}  // namespace QUOR
