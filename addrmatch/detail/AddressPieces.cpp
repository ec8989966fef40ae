#include "addrmatch/detail/AddressPieces.h"

#include <cstring>
#include <new>
#include <string_view>

namespace quor::detail {

void AddressPieces::parse(const ZoStringtable* table, const char* address, bool lowerAll) {
  _table = table;
  _user = nullptr;
  _handleCount = 0;
  while (!_labels.empty()) _labels.pop();
  if (address == nullptr) address = "";
  if (address[0] == '*' && address[1] == '\0') address = "*@*";
  const size_t length = std::strlen(address);
  if (length + 1 <= sizeof _inlineText) {
    _pieces = _inlineText;
  } else {
    _heapText.resize(length);  // its terminator is the copy's
    _pieces = _heapText.data();
  }
  if (lowerAll) {
    for (size_t i = 0; i <= length; ++i) _pieces[i] = lowerAscii(address[i]);
  } else {
    std::memcpy(_pieces, address, length + 1);
  }

  const char* at = static_cast<const char*>(std::memchr(_pieces, '@', length));
  // Wrappers needed at most: one per label plus the user part (plus one for
  // the no-at-sign form).
  size_t labels = 1;
  if (at != nullptr) {
    for (const char* p = at + 1; *p != '\0'; ++p) labels += (*p == '.');
  }
  const size_t handles = labels + 2;
  if (handles <= kInlineHandles) {
    _handles = reinterpret_cast<ZoIndexedString*>(_inlineHandles);
  } else {
    _heapHandles = std::make_unique<unsigned char[]>(handles * sizeof(ZoIndexedString));
    _handles = reinterpret_cast<ZoIndexedString*>(_heapHandles.get());
  }

  if (at == nullptr) {
    // Read as text@.text: labels "" then the text, user part the text.
    const ZoIndexedString* empty = nullptr;
    if (_table != nullptr) {
      empty = _table->_lookup(std::string_view());
      if (empty == nullptr) empty = ZoStringtable::getConstEmptyIndexedString();
    } else {
      empty = piece(_pieces + length, 0);
    }
    _labels.push(empty);
    const ZoIndexedString* whole = piece(_pieces, length);
    _labels.push(whole);
    _user = whole;
    return;
  }

  char* cut = _pieces + (at - _pieces);
  *cut = '\0';
  char* label = cut + 1;
  for (;;) {
    char* end = label;
    while (*end != '\0' && *end != '.') {
      *end = lowerAscii(*end);
      ++end;
    }
    const bool last = (*end == '\0');
    *end = '\0';
    _labels.push(piece(label, static_cast<size_t>(end - label)));
    if (last) break;
    label = end + 1;
  }
  _user = piece(_pieces, static_cast<size_t>(cut - _pieces));
}

const ZoIndexedString* AddressPieces::piece(const char* text, size_t length) {
  if (_table != nullptr) {
    if (const ZoIndexedString* element = _table->_lookup(std::string_view(text, length)))
      return element;
  }
  return new (&_handles[_handleCount++]) ZoIndexedString(text);
}

}  // namespace quor::detail
