#include "ZoLockableClass.h"

#include <cstring>
#include <new>

#include "PolicyLog.h"
#include "ZoIndexedString.h"
#include "ZoWildcardEmail.h"
#include "strings/detail/LockOnInitQueue.h"

using quor::detail::LockOnInitQueue;

ZoLockableClass::ZoLockableClass(bool lockOnInit) : locked(false) {
  if (lockOnInit) ZoWildcardEmail::_addToLockOnInit(this);
}

ZoLockableClass::ZoLockableClass(const ZoLockableClass& other) : locked(other.locked) {}

ZoLockableClass& ZoLockableClass::operator=(const ZoLockableClass& other) {
  locked = other.locked;
  return *this;
}

ZoLockableClass::~ZoLockableClass() { LockOnInitQueue::remove(this); }

bool ZoLockableClass::isLocked() const { return locked; }

void ZoLockableClass::_lock() { locked = true; }

// ---------------------------------------------------------------------------

namespace {
int compareBytes(const char* a, const char* b) {
  const auto* x = reinterpret_cast<const unsigned char*>(a != nullptr ? a : "");
  const auto* y = reinterpret_cast<const unsigned char*>(b != nullptr ? b : "");
  while (*x != 0 && *x == *y) {
    ++x;
    ++y;
  }
  return *x < *y ? -1 : (*x > *y ? 1 : 0);
}

bool isStaticHandle(const ZoIndexedString* p) {
  return p == ZoStringtable::getConstEmptyIndexedString() ||
         p == ZoStringtable::getConstWildcardIndexedString();
}

// The table gave no handle for the name: say so; the caller names the object
// by the empty handle. A null table never gets here: its deep copy reports
// its own failure.
void logNoTableReference(const char* text, bool textIsNull, unsigned long index) {
  if (textIsNull) {
    PolicyLog::log(PolicyLog::Error,
                   "ZoListedEmailAddress - _returnCopyIfSameAs: predicate is NULL; cmp is NULL.");
  } else {
    PolicyLog::log(
        PolicyLog::Error,
        "ZoListedEmailAddress - _returnCopyIfSameAs: predicate is NULL; cmp is %s , %lu.",
        text != nullptr ? text : "NULL string", index);
  }
}
}  // namespace

ZoIndexedStringNamedClass::ZoIndexedStringNamedClass(ZoStringtable* table,
                                                     const ZoIndexedString* name)
    : _name(_lookupAndCheckName(name, table)), _stringtable(table) {}

ZoIndexedStringNamedClass::ZoIndexedStringNamedClass(ZoStringtable* table, const char* name)
    : _name(_lookupAndCheckName(name, table)), _stringtable(table) {}

ZoIndexedStringNamedClass::~ZoIndexedStringNamedClass() {
  if (!_releaseName(_name)) {
    if (_name == nullptr) {
      PolicyLog::log(PolicyLog::Error,
                     "~ZoIndexedStringNamedClass: Failed to cleanup _name reference: NULL");
    } else {
      PolicyLog::log(PolicyLog::Error,
                     "~ZoIndexedStringNamedClass: Failed to cleanup _name reference: %s , %lu",
                     _name->getIdentifier() != nullptr ? _name->getIdentifier() : "NULL string",
                     static_cast<unsigned long>(_name->getIndex()));
    }
  }
}

bool ZoIndexedStringNamedClass::_releaseName(const ZoIndexedString* name) {
  if (isStaticHandle(name)) return true;
  return ZoStringtable::cleanupReference(name);
}

const ZoIndexedString* ZoIndexedStringNamedClass::_subEmptyForNull(const ZoIndexedString* p) {
  return p != nullptr ? p : ZoStringtable::getConstEmptyIndexedString();
}

char* ZoIndexedStringNamedClass::_inferName(const char* address) {
  if (address == nullptr) return nullptr;
  const char* at = std::strchr(address, '@');
  const size_t length = at != nullptr ? static_cast<size_t>(at - address) : std::strlen(address);
  char* out = new char[length + 1];
  std::memcpy(out, address, length);
  out[length] = '\0';
  return out;
}

