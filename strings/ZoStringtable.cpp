#include <new>

#include "PolicyLog.h"
#include "ZoIndexedString.h"
#include "strings/detail/StringtableStore.h"

using quor::detail::StringtableStore;

constinit ZoIndexedString ZoStringtable::_theEmptyIndexedString("");
constinit ZoIndexedString ZoStringtable::_theWildcardIndexedString("*");

ZoStringtable::ZoStringtable(unsigned int /*sizeHint*/)
    : ZoLockableClass(true), _store(std::make_unique<StringtableStore>()) {}

ZoStringtable::~ZoStringtable() {
  try {
    _store->releaseAll();
  } catch (...) {
    PolicyLog::log(PolicyLog::Error, "~ZoStringtable: ERROR: Exception caught in destructor!");
  }
}

ZoIndexedString* ZoStringtable::getEmptyIndexedString() { return &_theEmptyIndexedString; }
const ZoIndexedString* ZoStringtable::getConstEmptyIndexedString() {
  return &_theEmptyIndexedString;
}
ZoIndexedString* ZoStringtable::getWildcardIndexedString() { return &_theWildcardIndexedString; }
const ZoIndexedString* ZoStringtable::getConstWildcardIndexedString() {
  return &_theWildcardIndexedString;
}

const ZoIndexedString* ZoStringtable::_lookup(std::string_view text) const noexcept {
  return _store->find(text);
}

const ZoIndexedString* ZoStringtable::_addToStringtable(const ZoIndexedString* s) {
  if (s == nullptr) {
    PolicyLog::log(PolicyLog::Error,
                   "ZoStringtable::_addToStringtable: the argument for insertion is NULL!");
    return nullptr;
  }
  const char* text = s->identifier != nullptr ? s->identifier : "";
  if (isLocked()) {
    PolicyLog::log(
        PolicyLog::Error,
        "ZoStringtable::_addToStringtable: warning: an attempt was made to add to a locked "
        "stringtable and not caught by ZoStringtable::getStringtableRef. Data: %s, %lu.",
        text, static_cast<unsigned long>(s->index));
    return nullptr;
  }
  bool inserted = false;
  const ZoIndexedString* added = nullptr;
  try {
    added = _store->findOrInsert(text, inserted);
  } catch (const std::bad_alloc&) {
    added = nullptr;
  }
  if (added != nullptr && !inserted) {
    const ZoIndexedString* present = added;
    if (present == s && s->isNotInStringtable()) {
      PolicyLog::log(
          PolicyLog::Error,
          "ZoStringtable::_addToStringtable: looking up the entry in the stringtable returned the "
          "original entry. However, the entry is not in the stringtable : %s, %lu. Insertion "
          "failed.",
          text, static_cast<unsigned long>(s->index));
    }
    return present;
  }
  if (added == nullptr) {
    PolicyLog::log(
        PolicyLog::Error,
        "ZoStringtable::_addToStringtable: could not allocate memory for inserting %s , %lu into a "
        "stringtable. Insertion failed.",
        text, static_cast<unsigned long>(s->index));
    return nullptr;
  }
  return added;
}

const ZoIndexedString* ZoStringtable::_addToStringtable(const char* s) {
  if (s == nullptr) return _addToStringtable(static_cast<const ZoIndexedString*>(nullptr));
  const ZoIndexedString wrapper(s);
  return _addToStringtable(&wrapper);
}

const ZoIndexedString* ZoStringtable::_findInStringtable(const ZoIndexedString* s) const {
  if (s == nullptr) {
    PolicyLog::log(PolicyLog::Error,
                   "ZoStringtable::_findInStringtable: the search argument (const ZoIndexedString "
                   "*) is NULL!");
    return nullptr;
  }
  return _store->find(s->identifier != nullptr ? s->identifier : "");
}

const ZoIndexedString* ZoStringtable::_findInStringtable(const char* s) const {
  if (s == nullptr) {
    PolicyLog::log(
        PolicyLog::Error,
        "ZoStringtable::_findInStringtable: the search argument (const char *) is NULL!");
    return nullptr;
  }
  return _store->find(s);
}

