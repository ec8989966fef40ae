#include "QuorCommonUtil.h"

bool isNum(const char* text) {
  if (text == nullptr || *text == '\0') return false;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return false;
  }
  return true;
}

bool isValidPort(const char* text) {
  if (!isNum(text)) return false;
  // Leading zeros are allowed; stop as soon as the value leaves the range so
  // long texts cannot overflow.
  unsigned long value = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    value = value * 10 + static_cast<unsigned long>(*p - '0');
    if (value > 65535) return false;
  }
  return value >= 1;
}
