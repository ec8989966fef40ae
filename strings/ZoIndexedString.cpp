#include "ZoIndexedString.h"

#include <cstring>
#include <new>

#include "PolicyLog.h"

namespace {
// -1, 0 or 1 from the unsigned bytes; a null text compares as "".
int compareBytes(const char* a, const char* b) {
  const auto* x = reinterpret_cast<const unsigned char*>(a != nullptr ? a : "");
  const auto* y = reinterpret_cast<const unsigned char*>(b != nullptr ? b : "");
  while (*x != 0 && *x == *y) {
    ++x;
    ++y;
  }
  return *x < *y ? -1 : (*x > *y ? 1 : 0);
}
}  // namespace

int ZoIndexedString::_compareText(const ZoIndexedString& o) const {
  if (identifier == o.identifier) return 0;
  return compareBytes(identifier, o.identifier);
}

int ZoIndexedString::explicitCompare(const ZoIndexedString& o) const {
  return compareBytes(identifier, o.identifier);
}

int ZoIndexedString::explicitCompare(const char* s) const { return compareBytes(identifier, s); }

ZoIndexedString* ZoIndexedString::deepCopy(const ZoIndexedString* s) {
  if (s == nullptr || s->identifier == nullptr) {
    PolicyLog::log(PolicyLog::Error,
                   "ZoIndexedString::deepCopy: argument or string wrapped by argument is NULL!");
    return nullptr;
  }
  const size_t length = std::strlen(s->identifier);
  char* copy = new (std::nothrow) char[length + 1]();
  if (copy == nullptr) {
    PolicyLog::log(
        PolicyLog::Error,
        "ZoIndexedString::deepCopy: could not allocate space for copy of wrapped string: %s.",
        s->identifier);
    return nullptr;
  }
  std::memcpy(copy, s->identifier, length);
  auto* handle = new (std::nothrow) ZoIndexedString(copy);
  if (handle == nullptr) {
    delete[] copy;
    PolicyLog::log(
        PolicyLog::Error,
        "ZoIndexedString::deepCopy: could not allocate space for copy of wrapped string: %s.",
        s->identifier);
    return nullptr;
  }
  handle->index = PRIVATE_DATA_COPY;
  return handle;
}

bool ZoIndexedString::_explicitCleanupString() {
  if (identifier == nullptr) return false;
  delete[] identifier;
  identifier = nullptr;
  index = NOT_IN_STRINGTABLE;
  return true;
}