const ZoIndexedString* ZoStringtable::getStringtableRef(const ZoIndexedString* s) {
  if (s == nullptr || s->identifier == nullptr) {
    PolicyLog::log(
        PolicyLog::Error,
        "ZoStringtable::getStringtableRef(const ZoIndexedString *): could not insert argument into "
        "stringtable because the argument or the string it wraps is NULL!");
    return s;
  }
  if (!isLocked()) {
    const ZoIndexedString* element = _addToStringtable(s);
    if (element == nullptr) {
      PolicyLog::log(PolicyLog::Error,
                     "ZoStringtable::getStringtableRef(const ZoIndexedString *): could not insert "
                     "argument into "
                     "stringtable : %s, %lu",
                     s->identifier, static_cast<unsigned long>(s->index));
      return s;
    }
    return element;
  }
  const ZoIndexedString* element = _findInStringtable(s);
  return element != nullptr ? element : s;
}

const ZoIndexedString* ZoStringtable::getStringtableRef(const char* s) {
  if (s == nullptr) {
    PolicyLog::log(PolicyLog::Error,
                   "ZoStringtable::getStringtableRef(const char *): could not insert argument into "
                   "stringtable "
                   "because the argument is NULL!");
    return nullptr;
  }
  if (isLocked()) return getRef(s);
  const ZoIndexedString wrapper(s);
  const ZoIndexedString* element = getStringtableRef(&wrapper);
  if (element != nullptr && element != &wrapper) return element;
  PolicyLog::log(
      PolicyLog::Error,
      "ZoStringtable::getStringtableRef(const char *): warning: could not insert argument into "
      "stringtable or the reference returned by the ZoIndexedString * version of this method is on "
      "the "
      "stack. Allocating new copy of %s; memory leak may result.",
      s);
  return new ZoIndexedString(s);
}

const ZoIndexedString& ZoStringtable::getStringtableRef(const ZoIndexedString& s) {
  return *getStringtableRef(&s);
}

const ZoIndexedString* ZoStringtable::getRef(const ZoIndexedString* s) const {
  const ZoIndexedString* element = _findInStringtable(s);
  return element != nullptr ? element : s;
}

const ZoIndexedString* ZoStringtable::getRef(const char* s) const {
  if (s != nullptr) {
    if (const ZoIndexedString* element = _store->find(s)) return element;
  } else {
    PolicyLog::log(
        PolicyLog::Error,
        "ZoStringtable::_findInStringtable: the search argument (const char *) is NULL!");
  }
  return new ZoIndexedString(s);
}

bool ZoStringtable::cleanupReference(const ZoIndexedString* h) {
  if (h == nullptr) return false;
  return cleanupReference(const_cast<ZoIndexedString*>(h));
}

bool ZoStringtable::cleanupReference(ZoIndexedString* h) {
  if (h == nullptr) return false;
  if (h->isInStringtable()) return true;
  if (h->index == ZoIndexedString::NOT_IN_STRINGTABLE) {
    delete h;
    return true;
  }
  const bool hadText = h->_explicitCleanupString();
  delete h;
  return hadText;
}

bool ZoStringtable::_deepDelete(const ZoIndexedString* h) {
  if (h == nullptr) return false;
  return _deepDelete(const_cast<ZoIndexedString*>(h));
}

bool ZoStringtable::_deepDelete(ZoIndexedString* h) {
  if (h == nullptr) return false;
  if (h->isInStringtable()) return true;
  const bool hadText = h->_explicitCleanupString();
  delete h;
  return hadText;
}

void ZoStringtable::lock() {
  if (isLocked()) {
    PolicyLog::log(
        PolicyLog::Error,
        "ZoStringtable::lock: warning: attempt made to lock a locked stringtable. Ignoring...");
    return;
  }
  const size_t counter = _store->numberInByteOrder(ZoIndexedString::INDEX_LIMIT);
  // No element is added from now on: the look-up index needs no more room.
  _store->fitIndex();
  if (counter == ZoIndexedString::INDEX_LIMIT) {
    PolicyLog::log(PolicyLog::Error,
                   "ZoStrintable::lock: index exceeded maximum allowed. Remainder of strings will "
                   "be unindexed. "
                   "Loss of optimizations likely, but functionality should still be preseng");
  }
  locked = true;
}