const ZoIndexedString* ZoIndexedStringNamedClass::_lookupAndCheckName(const ZoIndexedString* name,
                                                                      ZoStringtable* table) const {
  if (table == nullptr) return _subEmptyForNull(ZoIndexedString::deepCopy(name));
  if (_subEmptyForNull(name)->isInStringtable())
    return _subEmptyForNull(table->getStringtableRef(name));
  const ZoIndexedString* result = table->getStringtableRef(name);
  // The table did not take the text (a locked table without it): copy it.
  if (result != nullptr && result == name) result = ZoIndexedString::deepCopy(name);
  if (result == nullptr) {
    logNoTableReference(name != nullptr ? name->getIdentifier() : nullptr, name == nullptr,
                        name != nullptr ? static_cast<unsigned long>(name->getIndex()) : 0UL);
  }
  return _subEmptyForNull(result);
}

const ZoIndexedString* ZoIndexedStringNamedClass::_lookupAndCheckName(const char* name,
                                                                      ZoStringtable* table) const {
  const ZoIndexedString wrapper(name);
  if (table == nullptr) return _subEmptyForNull(ZoIndexedString::deepCopy(&wrapper));
  const ZoIndexedString* result = table->getStringtableRef(&wrapper);
  if (result == &wrapper) result = ZoIndexedString::deepCopy(&wrapper);
  if (result == nullptr)
    logNoTableReference(name, name == nullptr, static_cast<unsigned long>(wrapper.getIndex()));
  return _subEmptyForNull(result);
}

const ZoIndexedString& ZoIndexedStringNamedClass::getName() const {
  return *_subEmptyForNull(_name);
}
const ZoIndexedString* ZoIndexedStringNamedClass::getNameAsPtr() const {
  return _subEmptyForNull(_name);
}
const char* ZoIndexedStringNamedClass::getNameAsStr() const {
  return _name != nullptr ? _name->getIdentifier() : nullptr;
}

int ZoIndexedStringNamedClass::_compareText(const char* s) const {
  return compareBytes(_subEmptyForNull(_name)->getIdentifier(), s);
}
int ZoIndexedStringNamedClass::_compareHandle(const ZoIndexedString& s) const {
  return _subEmptyForNull(_name)->_internalCompare(s);
}

bool ZoIndexedStringNamedClass::operator==(const char* s) const { return _compareText(s) == 0; }
bool ZoIndexedStringNamedClass::operator!=(const char* s) const { return _compareText(s) != 0; }
bool ZoIndexedStringNamedClass::operator<(const char* s) const { return _compareText(s) < 0; }
bool ZoIndexedStringNamedClass::operator<=(const char* s) const { return _compareText(s) <= 0; }
bool ZoIndexedStringNamedClass::operator>(const char* s) const { return _compareText(s) > 0; }
bool ZoIndexedStringNamedClass::operator>=(const char* s) const { return _compareText(s) >= 0; }
bool ZoIndexedStringNamedClass::operator==(const ZoIndexedString& s) const {
  return _compareHandle(s) == 0;
}
bool ZoIndexedStringNamedClass::operator!=(const ZoIndexedString& s) const {
  return _compareHandle(s) != 0;
}
bool ZoIndexedStringNamedClass::operator<(const ZoIndexedString& s) const {
  return _compareHandle(s) < 0;
}
bool ZoIndexedStringNamedClass::operator<=(const ZoIndexedString& s) const {
  return _compareHandle(s) <= 0;
}
bool ZoIndexedStringNamedClass::operator>(const ZoIndexedString& s) const {
  return _compareHandle(s) > 0;
}
bool ZoIndexedStringNamedClass::operator>=(const ZoIndexedString& s) const {
  return _compareHandle(s) >= 0;
}
bool ZoIndexedStringNamedClass::operator==(const ZoIndexedStringNamedClass& o) const {
  return _compareHandle(*_subEmptyForNull(o._name)) == 0;
}
bool ZoIndexedStringNamedClass::operator!=(const ZoIndexedStringNamedClass& o) const {
  return _compareHandle(*_subEmptyForNull(o._name)) != 0;
}
bool ZoIndexedStringNamedClass::operator<(const ZoIndexedStringNamedClass& o) const {
  return _compareHandle(*_subEmptyForNull(o._name)) < 0;
}
bool ZoIndexedStringNamedClass::operator<=(const ZoIndexedStringNamedClass& o) const {
  return _compareHandle(*_subEmptyForNull(o._name)) <= 0;
}
bool ZoIndexedStringNamedClass::operator>(const ZoIndexedStringNamedClass& o) const {
  return _compareHandle(*_subEmptyForNull(o._name)) > 0;
}
bool ZoIndexedStringNamedClass::operator>=(const ZoIndexedStringNamedClass& o) const {
  return _compareHandle(*_subEmptyForNull(o._name)) >= 0;
}
